// The unchanged programs through the whole stack: our libftd2xx.so, the
// system's libftdi1, the fake libusb and the emulated cartridge behind it.
// Uploads byte for byte, a drive image read back by the emulated Atari, the
// corpus XSVF files, the open sequence as libftdi puts it on the wire, and
// the faults of the USB side: missing, unreadable, refusing and busy
// devices, read time-outs, writes cut short, full-speed packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "AtariDisk.h"
#include "BatchComparison.h"
#include "AtariImageFiles.h"
#include "Corpus.h"
#include "SyntheticTop.h"
#include "ProgramRun.h"
#include "XsvfText.h"

namespace fs = std::filesystem;

namespace {

const std::string LIBRARY_PATH = std::string(OPENDRIVER_DIR) + ":" + FAKEUSB_DIR;
const std::string COMPLETED = "Completed FPGA update.            \n";

std::string dirFor() { return makeTestWorkDir("opendriver_"); }

// One run of a program through the stack; the fake's log is dir/usb.log.
ProgramResult runThrough(const std::string& program, const std::string& dir, const std::vector<std::string>& args,
                         const std::string& usb, const std::string& emulator = "", const std::string& input = "",
                         int timeout = 60) {
    ProgramRun run = emulatedRun(program, dir, args, LIBRARY_PATH, emulator);
    run.input = input;
    run.timeoutSeconds = timeout;
    const std::string scenario = "log=" + dir + "/usb.log;" + usb;
    setenv("VEXLO_FAKE_USB", scenario.c_str(), 1);
    ProgramResult r = runProgram(run);
    unsetenv("VEXLO_FAKE_USB");
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        out.push_back(l);
    }
    return out;
}

std::size_t countStarting(const std::vector<std::string>& log, const std::string& prefix) {
    return static_cast<std::size_t>(
        std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// ------------------------------------------------------------------ uploads

struct UploadCase {
    const char* name;
    const char* usb;       // the fake's scenario
    const char* emulator;  // the emulated cartridge's settings
    const char* usbLogHas; // a line the fake must have logged, or ""
    std::size_t opens;     // times the cartridge's interface was claimed
};

void PrintTo(const UploadCase& c, std::ostream* os) { *os << c.name; }

class Uploads : public ::testing::TestWithParam<UploadCase> {};

TEST_P(Uploads, EveryUploadArrivesByteForByte) {
    const UploadCase& c = GetParam();
    const std::string dir = dirFor();
    const UploadSamples samples(70000);
    samples.writeTo(dir);
    const auto r = runThrough(VEXLO_PROGRAM, dir, UPLOAD_ALL_ARGS, c.usb, c.emulator);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(maskTimes(r.out), UPLOAD_ALL_OUTPUT);
    // The firmware sample is longer than the cartridge takes: only the warning.
    EXPECT_EQ(r.err, FIRMWARE_CUT);
    expectUploadsSaved(dir, samples);
    if (std::string(c.usbLogHas).size() != 0) {
        const auto log = lines(readFile(dir + "/usb.log"));
        EXPECT_NE(std::find(log.begin(), log.end(), c.usbLogHas), log.end()) << readFile(dir + "/usb.log");
    }
    const auto log = lines(readFile(dir + "/usb.log"));
    EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), "claim")), c.opens);
}

