// --batch against the cartridge emulator: the same bytes reach the cartridge
// in far fewer writes, for the sample, the synthetic top.xsvf and every
// corpus file, and the real program completes with it or stops at once when
// a batched write fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "BatchComparison.h"
#include "Corpus.h"
#include "ProgramRun.h"
#include "SyntheticTop.h"
#include "XsvfText.h"

namespace {

std::vector<std::uint8_t> sampleXsvf() {
    std::vector<std::uint8_t> xsvf;
    std::string error;
    EXPECT_TRUE(assembleXsvf(readFile(std::string(SAMPLES_DIR) + "/top.xsvf.txt"), xsvf, error)) << error;
    return xsvf;
}

void compareModes(const std::string& name, const std::vector<std::uint8_t>& xsvf) {
    const std::string dir = makeTestWorkDir("batch_");
    const BatchModeRun single = runBatchPlayer(BATCH_PLAYER, "single", dir, xsvf, EMULATOR_DIR);
    const BatchModeRun batched = runBatchPlayer(BATCH_PLAYER, "batch", dir, xsvf, EMULATOR_DIR);
    expectSameCartridgeTraffic(single, batched);
    std::cout << name << ": " << single.stream.size() << " bytes; single " << single.writes << " writes, "
              << single.reads << " reads; --batch " << batched.writes << " writes, " << batched.reads << " reads\n";
}

TEST(BatchE2e, SampleReachesTheCartridgeUnchanged) { compareModes("sample", sampleXsvf()); }

TEST(BatchE2e, SyntheticTopReachesTheCartridgeUnchanged) {
    compareModes("top.xsvf (synthetic)", testkit::syntheticTopXsvf(555, 14000, 15000000));
}

class BatchCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(BatchCorpus, ReachesTheCartridgeUnchanged) {
    const std::string source = (testkit::corpusDir() / "xsvf" / GetParam()).string();
    VEXLO_NEED_CORPUS(source);
    auto xsvf = readBytes(source);
    zeroXsvfTdoMasks(xsvf);
    compareModes(GetParam(), xsvf);
}

INSTANTIATE_TEST_SUITE_P(Files, BatchCorpus, ::testing::ValuesIn(testkit::corpusXsvfFiles),
                         [](const auto& info) { return testkit::corpusCaseName(info.param); });

// ------------------------------------------------------------------ the program

ProgramResult runUpdate(const std::string& dir, const std::vector<std::string>& args, const std::string& config) {
    ProgramRun run = emulatedRun(FPGA_PROGRAM, dir, args, EMULATOR_DIR, config);
    run.input = "\n";
    return runProgram(run);
}

std::vector<std::string> scansOnly(const std::string& dir) {
    std::vector<std::string> lines = jtagRecord(dir);
    // The summary counts the clocks of real-time waits, which vary.
    std::erase_if(lines, [](const std::string& l) { return l.rfind("JTAG:", 0) == 0; });
    return lines;
}

TEST(BatchE2e, ProgramWithBatchCompletesWithTheSameScans) {
    const std::string dir = makeTestWorkDir("batch_");
    std::string outs[2];
    for (int batch = 0; batch < 2; ++batch) {
        const std::string runDir = dir + (batch ? "/batch" : "/single");
        std::filesystem::create_directories(runDir);
        writeBytes(runDir + "/top.xsvf", sampleXsvf());
        const auto r = runUpdate(runDir, batch ? std::vector<std::string>{"--batch"} : std::vector<std::string>{}, "");
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        outs[batch] = maskTimes(r.out);
    }
    EXPECT_EQ(outs[1], outs[0]);
    EXPECT_NE(outs[1].find("Completed FPGA update."), std::string::npos);
    EXPECT_EQ(scansOnly(dir + "/batch"), scansOnly(dir + "/single"));
}

// The emulator's write_fail and write_short spoil one write: batched, the
// run ends there with the message and status 7 instead of going on blind.
struct SpoiltWrite {
    const char* name;
    const char* config;
    const char* why;
};

void PrintTo(const SpoiltWrite& c, std::ostream* os) { *os << c.name; }

const SpoiltWrite kSpoiltWrites[] = {
    {"failing", "write_fail=2", "driver error"},
    {"short", "write_short=3", "short write"},
};

class BatchSpoiltWrite : public ::testing::TestWithParam<SpoiltWrite> {};

TEST_P(BatchSpoiltWrite, EndsTheRunWithStatus7) {
    const SpoiltWrite& c = GetParam();
    const std::string dir = makeTestWorkDir("batch_");
    writeBytes(dir + "/top.xsvf", sampleXsvf());
    const auto r = runUpdate(dir, {"--batch"}, c.config);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err.rfind("VexloFPGAUpdate: a batched write to the cartridge failed (", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Completed FPGA update."), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Emulator, BatchSpoiltWrite, ::testing::ValuesIn(kSpoiltWrites),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
