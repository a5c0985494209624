#include "EmulatorTrace.h"

#include "EmulatedAtari.h"

void EmulatorTrace::flushCounts() {
    if (emptyStatusPolls_ != 0) {
        const auto n = emptyStatusPolls_;
        emptyStatusPolls_ = 0;
        log_.line("FT_GetStatus polled %llu times with nothing queued", static_cast<unsigned long long>(n));
    }
    if (pinWrites_ != 0 || pinReads_ != 0) {
        scans_.report(log_);
        log_.line("JTAG pin traffic: %llu FT_Write, %llu FT_Read calls (%llu cmdSetPins, %llu cmdClockPins, "
                  "%llu cmdReadPins so far)",
                  static_cast<unsigned long long>(pinWrites_), static_cast<unsigned long long>(pinReads_),
                  static_cast<unsigned long long>(pins_.setPins),
                  static_cast<unsigned long long>(pins_.clockPins),
                  static_cast<unsigned long long>(pins_.readPins));
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

void EmulatorTrace::endWrite(std::uint32_t number, const std::uint8_t* data, std::uint32_t count,
                             std::uint32_t accepted, bool shortWrite) {
    scans_.report(log_);
    if (quietWrite() && !everyCall_ && !shortWrite) {
        ++pinWrites_;
        return;
    }
    emit(formatText("w%u FT_Write %u bytes: %s -> FT_OK, %u written%s", number, static_cast<unsigned>(count),
                    hexBytes(data, count).c_str(), static_cast<unsigned>(accepted),
                    shortWrite ? " (write_short: the last byte is lost)" : ""));
    writeNotes();
}

AtariReports atariReports(EmulatorTrace& trace) {
    return {[&trace](const std::string& text) { trace.emit(text); },
            [&trace](const std::string& text) { trace.log().line("[atari] %s", text.c_str()); }};
}
