// The run in a few lines, for the end of the log and summary.txt: opens,
// writes, replies, each upload, the JTAG totals, the Atari's result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EmulatorLog.h"
#include "JtagPort.h"
#include "JtagScanReport.h"
#include "UploadStore.h"

struct RunTotals {
    std::uint32_t opens = 0;
    std::uint32_t writes = 0;
    std::uint32_t replies = 0;
    std::vector<SavedUpload> uploads;
    PinFrameCounts pins;
    JtagScanTotals scans;
    bool atariShown = false;        // an Atari was asked for or made requests
    std::uint32_t atariRequests = 0;
    const char* atariScript = "";   // "not run", "succeeded", "FAILED", "stopped"
};

std::vector<std::string> summaryLines(const RunTotals& totals);

// Logs the lines under "Summary:"; with `toFile`, also writes them to
// <outDir>/summary.txt.
void writeRunSummary(const std::vector<std::string>& lines, EmulatorLog& log, const std::string& outDir, bool toFile);
