// The log as the cartridge writes it: one line per driver call, with the
// lines of what the cartridge made of a write indented beneath it, and the
// calls that come by the million (JTAG pin traffic, empty status polls)
// counted instead, their counts written before the next line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EmulatorLog.h"

class JtagPort;

class EmulatorTrace {
public:
    EmulatorTrace(EmulatorLog& log, JtagPort& jtag) : log_(log), jtag_(jtag) {}

    EmulatorLog& log() { return log_; }
    // A log line, after any pending counts.
    void emit(const std::string& text);
    // Writes the pending counts (and the JTAG scans finished meanwhile).
    void flushCounts();

    void countEmptyPoll() { ++emptyStatusPolls_; }
    void countPinWrite() { ++pinWrites_; }
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
    // Logs the notes, indented, under the write's own line.
    void writeNotes();

private:
    EmulatorLog& log_;
    JtagPort& jtag_;
    std::uint64_t emptyStatusPolls_ = 0;
    std::uint64_t pinWrites_ = 0, pinReads_ = 0;
    std::vector<std::string> notes_;
    bool otherTraffic_ = false;
};
