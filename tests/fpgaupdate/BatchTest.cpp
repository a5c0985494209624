// Batched pin commands (--batch): the same bytes as single transfers, in few
// writes sent where the order of events needs them, and a run that stops at
// once when a batched write fails.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "CartridgeCommands.h"
#include "JtagDevice.h"
#include "JtagFake.h"
#include "PinDriver.h"
#include "TempFolder.h"
#include "Updater.h"
#include "UpdaterFixture.h"
#include "XsvfHandlers.h"
#include "XsvfText.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hexOf(const Bytes& data) {
    std::string text = "0x";
    for (std::uint8_t b : data) {
        static const char digits[] = "0123456789abcdef";
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// A 4097-bit block: 513 bytes, only the low bit of the first one used.
std::string blockVector() {
    Bytes data(513);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 29 + 3);
    }
    data[0] = 1;
    return hexOf(data);
}

// What one play left behind: the bytes and calls on the link, the result and
// what the JTAG model saw.
struct Played {
    Bytes written;
    std::vector<DWORD> writeSizes;
    std::vector<DWORD> readSizes;
    int result = -1;
    std::string out;
    std::string err;
    std::vector<JtagScan> scans;
};

// Records every byte and call on its way to the JTAG model.
Played* recording = nullptr;
JtagFake* model = nullptr;

FT_STATUS FT_API recordWrite(FT_HANDLE, void* buffer, DWORD count, DWORD* written) {
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    recording->written.insert(recording->written.end(), data, data + count);
    recording->writeSizes.push_back(count);
    model->write(data, count);
    *written = count;
    return FT_OK;
}

FT_STATUS FT_API recordRead(FT_HANDLE, void* buffer, DWORD count, DWORD* got) {
    recording->readSizes.push_back(count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        out[i] = model->read();
    }
    *got = count;
    return FT_OK;
}

class BatchTest : public UpdaterTest {
protected:
    // Plays `text` against a fresh JTAG model, batched or not.
    Played play(const std::string& text, bool batch, const JtagDeviceConfig& config = JtagDeviceConfig{}) {
        Played played;
        JtagDevice device(config);
        JtagFake cartridge(device);
        recording = &played;
        model = &cartridge;
        link.FT_Write = recordWrite;
        link.FT_Read = recordRead;
        setPinBatching(batch);
        pinShadow = 0;
        fpgaBlockCount = 0;
        useXsvfText(text);
        {
            ConsoleCapture console;
            played.result = playXsvf(*info);
            played.out = console.out();
            played.err = console.err();
        }
        played.scans = device.scans();
        EXPECT_FALSE(cartridge.framingError());
        recording = nullptr;
        model = nullptr;
        return played;
    }
};

void expectSameScans(const std::vector<JtagScan>& a, const std::vector<JtagScan>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a[i].ir, b[i].ir);
        EXPECT_EQ(a[i].tdi, b[i].tdi);
        EXPECT_EQ(a[i].tdo, b[i].tdo);
        EXPECT_EQ(a[i].updated, b[i].updated);
    }
}

struct SameBytesCase {
    const char* name;
    std::string listing;
    JtagDeviceConfig config;
    int result;
};

void PrintTo(const SameBytesCase& c, std::ostream* os) { *os << c.name; }

JtagDeviceConfig otherIdcode() {
    JtagDeviceConfig config;
    config.idcode = 0x12345679;
    return config;
}

