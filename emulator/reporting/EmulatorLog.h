// The emulator's readable log: one line per driver call and decoded frame.
// It never writes to the programs' standard error unless asked to, since
// what the programs print there is part of their behaviour.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "EmulatorText.h"


class EmulatorLog {
public:
    EmulatorLog() = default;
    ~EmulatorLog();
    EmulatorLog(const EmulatorLog&) = delete;
    EmulatorLog& operator=(const EmulatorLog&) = delete;

    // "none" or "" (with no capture) keeps it silent; "stdout"/"stderr" use
    // the process's streams; anything else is a file, created on the spot.
    bool open(const std::string& path);
    // Tests read the log back from memory.
    void captureTo(std::string* text) { capture_ = text; }
    bool enabled() const { return file_ != nullptr || capture_ != nullptr; }

    void line(const char* format, ...) EMU_PRINTF(2, 3);
    void flush();

private:
    FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::string* capture_ = nullptr;
};
