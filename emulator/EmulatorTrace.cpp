#include "EmulatorTrace.h"

#include "JtagPort.h"

void EmulatorTrace::flushCounts() {
    if (emptyStatusPolls_ != 0) {
        const auto n = emptyStatusPolls_;
        emptyStatusPolls_ = 0;
        log_.line("FT_GetStatus polled %llu times with nothing queued", static_cast<unsigned long long>(n));
    }
    if (pinWrites_ != 0 || pinReads_ != 0) {
        jtag_.backend().reportScans(log_);
        log_.line("JTAG pin traffic: %llu FT_Write, %llu FT_Read calls (%llu cmdSetPins, %llu cmdClockPins, "
                  "%llu cmdReadPins so far)",
                  static_cast<unsigned long long>(pinWrites_), static_cast<unsigned long long>(pinReads_),
                  static_cast<unsigned long long>(jtag_.setPinsFrames()),
                  static_cast<unsigned long long>(jtag_.clockPinsFrames()),
                  static_cast<unsigned long long>(jtag_.readPinsFrames()));
        pinWrites_ = 0;
        pinReads_ = 0;
    }
}

void EmulatorTrace::emit(const std::string& text) {
    flushCounts();
    log_.line("%s", text.c_str());
}

void EmulatorTrace::writeNotes() {
    for (const auto& line : notes_) {
        log_.line("  %s", line.c_str());
    }
    notes_.clear();
}