std::string sampleListing() {
    std::ifstream in(SAMPLES_DIR "/top.xsvf.txt");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string kIdcode = "XSIR 8 0x01\nXSDRSIZE 32\nXTDOMASK 0xffffffff\nXSDRTDO 0x00000000 0x0ace50db\n";

const SameBytesCase kSameBytesCases[] = {
    {"sampleUsingEveryCommand", sampleListing(), {}, ERR_NONE},
    // A wrong IDCODE: the repeats through Pause-DR and their growing waits.
    {"idcodeMismatchWithRepeats", "XREPEAT 3\nXRUNTEST 100\n" + kIdcode + "XCOMPLETE\n", otherIdcode(),
     ERR_MAX_RETRIES},
    {"idcodeMismatchNoRepeats", kIdcode + "XCOMPLETE\n", otherIdcode(), ERR_TDO_MISMATCH},
    // Block shifts between pin traffic, ending in Shift-DR and leaving it.
    {"blockShifts", "XSIR 8 0x05\nXSDRSIZE 4097\nXSDRB " + blockVector() + "\nXSDRE " + blockVector() +
                        "\nXRUNTEST 2000\nXSDR " + blockVector() + "\nXCOMPLETE\n",
     {}, ERR_NONE},
    // Captures longer than the batch buffer: replies read buffer by buffer.
    {"longCapture", "XSIR 8 0x05\nXSDRSIZE 3000\nXSDR " + hexOf(Bytes(375, 0xA5)) + "\nXTDOMASK " +
                        hexOf(Bytes(375, 0xFF)) + "\nXSDRTDO " + hexOf(Bytes(375, 0x3C)) + " " +
                        hexOf(Bytes(375, 0xA5)) + "\nXCOMPLETE\n",
     {}, ERR_NONE},
    // A run that ends without XCOMPLETE still sends what it queued.
    {"endOfFileWithoutComplete", "XSIR 8 0x05\nXSDRSIZE 16\nXSDR 0x1234\n", {}, ERR_UNSUPPORTED_COMMAND},
};

class BatchSameBytes : public BatchTest, public testing::WithParamInterface<SameBytesCase> {};

TEST_P(BatchSameBytes, CartridgeGetsTheSameBytesInFewerWrites) {
    const SameBytesCase& c = GetParam();
    initXsvfInfo(*info);
    const Played single = play(c.listing, false, c.config);
    const Bytes singleCaptured(info->tdoCaptured.bytes, info->tdoCaptured.bytes + info->tdoCaptured.length);
    initXsvfInfo(*info);
    const Played batched = play(c.listing, true, c.config);
    const Bytes batchedCaptured(info->tdoCaptured.bytes, info->tdoCaptured.bytes + info->tdoCaptured.length);

    EXPECT_EQ(single.result, c.result) << single.out;
    EXPECT_EQ(batched.result, c.result) << batched.out;
    ASSERT_EQ(batched.written.size(), single.written.size());
    const auto diff = std::mismatch(single.written.begin(), single.written.end(), batched.written.begin());
    EXPECT_TRUE(diff.first == single.written.end()) << "first difference at byte "
                                                    << (diff.first - single.written.begin());
    expectSameScans(single.scans, batched.scans);
    EXPECT_EQ(batchedCaptured, singleCaptured);
    EXPECT_EQ(batched.out, single.out);
    EXPECT_EQ(batched.err, "");
    EXPECT_LT(batched.writeSizes.size(), single.writeSizes.size());
    EXPECT_LE(*std::max_element(batched.writeSizes.begin(), batched.writeSizes.end()), 16392u);
    // Every reply that was asked for was read, in fewer reads.
    const auto total = [](const std::vector<DWORD>& sizes) {
        std::uint64_t sum = 0;
        for (DWORD s : sizes) sum += s;
        return sum;
    };
    EXPECT_EQ(total(batched.readSizes), total(single.readSizes));
    EXPECT_LE(batched.readSizes.size(), single.readSizes.size());
}

INSTANTIATE_TEST_SUITE_P(Listings, BatchSameBytes, testing::ValuesIn(kSameBytesCases), caseName<SameBytesCase>);

// Where the batch goes out: the calls on the link in order, as "w<bytes>" and
// "r<bytes>".
std::vector<std::string> callPattern() {
    std::vector<std::string> pattern;
    for (const FakeCall& call : fakeDriver().calls) {
        if (call.fn == "FT_Write") {
            pattern.push_back("w" + std::to_string(call.args[0]));
        } else if (call.fn == "FT_Read") {
            pattern.push_back("r" + std::to_string(call.args[0]));
        }
    }
    return pattern;
}

TEST_F(BatchTest, PinChangesWaitUntilTheOrderOfEventsNeedsThem) {
    setPinBatching(true);
    writePins(0x02);
    writePins(0x00);
    EXPECT_TRUE(fakeDriver().calls.empty()) << "queued, not sent";
    // Before a reply is read: one write of all, then one read of all.
    static ShiftValue tdi;
    static ShiftValue captured;
    tdi.length = 1;
    tdi.bytes[0] = 0x05;
    fakeDriver().queueRx(tdoReplies({0x06}, 3));
    shiftBits(3, tdi, &captured, false);
    // 2 pin changes, then per bit: TDI, TCK low, cmdReadPins, TCK high.
    EXPECT_EQ(callPattern(), (std::vector<std::string>{"w" + std::to_string(2 * 4 + 3 * 15), "r3"}));
    EXPECT_EQ(captured.bytes[0], 0x06);
    // Before a timed wait: the queue first, then the wait's own 128-byte writes.
    fakeDriver().reset();
    installFakes(link);
    installFakeClock();
    fakeDriver().clockStepMs = 100;
    writePins(0x06);
    waitMicroseconds(0);
    EXPECT_EQ(callPattern(), (std::vector<std::string>{"w4", "w128"}));
    // Around a block shift: the queue, then the block as its own write.
    fakeDriver().reset();
    installFakes(link);
    writePins(0x02);
    tdi.length = 513;
    shiftBits(BLOCK_SHIFT_BITS, tdi, nullptr, true);
    EXPECT_EQ(callPattern(), (std::vector<std::string>{"w4", "w16392"}));
    // Nothing queued: no empty write.
    fakeDriver().reset();
    installFakes(link);
    flushPins();
    waitMicroseconds(-6000);
    EXPECT_EQ(callPattern(), (std::vector<std::string>{"w128"}));
}

TEST_F(BatchTest, AFullBufferGoesOutWithTheRepliesItAsksFor) {
    setPinBatching(true);
    static ShiftValue tdi;
    static ShiftValue captured;
    tdi.length = 250;  // 2000 bits of 15 bytes each
    std::fill(tdi.bytes, tdi.bytes + tdi.length, 0x5A);
    fakeDriver().queueRx(tdoReplies(Bytes(250, 0xC3), 2000));
    shiftBits(2000, tdi, &captured, false);
    const std::vector<FakeCall> writes = fakeDriver().callsOf("FT_Write");
    const std::vector<FakeCall> reads = fakeDriver().callsOf("FT_Read");
    ASSERT_EQ(writes.size(), reads.size());
    std::uint64_t sent = 0;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(writes[i].args[0], BATCH_BUFFER_BYTES);
        if (i + 1 < writes.size()) {
            EXPECT_GT(writes[i].args[0], BATCH_BUFFER_BYTES - 4);
        }
        // As many replies read as the write asked for.
        const auto& data = writes[i].data;
        std::size_t asked = 0;
        for (std::size_t b = 0; b + 2 < data.size(); ++b) {
            asked += data[b] == SYNC1 && data[b + 1] == SYNC2 && data[b + 2] == cmdReadPins ? 1 : 0;
        }
        EXPECT_EQ(reads[i].args[0], asked);
        sent += writes[i].args[0];
    }
    EXPECT_EQ(sent, 2000u * 15);
    EXPECT_EQ(Bytes(captured.bytes, captured.bytes + 250), Bytes(250, 0xC3));
}

