// The D2XX layer over a scripted wire: which device a description opens and
// what a user is told when it cannot, reads that wait for the whole count
// until their time-out, status polls, writes that report what the device
// took, transfer sizes in whole packets, handles and device lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "D2xxApi.h"
#include "ScriptedWire.h"
#include "TempFolder.h"

namespace {


class D2xxApi : public ::testing::Test {
protected:
    void SetUp() override {
        script() = Script{};
        hints_ = std::tmpfile();
        ASSERT_NE(hints_, nullptr);
    }
    void TearDown() override {
        if (handle != nullptr) {
            d2xx::close(ctx(), handle);
        }
        std::fclose(hints_);
    }
    D2xxContext ctx() const { return {&scriptedWire(), hints_}; }
    FT_STATUS openVexlo() {
        return d2xx::openEx(ctx(), const_cast<char*>("Vexlo"), FT_OPEN_BY_DESCRIPTION, &handle);
    }
    // Opens the one scripted device and sets D2XX's time-outs.
    void openWithTimeouts(ULONG readMs, ULONG writeMs) {
        if (script().devices.empty()) {
            script().devices.push_back({});
        }
        ASSERT_EQ(openVexlo(), FT_OK);
        ASSERT_EQ(d2xx::setTimeouts(ctx(), handle, readMs, writeMs), FT_OK);
    }
    std::string hints() const { return writtenSoFar(hints_); }

