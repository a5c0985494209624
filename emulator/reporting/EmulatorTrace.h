// The log as the cartridge writes it: one line per driver call, with the
// lines of what the cartridge made of a write indented beneath it, and the
// calls that come by the million (JTAG pin traffic, empty status polls)
// counted instead, their counts written before the next line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EmulatorLog.h"
#include "JtagPort.h"
#include "JtagScanReport.h"

struct AtariReports;

class EmulatorTrace {
public:
    // With `everyCall`, pin traffic gets a line per call too.
    EmulatorTrace(EmulatorLog& log, JtagScanReport& scans, const PinFrameCounts& pins, bool everyCall)
        : log_(log), scans_(scans), pins_(pins), everyCall_(everyCall) {}

    EmulatorLog& log() { return log_; }
    // A log line, after any pending counts.
    void emit(const std::string& text);
    // Writes the pending counts (and the JTAG scans finished meanwhile).
    void flushCounts();

    void countEmptyPoll() { ++emptyStatusPolls_; }
    void countPinRead() { ++pinReads_; }

    // The lines under the write being handled.
    void startWrite() {
        notes_.clear();
        otherTraffic_ = false;
    }
    void note(std::string text) { notes_.push_back(std::move(text)); }
    // The write carried more than pin frames (a frame, a dropped byte, a
    // dropped reply), so it gets its own line.
    void markOtherTraffic() { otherTraffic_ = true; }
    bool quietWrite() const { return !otherTraffic_ && notes_.empty(); }
    // The FT_Write whose bytes the cartridge took: its own line and the
    // notes beneath it, or only a count when it carried nothing but pins.
    void endWrite(std::uint32_t number, const std::uint8_t* data, std::uint32_t count, std::uint32_t accepted,
                  bool shortWrite);

private:
    void writeNotes();

    EmulatorLog& log_;
    JtagScanReport& scans_;
    const PinFrameCounts& pins_;
    bool everyCall_;
    std::uint64_t emptyStatusPolls_ = 0;
    std::uint64_t pinWrites_ = 0, pinReads_ = 0;
    std::vector<std::string> notes_;
    bool otherTraffic_ = false;
};

// The emulated Atari's account, written to this trace: its steps as lines,
// its script's lines marked "[atari]".
AtariReports atariReports(EmulatorTrace& trace);