TEST_F(BatchTest, MissingRepliesReadAsZero) {
    setPinBatching(true);
    static ShiftValue tdi;
    static ShiftValue captured;
    tdi.length = 1;
    tdi.bytes[0] = 0;
    captured.length = 1;
    captured.bytes[0] = 0xFF;
    fakeDriver().queueRx({0x10, 0x10});  // two of eight replies arrive
    shiftBits(8, tdi, &captured, false);
    EXPECT_EQ(captured.bytes[0], 0x03);
}

// A batched write that fails or comes up short ends the run at once: a
// message on standard error, nothing more sent, status 7.
struct FailureCase {
    const char* name;
    int failingWrite;  // 1-based
    FT_STATUS status;
    int shortBy;
    bool unbound;
    const char* why;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const FailureCase kFailureCases[] = {
    {"firstWriteFails", 1, FT_IO_ERROR, 0, false, "driver error, 0 of "},
    {"firstWriteShort", 1, FT_OK, 1, false, "short write, "},
    {"blockWriteFails", 2, FT_IO_ERROR, 0, false, "driver error, 0 of 16392 bytes"},
    {"captureWriteFails", 3, FT_IO_ERROR, 0, false, "driver error, 0 of "},
    {"lastWriteShort", 4, FT_OK, 5, false, "short write, "},
    {"noWriteEntryPoint", 1, FT_OK, 0, true, "FT_Write not bound, 0 of "},
};

class BatchFailure : public BatchTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(BatchFailure, EndsTheRunAtOnce) {
    const FailureCase& c = GetParam();
    TempFolder folder("vexlo-batch");
    const std::string path = (folder.path() / "top.xsvf").string();
    // Writes: the reset and IR shift, the block, the capture, the end.
    Bytes xsvf;
    std::string error;
    ASSERT_TRUE(assembleXsvf("XSIR 8 0x05\nXSDRSIZE 4097\nXSDR " + blockVector() + "\n" + kIdcode +
                                 "XSDRSIZE 8\nXSDR 0x12\nXCOMPLETE\n",
                             xsvf, error))
        << error;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(xsvf.data()),
                                                static_cast<std::streamsize>(xsvf.size()));
    int writes = 0;
    fakeDriver().onWrite = [&](const std::uint8_t*, DWORD count, DWORD* written) {
        // The open sequence writes nothing; count the batches only.
        ++writes;
        *written = count;
        if (writes == c.failingWrite) {
            *written = c.status == FT_OK ? count - static_cast<DWORD>(c.shortBy) : 0;
            return c.status;
        }
        return FT_OK;
    };
    if (c.unbound) {
        link.FT_Write = nullptr;
    }
    fakeDriver().queueRx(tdoReplies({0x0a, 0xce, 0x50, 0xdb}, 32));
    std::FILE* input = std::tmpfile();
    std::string argv0 = "VexloFPGAUpdate", batch = "--batch";
    std::string file = path;
    char* argv[] = {argv0.data(), batch.data(), file.data(), nullptr};
    ConsoleCapture console;
    const int status = updaterMain(link, 3, argv, input);
    std::fclose(input);
    EXPECT_EQ(status, UPDATE_LINK_LOST);
    const std::string err = console.err();
    EXPECT_EQ(err.rfind("VexloFPGAUpdate: a batched write to the cartridge failed (", 0), 0u) << err;
    EXPECT_NE(err.find(c.why), std::string::npos) << err;
    EXPECT_NE(err.find("the update stopped"), std::string::npos) << err;
    const std::string out = console.out();
    EXPECT_EQ(out.find("Completed FPGA update."), std::string::npos) << out;
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
    EXPECT_NE(out.find("Time to execute"), std::string::npos) << out;
    // Nothing after the failed write.
    if (!c.unbound) {
        EXPECT_EQ(writes, c.failingWrite);
    }
    EXPECT_TRUE(pinLinkLost());
}

INSTANTIATE_TEST_SUITE_P(Writes, BatchFailure, testing::ValuesIn(kFailureCases), caseName<FailureCase>);

// Without --batch every pin change stays two writes of its own.
TEST_F(BatchTest, DefaultModeKeepsSingleTransfers) {
    EXPECT_FALSE(pinBatching());
    writePins(0x04);
    flushPins();
    EXPECT_EQ(callPattern(), (std::vector<std::string>{"w3", "w1"}));
}

}  // namespace