    FT_HANDLE handle = nullptr;
    std::FILE* hints_ = nullptr;
};

// ---- Finding the device by its description ----

struct MatchCase {
    const char* name;
    std::vector<ScriptedDevice> devices;
    const char* wanted;
    FT_STATUS status;
    int device;          // opened, or -1
    int channel;
    const char* hint;    // a part of the one hint line, or "" for none
};

ScriptedDevice dev(std::uint16_t pid, const char* description, int readResult = wireOk, int openResult = wireOk) {
    ScriptedDevice d;
    d.productId = pid;
    d.description = description;
    d.readResult = readResult;
    d.openResult = openResult;
    return d;
}

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class Matching : public D2xxApi, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(Matching, OpensTheRightChannelOrSaysWhy) {
    const MatchCase& c = GetParam();
    script().devices = c.devices;
    const FT_STATUS status = d2xx::openEx(ctx(), const_cast<char*>(c.wanted), FT_OPEN_BY_DESCRIPTION, &handle);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(script().opened, c.device);
    if (c.device >= 0) {
        EXPECT_EQ(script().openedChannel, c.channel);
        EXPECT_NE(handle, nullptr);
    } else {
        EXPECT_EQ(handle, nullptr);
    }
    const std::string text = hints();
    if (std::string(c.hint).empty()) {
        EXPECT_EQ(text, "");
    } else {
        EXPECT_NE(text.find(c.hint), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line: " << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Matching,
    ::testing::Values(
        MatchCase{"OnlyDevice", {dev(0x6014, "Vexlo")}, "Vexlo", FT_OK, 0, 0, ""},
        MatchCase{"NoDevice", {}, "Vexlo", FT_DEVICE_NOT_FOUND, -1, -1,
                  "libftd2xx: no FTDI USB device found; plug in the cartridge and switch the Atari on\n"},
        MatchCase{"OtherDescriptionFirst", {dev(0x6001, "FT232R USB UART"), dev(0x6014, "Vexlo")}, "Vexlo",
                  FT_OK, 1, 0, ""},
        MatchCase{"NoProductString", {dev(0x6014, "")}, "Vexlo", FT_DEVICE_NOT_FOUND, -1, -1,
                  "no FTDI USB device described \"Vexlo\"; found 1: \"\"; plug in the cartridge"},
        MatchCase{"OtherDevicesOnly", {dev(0x6001, "FT232R USB UART"), dev(0x6014, "Vex\nlo\xe9")}, "Vexlo",
                  FT_DEVICE_NOT_FOUND, -1, -1,
                  "found 2: \"FT232R USB UART\", \"Vex\\x0alo\\xe9\"; plug in the cartridge and switch the Atari on"},
        MatchCase{"PrefixIsNoMatch", {dev(0x6014, "Vexlo2"), dev(0x6014, "Vexl")}, "Vexlo", FT_DEVICE_NOT_FOUND, -1,
                  -1, "found 2: \"Vexlo2\", \"Vexl\";"},
        MatchCase{"UnreadableDeviceFirst", {dev(0x6014, "", wireAccessDenied), dev(0x6014, "Vexlo")}, "Vexlo",
                  FT_OK, 1, 0, ""},
        MatchCase{"RefusingTwinFirst", {dev(0x6014, "Vexlo", wireOk, wireBusy), dev(0x6014, "Vexlo")}, "Vexlo",
                  FT_OK, 1, 0, ""},
        MatchCase{"PermissionDenied", {dev(0x6014, "", wireAccessDenied)}, "Vexlo", FT_DEVICE_NOT_OPENED, -1, -1,
                  "tools/linux/70-vexlo-cartridge.rules"},
        MatchCase{"HeldByAnotherDriver", {dev(0x6014, "Vexlo", wireOk, wireBusy)}, "Vexlo", FT_DEVICE_NOT_OPENED,
                  -1, -1, "ftdi_sio"},
        MatchCase{"OpenFailsOtherwise", {dev(0x6014, "Vexlo", wireOk, wireIoError)}, "Vexlo",
                  FT_DEVICE_NOT_OPENED, -1, -1, "docs/LINUX.md"},
        MatchCase{"DualChannelNamesA", {dev(0x6010, "Vexlo")}, "Vexlo A", FT_OK, 0, 0, ""},
        MatchCase{"DualChannelNamesB", {dev(0x6010, "Vexlo")}, "Vexlo B", FT_OK, 0, 1, ""},
        MatchCase{"DualChannelPlainNameIsNoMatch", {dev(0x6010, "Vexlo")}, "Vexlo", FT_DEVICE_NOT_FOUND, -1, -1,
                  "found 2: \"Vexlo A\", \"Vexlo B\";"},
        MatchCase{"QuadChannelD", {dev(0x6001, "Vexlo"), dev(0x6011, "Vexlo")}, "Vexlo D", FT_OK, 1, 3, ""},
        MatchCase{"SingleChannelChipsTakeNoSuffix", {dev(0x6015, "Vexlo")}, "Vexlo", FT_OK, 0, 0, ""}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST_F(D2xxApi, EnumerationFailureIsNotFoundWithAHint) {
    script().listResult = wireIoError;
    EXPECT_EQ(openVexlo(), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(hints().find("libftd2xx:"), std::string::npos);
}

TEST_F(D2xxApi, OpenBySerialAndByIndexCountChannels) {
    script().devices = {dev(0x6010, "Dual"), dev(0x6014, "Vexlo")};
    script().devices[0].serial = "FT01";
    EXPECT_EQ(d2xx::openEx(ctx(), const_cast<char*>("FT01B"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    EXPECT_EQ(script().openedChannel, 1);
    ASSERT_EQ(d2xx::close(ctx(), handle), FT_OK);
    handle = nullptr;
    EXPECT_EQ(d2xx::open(ctx(), 2, &handle), FT_OK);  // Dual A, Dual B, then Vexlo
    EXPECT_EQ(script().opened, 1);
    ASSERT_EQ(d2xx::close(ctx(), handle), FT_OK);
    handle = nullptr;
    EXPECT_EQ(hints(), "");
    EXPECT_EQ(d2xx::open(ctx(), 3, &handle), FT_DEVICE_NOT_FOUND);
    // By number the strings are not read: the count only.
    EXPECT_EQ(hints(), "libftd2xx: no FTDI USB device number 3; found 3; plug in the cartridge and switch the Atari on\n");
    EXPECT_EQ(d2xx::openEx(ctx(), nullptr, FT_OPEN_BY_DESCRIPTION, &handle), FT_INVALID_PARAMETER);
    EXPECT_NE(d2xx::openEx(ctx(), const_cast<char*>("Vexlo"), 4, &handle), FT_OK);
}

TEST_F(D2xxApi, ListsCountDescriptionsAndSerials) {
    script().devices = {dev(0x6010, "Dual"), dev(0x6014, "Vexlo")};
    script().devices[0].serial = "FT01";
    DWORD count = 0;
    ASSERT_EQ(d2xx::listDevices(ctx(), &count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 3u);

    char name[FT_NAME_BUFFER_SIZE] = {};
    ASSERT_EQ(d2xx::listDevices(ctx(), reinterpret_cast<void*>(std::uintptr_t{1}), name,
                                FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_OK);
    EXPECT_STREQ(name, "Dual B");
    ASSERT_EQ(d2xx::listDevices(ctx(), reinterpret_cast<void*>(std::uintptr_t{0}), name,
                                FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_OK);
    EXPECT_STREQ(name, "FT01A");
    EXPECT_EQ(d2xx::listDevices(ctx(), reinterpret_cast<void*>(std::uintptr_t{3}), name,
                                FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_DEVICE_NOT_FOUND);

    char a[FT_NAME_BUFFER_SIZE], b[FT_NAME_BUFFER_SIZE], c[FT_NAME_BUFFER_SIZE];
    char* all[] = {a, b, c, nullptr};
    count = 0;
    ASSERT_EQ(d2xx::listDevices(ctx(), all, &count, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_STREQ(c, "Vexlo");
}

TEST_F(D2xxApi, LongDescriptionsAreCutToTheD2xxBuffer) {
    script().devices = {dev(0x6014, "")};
    script().devices[0].description = std::string(100, 'x');
    char name[FT_NAME_BUFFER_SIZE];
    // Index 0 travels as a null pointer.
    ASSERT_EQ(d2xx::listDevices(ctx(), nullptr, name, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_EQ(std::string(name), std::string(63, 'x'));
    char* all[] = {name, nullptr};
    DWORD count = 0;
    ASSERT_EQ(d2xx::listDevices(ctx(), all, &count, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_EQ(std::string(name), std::string(63, 'x'));
}

// ---- Reading ----

TEST_F(D2xxApi, ReadWaitsForTheWholeCountAcrossTransfers) {
    openWithTimeouts(9000, 9000);
    script().in = {{1}, {}, {2, 3}};
    std::uint8_t buf[3] = {};
    DWORD got = 0;
    ASSERT_EQ(d2xx::read(ctx(), handle, buf, 3, &got), FT_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 3), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(D2xxApi, ReadTimeOutReturnsOkWithWhatArrivedAtTheDeadline) {
    openWithTimeouts(100, 100);
    script().in = {{7}};
    const std::int64_t start = script().now;
    std::uint8_t buf[4] = {};
    DWORD got = 99;
    ASSERT_EQ(d2xx::read(ctx(), handle, buf, 4, &got), FT_OK);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buf[0], 7);
    EXPECT_GE(script().now - start, 100);
    EXPECT_LT(script().now - start, 100 + script().latencyMs + 1);
}

TEST_F(D2xxApi, BytesBeyondTheCountStayForTheNextReadWithoutARoundTrip) {
    openWithTimeouts(9000, 9000);
    script().in = {{1, 2, 3, 4}};
    std::uint8_t b = 0;
    DWORD got = 0;
    ASSERT_EQ(d2xx::read(ctx(), handle, &b, 1, &got), FT_OK);
    EXPECT_EQ(b, 1);
    const int reads = script().reads;
    DWORD rx = 0, tx = 9, events = 9;
    ASSERT_EQ(d2xx::getStatus(ctx(), handle, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(rx, 3u);
    EXPECT_EQ(tx, 0u);
    EXPECT_EQ(events, 0u);
    std::uint8_t rest[3];
    ASSERT_EQ(d2xx::read(ctx(), handle, rest, 3, &got), FT_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(rest[2], 4);
    EXPECT_EQ(script().reads, reads) << "queued bytes need no transfer";
}

TEST_F(D2xxApi, IdleStatusPollIsOneTransferOfOneLatencyPeriod) {
    openWithTimeouts(9000, 9000);
    const std::int64_t start = script().now;
    DWORD rx = 5;
    ASSERT_EQ(d2xx::getQueueStatus(ctx(), handle, &rx), FT_OK);
    EXPECT_EQ(rx, 0u);
    EXPECT_EQ(script().reads, 1);
    EXPECT_EQ(script().now - start, script().latencyMs);
    script().in = {{0x53, 0x59, 10}};
    ASSERT_EQ(d2xx::getStatus(ctx(), handle, &rx, nullptr, nullptr), FT_OK);
    EXPECT_EQ(rx, 3u);
}

TEST_F(D2xxApi, ReadErrorsAreStatusesWithTheCountSoFar) {
    openWithTimeouts(9000, 9000);
    script().in = {{5}};
    script().readError = wireNoDevice;
    std::uint8_t buf[2];
    DWORD got = 0;
    EXPECT_EQ(d2xx::read(ctx(), handle, buf, 2, &got), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(got, 1u);
    script().readError = wireIoError;
    DWORD rx = 0;
    EXPECT_EQ(d2xx::getStatus(ctx(), handle, &rx, nullptr, nullptr), FT_IO_ERROR);
    EXPECT_EQ(rx, 0u);
}

TEST_F(D2xxApi, PurgeOfTheReceiveSideDropsBufferedBytes) {
    openWithTimeouts(50, 50);
    script().in = {{1, 2, 3}};
    std::uint8_t b;
    DWORD got;
    ASSERT_EQ(d2xx::read(ctx(), handle, &b, 1, &got), FT_OK);
    ASSERT_EQ(d2xx::purge(ctx(), handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(script().calls.back(), "purge rx");
    ASSERT_EQ(d2xx::read(ctx(), handle, &b, 1, &got), FT_OK);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(d2xx::purge(ctx(), handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(script().calls.back(), "purge rx tx");
}

// ---- Writing ----

TEST_F(D2xxApi, WriteCutByATimeOutReportsWhatTheDeviceTook) {
    openWithTimeouts(9000, 9000);
    script().writes = {{5, wireTimeout}};
    std::uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    DWORD written = 99;
    EXPECT_EQ(d2xx::write(ctx(), handle, data, 10, &written), FT_OK);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(script().writeTimeouts.at(0), 9000u);
    script().writes = {{0, wireTimeout}};
    EXPECT_EQ(d2xx::write(ctx(), handle, data, 10, &written), FT_OK);
    EXPECT_EQ(written, 0u) << "a stall reports no bytes";
}

TEST_F(D2xxApi, WriteSplitsIntoOutTransfersAndCountsAcrossThem) {
    openWithTimeouts(9000, 9000);
    ASSERT_EQ(d2xx::setUSBParameters(ctx(), handle, 4096, 512), FT_OK);
    std::vector<std::uint8_t> data(1300);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    DWORD written = 0;
    ASSERT_EQ(d2xx::write(ctx(), handle, data.data(), 1300, &written), FT_OK);
    EXPECT_EQ(written, 1300u);
    EXPECT_EQ(script().writeSizes, (std::vector<int>{512, 512, 276}));
    EXPECT_EQ(script().written, data);

    script().writeSizes.clear();
    script().writes = {{512, wireOk}, {100, wireIoError}};
    EXPECT_EQ(d2xx::write(ctx(), handle, data.data(), 1300, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 612u);
}

TEST_F(D2xxApi, LaterTransfersOfOneWriteShareItsTimeOut) {
    openWithTimeouts(9000, 1000);
    ASSERT_EQ(d2xx::setUSBParameters(ctx(), handle, 512, 512), FT_OK);
    std::vector<std::uint8_t> data(1024);
    script().writes = {{512, wireOk}};
    script().now += 0;
    DWORD written = 0;
    // The scripted device takes no time on the first transfer; the second
    // gets what is left of the write's time-out.
    ASSERT_EQ(d2xx::write(ctx(), handle, data.data(), 1024, &written), FT_OK);
    ASSERT_EQ(script().writeTimeouts.size(), 2u);
    EXPECT_EQ(script().writeTimeouts[1], 1000u);
}

// ---- Settings ----

struct RoundCase {
    ULONG requested;
    int packet;
    DWORD expected;
};

void PrintTo(const RoundCase& c, std::ostream* os) { *os << c.requested << " at " << c.packet; }

class Rounding : public ::testing::TestWithParam<RoundCase> {};

TEST_P(Rounding, ToWholePacketsWithinD2xxBounds) {
    EXPECT_EQ(d2xx::roundTransferSize(GetParam().requested, GetParam().packet), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Rounding,
                         ::testing::Values(RoundCase{4096, 512, 4096}, RoundCase{65536, 512, 65536},
                                           RoundCase{6400, 512, 6656}, RoundCase{6400, 64, 6400},
                                           RoundCase{1, 512, 512}, RoundCase{0, 64, 64},
                                           RoundCase{513, 512, 1024}, RoundCase{70000, 512, 65536},
                                           RoundCase{65535, 64, 65536}),
                         [](const ::testing::TestParamInfo<RoundCase>& info) {
                             return std::to_string(info.param.requested) + "_packet" +
                                    std::to_string(info.param.packet);
                         });

TEST_F(D2xxApi, UsbParametersReachTheWireInWholePackets) {
    script().devices = {dev(0x6014, "Vexlo")};
    script().devices[0].packetSize = 64;
    ASSERT_EQ(openVexlo(), FT_OK);
    ASSERT_EQ(d2xx::setUSBParameters(ctx(), handle, 100, 65536), FT_OK);
    EXPECT_EQ(script().inSize, 128u);
    EXPECT_EQ(script().outSize, 65536u);
}

TEST_F(D2xxApi, SettingsMapToTheWireAndBadValuesAreRefused) {
    openWithTimeouts(9000, 9000);
    script().calls.clear();
    EXPECT_EQ(d2xx::resetDevice(ctx(), handle), FT_OK);
    EXPECT_EQ(d2xx::setLatencyTimer(ctx(), handle, 2), FT_OK);
    EXPECT_EQ(d2xx::setBitMode(ctx(), handle, 0xff, FT_BITMODE_SYNC_FIFO), FT_OK);
    EXPECT_EQ(d2xx::setFlowControl(ctx(), handle, FT_FLOW_RTS_CTS, 0x11, 0x13), FT_OK);
    EXPECT_EQ(d2xx::setBaudRate(ctx(), handle, 115200), FT_OK);
    EXPECT_EQ(d2xx::setDataCharacteristics(ctx(), handle, 8, 0, 0), FT_OK);
    EXPECT_EQ(script().calls, (std::vector<std::string>{"reset", "latency 2", "bitmode 255 64", "flow 256",
                                                         "baud 115200", "line 8 0 0"}));
    EXPECT_EQ(d2xx::setLatencyTimer(ctx(), handle, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(d2xx::setFlowControl(ctx(), handle, 0x0300, 0, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(d2xx::setDataCharacteristics(ctx(), handle, 9, 0, 0), FT_INVALID_PARAMETER);
    EXPECT_NE(d2xx::setBaudRate(ctx(), handle, 0), FT_OK);
    EXPECT_EQ(script().calls.size(), 6u) << "refused values reach no device";
}

// ---- Handles ----

TEST_F(D2xxApi, UnknownAndClosedHandlesAreRefused) {
    openWithTimeouts(9000, 9000);
    FT_HANDLE stale = handle;
    ASSERT_EQ(d2xx::close(ctx(), handle), FT_OK);
    handle = nullptr;
    EXPECT_EQ(script().closed, 1);
    std::uint8_t b;
    DWORD n = 7;
    int local = 0;
    for (FT_HANDLE h : {stale, static_cast<FT_HANDLE>(nullptr), static_cast<FT_HANDLE>(&local)}) {
        EXPECT_EQ(d2xx::close(ctx(), h), FT_INVALID_HANDLE);
        EXPECT_EQ(d2xx::read(ctx(), h, &b, 1, &n), FT_INVALID_HANDLE);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(d2xx::write(ctx(), h, &b, 1, &n), FT_INVALID_HANDLE);
        EXPECT_EQ(d2xx::getStatus(ctx(), h, &n, &n, &n), FT_INVALID_HANDLE);
        EXPECT_EQ(d2xx::setBitMode(ctx(), h, 0xff, 0x40), FT_INVALID_HANDLE);
    }
    EXPECT_EQ(script().closed, 1);
}

// A call that takes a handle, made with `h` and every other argument zero
// (null pointers included): a refused handle must stop it before those.
template <typename... Rest>
FT_STATUS callWithHandle(FT_STATUS (*call)(const D2xxContext&, FT_HANDLE, Rest...), const D2xxContext& ctx,
                         FT_HANDLE h) {
    return call(ctx, h, Rest{}...);
}
// The calls that take no handle first; never made.
template <typename Call>
FT_STATUS callWithHandle(Call, const D2xxContext&, FT_HANDLE) {
    ADD_FAILURE() << "no handle to pass";
    return FT_OK;
}

TEST_F(D2xxApi, EveryCallThatTakesAHandleRefusesAStaleOrForeignOne) {
    openWithTimeouts(9000, 9000);
    const FT_HANDLE stale = handle;
    ASSERT_EQ(d2xx::close(ctx(), handle), FT_OK);
    handle = nullptr;
    const std::vector<std::string> callsBefore = script().calls;
    const int readsBefore = script().reads;
    int local = 0;
    int checked = 0;
    for (FT_HANDLE h : {stale, static_cast<FT_HANDLE>(nullptr), static_cast<FT_HANDLE>(&local)}) {
#define VEXLO_REFUSES_HANDLE(name, step, missing, params, args, method)                        \
    if (D2XX_ENTRIES[static_cast<int>(D2xxEntry::name)].takesDeviceHandle) {                    \
        EXPECT_EQ(callWithHandle(&d2xx::method, ctx(), h), FT_INVALID_HANDLE) << #name;         \
        ++checked;                                                                              \
    }
        VEXLO_D2XX_ENTRY_POINTS(VEXLO_REFUSES_HANDLE)
#undef VEXLO_REFUSES_HANDLE
    }
    const auto takingHandle = std::count_if(std::begin(D2XX_ENTRIES), std::end(D2XX_ENTRIES),
                                            [](const D2xxEntryInfo& e) { return e.takesDeviceHandle; });
    EXPECT_EQ(checked, 3 * takingHandle);
    EXPECT_EQ(script().calls, callsBefore) << "nothing reached a device";
    EXPECT_EQ(script().reads, readsBefore);
    EXPECT_EQ(script().closed, 1);
}

TEST_F(D2xxApi, MissingOutputPointersAreInvalidParameters) {
    openWithTimeouts(9000, 9000);
    std::uint8_t b = 0;
    EXPECT_EQ(d2xx::read(ctx(), handle, &b, 1, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(d2xx::write(ctx(), handle, &b, 1, nullptr), FT_INVALID_PARAMETER);
    DWORD n;
    EXPECT_EQ(d2xx::read(ctx(), handle, nullptr, 1, &n), FT_INVALID_PARAMETER);
    EXPECT_EQ(d2xx::getQueueStatus(ctx(), handle, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(d2xx::openEx(ctx(), const_cast<char*>("Vexlo"), FT_OPEN_BY_DESCRIPTION, nullptr),
              FT_INVALID_PARAMETER);
}

}  // namespace
