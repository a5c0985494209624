// The open sequence, the acknowledgement wait and the checked calls, watched
// through recording fakes of the driver.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CartridgeLink.h"
#include "FakeDriver.h"

namespace {

FT_HANDLE handle(std::uintptr_t n) { return reinterpret_cast<FT_HANDLE>(n); }

class LinkTest : public FakeLinkTest {
protected:
    void SetUp() override {
        FakeLinkTest::SetUp();
        link.deviceHandle = nullptr;
    }
};

// One call of the open sequence: name and the numeric arguments that matter.
struct Expected {
    std::string fn;
    std::uint32_t a0 = 0;
    std::uint32_t a1 = 0;
};

void expectCalls(const std::vector<FakeCall>& calls, const std::vector<Expected>& expected) {
    ASSERT_EQ(calls.size(), expected.size()) << testing::PrintToString(fakeDriver().sequence());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].fn, expected[i].fn) << "call " << i;
        EXPECT_EQ(calls[i].args[0], expected[i].a0) << calls[i].fn;
        EXPECT_EQ(calls[i].args[1], expected[i].a1) << calls[i].fn;
    }
}

const std::vector<Expected> kFullOpen = {
    {"FT_OpenEx", 2},           {"FT_ResetDevice"},          {"FT_SetTimeouts", 9000, 9000},
    {"FT_Purge", 1},            {"FT_SetUSBParameters", 4096, 65536}, {"FT_SetLatencyTimer", 2},
    {"FT_SetBitMode", 0xFF, 0x00}, {"sleep", 100},           {"FT_SetBitMode", 0xFF, 0x40},
};

// OpenCartridge's result when FT_OpenEx is not bound (not a driver status).
constexpr FT_STATUS kOpenExNotBound = 1;

TEST_F(LinkTest, OpenConfiguresTheDeviceInOrder) {
    ConsoleCapture console;
    EXPECT_EQ(link.OpenCartridge(), FT_OK);
    EXPECT_EQ(link.opened, 1);
    EXPECT_EQ(console.out(), "");
    expectCalls(fakeDriver().calls, kFullOpen);

    const auto opens = fakeDriver().callsOf("FT_OpenEx");
    EXPECT_EQ(std::string(opens[0].data.begin(), opens[0].data.end()), "Vexlo");
    for (const FakeCall& call : fakeDriver().calls) {
        if (call.fn != "FT_OpenEx" && call.fn != "sleep") {
            EXPECT_EQ(call.handle, handle(1)) << call.fn;
        }
    }
}

// Missing configuration entries are reported, skipped, and do not fail the open.
struct MissingCase {
    const char* name;
    std::function<void(CartridgeLink&)> unbind;
    const char* output;
    std::vector<Expected> calls;
};
void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }

const MissingCase kMissingCases[] = {
    {"bitModeMissing", [](CartridgeLink& l) { l.FT_SetBitMode = nullptr; },
     "Error: FT_SetBitMode is not valid!\nError: FT_SetBitMode is not valid!\n",
     {{"FT_OpenEx", 2}, {"FT_ResetDevice"}, {"FT_SetTimeouts", 9000, 9000}, {"FT_Purge", 1},
      {"FT_SetUSBParameters", 4096, 65536}, {"FT_SetLatencyTimer", 2}, {"sleep", 100}}},
    {"bindingStoppedAtListDevices", [](CartridgeLink& l) { unbindFrom(l, D2xxEntry::FT_ListDevices); },
     kOpenUnconfigured,
     {{"FT_OpenEx", 2}, {"sleep", 100}}},
};

class OpenWithMissingEntries : public LinkTest, public testing::WithParamInterface<MissingCase> {};

