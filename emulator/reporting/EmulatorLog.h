// The emulator's readable log: one line per driver call and decoded frame.
// It never writes to the programs' standard error unless asked to, since
// what the programs print there is part of their behaviour.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#if defined(__MINGW32__)
// MinGW's C++ runtime formats with its own C99 printf ("%zu" works); the
// plain "printf" archetype would check against Microsoft's older one.
#define EMU_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define EMU_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define EMU_PRINTF(fmt, args)
#endif

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

// printf into a std::string (up to 511 characters).
std::string formatText(const char* format, ...) EMU_PRINTF(1, 2);
// "53 59 0a 02 01 02", at most `limit` bytes, with " ..." when cut.
std::string hexBytes(const std::uint8_t* data, std::size_t count, std::size_t limit = 16);
// Printable ASCII as is, other bytes as \xNN.
std::string printable(const std::uint8_t* data, std::size_t count);
