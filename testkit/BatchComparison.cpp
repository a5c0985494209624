#include "BatchComparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

BatchModeRun runBatchPlayer(const std::string& player, const std::string& mode, const std::string& dir,
                            const std::vector<std::uint8_t>& xsvf, const std::string& libraryDir,
                            const std::string& emulatorSettings) {
    BatchModeRun run;
    run.dir = dir + "/" + mode;
    std::filesystem::create_directories(run.dir);
    writeBytes(run.dir + "/top.xsvf", xsvf);
    ProgramRun program = emulatedRun(player, run.dir, {mode, "top.xsvf", "stream.bin"}, libraryDir, emulatorSettings);
    program.timeoutSeconds = 240;
    run.result = runProgram(program);
    const std::string out = run.result.out;
    const auto at = out.rfind("writes ");
    unsigned long long writes = 0, reads = 0, bytes = 0;
    if (at != std::string::npos &&
        std::sscanf(out.c_str() + at, "writes %llu reads %llu bytes %llu", &writes, &reads, &bytes) == 3) {
        run.writes = writes;
        run.reads = reads;
    }
    run.stream = readBytes(run.dir + "/stream.bin");
    EXPECT_EQ(run.stream.size(), bytes) << mode;
    return run;
}

std::vector<std::string> jtagRecord(const std::string& runDir) {
    std::vector<std::string> lines;
    std::istringstream log(readFile(runDir + "/out/emulator.log"));
    for (std::string line; std::getline(log, line);) {
        if (line.find("JTAG IDCODE read") != std::string::npos ||
            (line.find("JTAG ") != std::string::npos && line.find(" scan, ") != std::string::npos)) {
            lines.push_back(line);
        }
    }
    std::istringstream summary(readFile(runDir + "/out/summary.txt"));
    for (std::string line; std::getline(summary, line);) {
        if (line.rfind("JTAG:", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

void expectSameCartridgeTraffic(const BatchModeRun& single, const BatchModeRun& batched) {
    for (const BatchModeRun* run : {&single, &batched}) {
        ASSERT_FALSE(run->result.timedOut) << run->dir;
        EXPECT_EQ(run->result.status, 0) << run->dir << "\n" << run->result.err;
        EXPECT_EQ(run->result.err, "") << run->dir;
        EXPECT_NE(run->result.out.find("Completed FPGA update."), std::string::npos) << run->dir;
    }
    ASSERT_FALSE(single.stream.empty());
    EXPECT_EQ(batched.stream.size(), single.stream.size());
    const std::size_t common = std::min(single.stream.size(), batched.stream.size());
    const auto diff = std::mismatch(single.stream.begin(), single.stream.begin() + static_cast<long>(common),
                                    batched.stream.begin());
    EXPECT_EQ(static_cast<std::size_t>(diff.first - single.stream.begin()), common)
        << "the streams differ from byte " << (diff.first - single.stream.begin());
    const std::vector<std::string> scans = jtagRecord(single.dir);
    EXPECT_FALSE(scans.empty());
    EXPECT_EQ(jtagRecord(batched.dir), scans);
    EXPECT_LT(batched.writes, single.writes);
    EXPECT_LE(batched.reads, single.reads);
}