TEST_P(OpenWithMissingEntries, ReportsSkipsAndStillOpens) {
    const MissingCase& c = GetParam();
    c.unbind(link);
    ConsoleCapture console;
    EXPECT_EQ(link.OpenCartridge(), FT_OK);
    EXPECT_EQ(link.opened, 1);
    EXPECT_EQ(console.out(), c.output);
    expectCalls(fakeDriver().calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(Entries, OpenWithMissingEntries, testing::ValuesIn(kMissingCases), caseName<MissingCase>);

TEST_F(LinkTest, OpenFailsWithoutCartridge) {
    fakeDriver().openStatus = FT_DEVICE_NOT_FOUND;
    link.opened = 1;  // a failed open clears it
    ConsoleCapture console;
    EXPECT_EQ(link.OpenCartridge(), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(link.opened, 0);
    EXPECT_EQ(console.out(), "");
    EXPECT_EQ(fakeDriver().sequence(), std::vector<std::string>{"FT_OpenEx"});
}

TEST_F(LinkTest, OpenFailsWithoutOpenEx) {
    link.FT_OpenEx = nullptr;
    ConsoleCapture console;
    EXPECT_EQ(link.OpenCartridge(), kOpenExNotBound);
    EXPECT_EQ(link.opened, 0);
    EXPECT_EQ(console.out(), "Error: FT_OpenEx is not valid!\n");
    EXPECT_TRUE(fakeDriver().calls.empty());
}

TEST_F(LinkTest, ReopenRepeatsTheSequenceAndReplacesTheHandle) {
    ASSERT_EQ(link.OpenCartridge(), FT_OK);
    link.Close();
    const std::size_t firstRun = fakeDriver().calls.size();
    ASSERT_EQ(link.OpenCartridge(), FT_OK);
    EXPECT_EQ(link.deviceHandle, handle(2));

    const std::vector<FakeCall> second(fakeDriver().calls.begin() + firstRun, fakeDriver().calls.end());
    expectCalls(second, kFullOpen);
    EXPECT_EQ(fakeDriver().callsOf("FT_Close")[0].handle, handle(1));
    for (const FakeCall& call : second) {
        if (call.fn != "FT_OpenEx" && call.fn != "sleep") {
            EXPECT_EQ(call.handle, handle(2)) << call.fn;
        }
    }
}

// Replies scripted per call: status and count of each FT_Write and FT_Read.
struct Step {
    FT_STATUS status;
    DWORD count;
};

struct AckCase {
    const char* name;
    std::vector<Step> writes;
    std::vector<Step> reads;
    std::vector<std::string> sequence;
};
void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }

const AckCase kAckCases[] = {
    {"zeroReplyEndsIt", {{FT_OK, 3}}, {{FT_OK, 1}}, {"FT_Write", "FT_Read"}},
    {"unansweredPollIsResent",
     {{FT_OK, 3}, {FT_OK, 3}},
     {{FT_OK, 0}, {FT_OK, 1}},
     {"FT_Write", "FT_Read", "FT_Write", "FT_Read"}},
    {"failedReadIsResent",
     {{FT_OK, 3}, {FT_OK, 3}},
     {{FT_IO_ERROR, 1}, {FT_OK, 1}},
     {"FT_Write", "FT_Read", "FT_Write", "FT_Read"}},
    {"failedHeaderIsResentWithoutRead",
     {{FT_IO_ERROR, 3}, {FT_OK, 2}, {FT_OK, 3}},
     {{FT_OK, 1}},
     {"FT_Write", "FT_Write", "FT_Write", "FT_Read"}},
};

class WaitAckTest : public LinkTest, public testing::WithParamInterface<AckCase> {};

TEST_P(WaitAckTest, PollsUntilAnyByteArrives) {
    const AckCase& c = GetParam();
    link.deviceHandle = handle(1);
    std::size_t writes = 0;
    std::size_t reads = 0;
    fakeDriver().onWrite = [&](const std::uint8_t*, DWORD, DWORD* written) {
        if (writes >= c.writes.size()) throw std::runtime_error("too many writes");
        *written = c.writes[writes].count;
        return c.writes[writes++].status;
    };
    fakeDriver().onRead = [&](std::uint8_t* data, DWORD, DWORD* got) {
        if (reads >= c.reads.size()) throw std::runtime_error("too many reads");
        data[0] = 0;  // a zero byte is an answer like any other
        *got = c.reads[reads].count;
        return c.reads[reads++].status;
    };
    WaitAck(link);
    EXPECT_EQ(fakeDriver().sequence(), c.sequence);
    for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) {
        EXPECT_EQ(call.data, bytes({0x53, 0x59, 0x07}));
    }
    for (const FakeCall& call : fakeDriver().callsOf("FT_Read")) {
        EXPECT_EQ(call.args[0], 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, WaitAckTest, testing::ValuesIn(kAckCases), caseName<AckCase>);

struct CheckedCase {
    const char* name;
    const char* message;
    std::function<void(CartridgeLink&)> unbind;
    std::function<CallResult(CartridgeLink&)> call;
};
void PrintTo(const CheckedCase& c, std::ostream* os) { *os << c.name; }

// Where the calls below write; their contents do not matter.
DWORD n = 0;
DWORD t = 0;
DWORD e = 0;
std::uint8_t buffer[4] = {};

const CheckedCase kCheckedCases[] = {
    {"Write", "Error: FT_Write is not valid!\n", [](CartridgeLink& l) { l.FT_Write = nullptr; },
     [](CartridgeLink& l) { return l.Write(buffer, 4, &n); }},
    {"Read", "Error: FT_Read is not valid!\n", [](CartridgeLink& l) { l.FT_Read = nullptr; },
     [](CartridgeLink& l) { return l.Read(buffer, 1, &n); }},
    {"GetStatus", "Error: FT_GetStatus is not valid!\n", [](CartridgeLink& l) { l.FT_GetStatus = nullptr; },
     [](CartridgeLink& l) { return l.GetStatus(&n, &t, &e); }},
    {"Close", "Error: FT_Close is not valid!\n", [](CartridgeLink& l) { l.FT_Close = nullptr; },
     [](CartridgeLink& l) {
         l.Close();
         return CallResult{false, 0};
     }},
};

class CheckedCallTest : public LinkTest, public testing::WithParamInterface<CheckedCase> {};

TEST_P(CheckedCallTest, ReportsMissingEntryAndSkips) {
    const CheckedCase& c = GetParam();
    c.unbind(link);
    ConsoleCapture console;
    EXPECT_FALSE(c.call(link).called);
    EXPECT_EQ(console.out(), c.message);
    EXPECT_TRUE(fakeDriver().calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Entries, CheckedCallTest, testing::ValuesIn(kCheckedCases), caseName<CheckedCase>);

TEST_F(LinkTest, WriteHeaderNeedsAllThreeBytes) {
    link.deviceHandle = handle(1);
    const Step steps[] = {{FT_OK, 3}, {FT_OK, 2}, {FT_IO_ERROR, 3}};
    const bool sent[] = {true, false, false};
    for (std::size_t i = 0; i < 3; ++i) {
        fakeDriver().onWrite = [&](const std::uint8_t*, DWORD, DWORD* written) {
            *written = steps[i].count;
            return steps[i].status;
        };
        EXPECT_EQ(link.WriteHeader(12), sent[i]) << i;
    }
    for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) {
        EXPECT_EQ(call.data, bytes({0x53, 0x59, 0x0C}));
    }
}

}  // namespace
