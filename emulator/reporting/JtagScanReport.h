// The JTAG scans the device model saw, one log line each, and their totals
// for the summary. A remote simulator shows no scans.
#pragma once

#include <cstdint>

#include "EmulatorLog.h"
#include "JtagDevice.h"

struct JtagScanTotals {
    std::uint64_t irScans = 0;
    std::uint64_t drScans = 0;
    std::uint64_t idcodeReads = 0;
};

class JtagScanReport {
public:
    // `model` is null for a remote simulator; it must outlive the report.
    explicit JtagScanReport(JtagDevice* model) : model_(model) {}

    // Logs the scans finished since the last call and forgets them.
    void report(EmulatorLog& log);
    const JtagScanTotals& totals() const { return totals_; }

private:
    JtagDevice* model_;
    JtagScanTotals totals_;
};