// Bulk OUT transfer 15 is the first 64 KB piece of the program's stream
// (81920 bytes, written in transfers of 65536 and 16384): before it come the
// power check and two polls, the firmware (header, body, poll), the prepare
// command and its poll, the debugger (header, count, stream, poll) and the
// program's header and count.
INSTANTIATE_TEST_SUITE_P(
    Stack, Uploads,
    ::testing::Values(UploadCase{"WillingCartridge", "", "", "", 1},
                      UploadCase{"FullSpeedPackets", "fullspeed", "", "", 1},
                      UploadCase{"AnotherFtdiDeviceFirst", "otherfirst", "", "", 1},
                      UploadCase{"RefusingDeviceFirst", "refusingfirst", "", "", 1},
                      UploadCase{"ProgramWriteTakenInPart", "partialwrite=15", "",
                                 "bulk-out 65536 accepted 32768 (time-out)", 1},
                      UploadCase{"ProgramWriteStallsAndTheDeviceIsReopened", "stallwrite=15", "",
                                 "bulk-out 65536 accepted 0 (time-out)", 2}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ open sequence

TEST(OpenDriverE2e, ControlRequestsOfTheOpenAreTheLinksOpenSequence) {
    const std::string dir = dirFor();
    writeBytes(dir + "/fw.bin", sampleBytes(16384, 9));
    const auto r = runThrough(VEXLO_PROGRAM, dir, {"-uc", "fw.bin"}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> control;
    for (const std::string& l : lines(readFile(dir + "/usb.log"))) {
        if (l.rfind("control ", 0) == 0 || l == "claim" || l == "release") {
            control.push_back(l);
        }
    }
    const std::vector<std::string> expected = {
        "claim",
        // libftdi's own, when it opens the device
        "control reset",
        "control baudrate 0x04e2 0x0201",
        // the link: reset, time-outs (no request), purge of the receive side,
        // USB parameters (no request), latency 2, bit mode reset, sync FIFO
        "control reset",
        "control tciflush",
        "control latency 2",
        "control bitmode 0xff 0x00",
        "control bitmode 0xff 0x40",
        "release",
    };
    EXPECT_EQ(control, expected);
    // The cartridge saw them as the driver calls the link makes.
    const std::string log = readFile(dir + "/out/emulator.log");
    const auto at = [&](const char* s) { return log.find(s); };
    ASSERT_NE(at("FT_ResetDevice"), std::string::npos) << log;
    EXPECT_LT(at("FT_ResetDevice"), at("FT_SetLatencyTimer"));
    EXPECT_NE(at("FT_SetBitMode(mask 0xff, mode 0x40) -> FT_OK, synchronous FIFO"), std::string::npos) << log;
}

// ------------------------------------------------------------------ faults

struct FaultCase {
    const char* name;
    const char* usb;
    const char* hint;  // part of the one line before the program's own, or "" for none
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class OpenFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OpenFaults, TheOpenFailsAsTheProgramReportsIt) {
    const FaultCase& c = GetParam();
    const std::string dir = dirFor();
    writeBytes(dir + "/fw.bin", sampleBytes(16384, 9));
    const auto r = runThrough(VEXLO_PROGRAM, dir, {"-uc", "fw.bin"}, c.usb);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    const auto errLines = lines(r.err);
    ASSERT_FALSE(errLines.empty());
    EXPECT_NE(errLines.back().find("Failed to open Vexlo cartridge."), std::string::npos) << r.err;
    if (std::string(c.hint).empty()) {
        EXPECT_EQ(errLines.size(), 1u) << r.err;
    } else {
        ASSERT_EQ(errLines.size(), 2u) << r.err;
        EXPECT_EQ(errLines[0].rfind("libftd2xx: ", 0), 0u) << r.err;
        EXPECT_NE(errLines[0].find(c.hint), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fileExists(dir + "/out/firmware.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Stack, OpenFaults,
    ::testing::Values(FaultCase{"NoDevice", "none", "no FTDI USB device found; plug in the cartridge and switch the Atari on"},
                      FaultCase{"NoProductString", "noproduct", "no FTDI USB device described \"Vexlo\"; found 1: \"\";"},
                      FaultCase{"PermissionDenied", "denied", "tools/linux/70-vexlo-cartridge.rules"},
                      FaultCase{"HeldByTheKernelDriver", "busy", "ftdi_sio"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenDriverE2e, UpdaterReportsAMissingCartridgeWithItsOwnLine) {
    const std::string dir = dirFor();
    const auto r = runThrough(FPGA_PROGRAM, dir, {}, "none", "", "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "libftd2xx: no FTDI USB device found; plug in the cartridge and switch the Atari on\n"
                     "Unable to option Vexlo cartridge.\n");
}

// The first cmdPollReady goes unanswered: the read waits out the link's
// 9000 ms and returns with nothing, and the link asks again.
TEST(OpenDriverE2e, ReadTimeOutEndsTheReadAndTheLinkAsksAgain) {
    const std::string dir = dirFor();
    writeBytes(dir + "/data.bin", sampleBytes(100, 4));
    const auto r = runThrough(VEXLO_PROGRAM, dir, {"-data", "data.bin"}, "", "ready_after=1", "", 60);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readBytes(dir + "/out/data.bin"), sampleBytes(100, 4));
    const std::string log = readFile(dir + "/out/emulator.log");
    EXPECT_NE(log.find("cmdPollReady"), std::string::npos);
    const auto usb = lines(readFile(dir + "/usb.log"));
    EXPECT_GE(countStarting(usb, "bulk-in idle x"), 1u);
}

// ------------------------------------------------------------------ drive image

TEST(OpenDriverE2e, TheAtariReadsEveryFileBackThroughTheServer) {
    using namespace atari_test;
    if (!haveImageTools()) {
        GTEST_SKIP() << "mkfs.fat or mcopy missing";
    }
    const fs::path dir = dirFor();
    const FileTree files = sampleTree();
    writeTree(files, dir / "src");
    ASSERT_TRUE(makeImage(MAKE_ATARI_IMAGE, "--size-mb 8 --sector-size 512", dir / "disk.img", dir / "src"));
    const auto r = runThrough(VEXLO_PROGRAM, dir.string(), {"-drvimg", "disk.img"}, "", "atari=list;readall", "", 120);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const fs::path got = dir / "out" / "atari";
    for (const auto& [name, content] : files) {
        ASSERT_TRUE(fs::is_regular_file(got / name)) << name;
        EXPECT_TRUE(readWhole(got / name) == content) << name << " differs";
    }
    // One sector request costs the link one IN transfer (the request) and
    // one OUT transfer (the reply): the driver adds no round trip.
    const auto out = lines(r.out);
    const std::size_t requests = countStarting(out, "read sector ");
    ASSERT_GT(requests, 10u);
    const auto usb = lines(readFile(dir / "usb.log"));
    const std::size_t before = 3;  // cmdGetPower and two cmdPollReady, each one OUT and one IN
    EXPECT_EQ(countStarting(usb, "bulk-in ") - countStarting(usb, "bulk-in idle"), requests + before);
    EXPECT_EQ(countStarting(usb, "bulk-out "), requests + before);
}

// ------------------------------------------------------------------ XSVF corpus

class Corpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Corpus, PlaysToCompletion) {
    const std::string source = (testkit::corpusDir() / "xsvf" / GetParam()).string();
    VEXLO_NEED_CORPUS(source);
    const std::string dir = dirFor();
    auto xsvf = readBytes(source);
    zeroXsvfTdoMasks(xsvf);
    writeBytes(dir + "/top.xsvf", xsvf);
    const auto r = runThrough(FPGA_PROGRAM, dir, {}, "totals", "", "\n", 240);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(COMPLETED), std::string::npos) << r.out.substr(r.out.size() > 400 ? r.out.size() - 400 : 0);
    EXPECT_EQ(r.out.find("ERROR"), std::string::npos);
    EXPECT_EQ(r.err, "");
    // One OUT transfer per FT_Write and one IN transfer per TDO reply, none
    // idle: the driver adds no round trip to the pin driver's.
    const std::string summary = readFile(dir + "/out/summary.txt");
    const auto writes = summary.find(" writes, ");
    ASSERT_NE(writes, std::string::npos) << summary;
    const auto numberBefore = [&](std::size_t end) {
        std::size_t start = summary.rfind(' ', end - 1) + 1;
        return summary.substr(start, end - start);
    };
    const std::string replies = summary.substr(writes + 9, summary.find(' ', writes + 9) - (writes + 9));
    const std::string expected = "totals: " + replies + " bulk-in with data, 0 bulk-in idle, " +
                                 numberBefore(writes) + " bulk-out";
    const auto usb = lines(readFile(dir + "/usb.log"));
    EXPECT_NE(std::find(usb.begin(), usb.end(), expected), usb.end()) << expected << "\n" << summary;
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus,
                         ::testing::ValuesIn(testkit::corpusXsvfFiles),
                         [](const auto& info) { return testkit::corpusCaseName(info.param); });

// The updater's pin commands single and batched (vexlo_batch_player, whose
// waits are one pass each): the same bytes reach the cartridge, and the
// fake's totals show the USB transfers each way takes.
class BatchModes : public ::testing::TestWithParam<const char*> {};

const char* const kBatchInputs[] = {"sample", "synthetic top.xsvf", testkit::corpusXsvfFiles[0],
                                    testkit::corpusXsvfFiles[1], testkit::corpusXsvfFiles[2]};

TEST_P(BatchModes, SameBytesInFewerTransfers) {
    const std::string input = GetParam();
    std::vector<std::uint8_t> xsvf;
    if (input == "sample") {
        std::string error;
        ASSERT_TRUE(assembleXsvf(readFile(SAMPLES_DIR "/top.xsvf.txt"), xsvf, error)) << error;
    } else if (input == "synthetic top.xsvf") {
        xsvf = testkit::syntheticTopXsvf(555, 14000, 15000000);
    } else {
        const std::string source = (testkit::corpusDir() / "xsvf" / input).string();
        VEXLO_NEED_CORPUS(source);
        xsvf = readBytes(source);
        zeroXsvfTdoMasks(xsvf);
    }
    const std::string dir = dirFor();
    std::string totals[2];
    BatchModeRun runs[2];
    for (int batch = 0; batch < 2; ++batch) {
        const std::string mode = batch ? "batch" : "single";
        const std::string usbLog = dir + "/" + mode + ".usb.log";
        setenv("VEXLO_FAKE_USB", ("log=" + usbLog + ";totals").c_str(), 1);
        runs[batch] = runBatchPlayer(BATCH_PLAYER, mode, dir, xsvf, LIBRARY_PATH);
        unsetenv("VEXLO_FAKE_USB");
        for (const std::string& line : lines(readFile(usbLog))) {
            if (line.rfind("totals: ", 0) == 0) {
                totals[batch] = line;
            }
        }
    }
    expectSameCartridgeTraffic(runs[0], runs[1]);
    ASSERT_FALSE(totals[0].empty());
    ASSERT_FALSE(totals[1].empty());
    unsigned long long in[2] = {}, idle[2] = {}, out[2] = {};
    for (int batch = 0; batch < 2; ++batch) {
        ASSERT_EQ(std::sscanf(totals[batch].c_str(), "totals: %llu bulk-in with data, %llu bulk-in idle, %llu bulk-out",
                              &in[batch], &idle[batch], &out[batch]),
                  3)
            << totals[batch];
    }
    // Single transfers: one IN per reply. A write takes one OUT transfer, or
    // several when it is longer than libftdi's chunk (block shifts, batches).
    EXPECT_EQ(in[0], runs[0].reads);
    EXPECT_GE(out[0], runs[0].writes);
    EXPECT_GE(out[1], runs[1].writes);
    EXPECT_EQ(idle[1], 0u);
    EXPECT_LT(out[1] * 20, out[0]) << "at least twenty times fewer OUT transfers";
    EXPECT_LE(in[1], in[0]);
    std::cout << GetParam() << " single: " << totals[0] << "; --batch: " << totals[1] << "\n";
}

INSTANTIATE_TEST_SUITE_P(Files, BatchModes, ::testing::ValuesIn(kBatchInputs),
                         [](const auto& info) { return testkit::corpusCaseName(info.param); });

}  // namespace
