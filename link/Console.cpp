#include "Console.h"

#include <cstdarg>

// Null until a test redirects them: constant-initialised, so output printed
// by other globals' constructors before main still reaches the terminal.
FILE* consoleOut = nullptr;
FILE* consoleErr = nullptr;

namespace {

FILE* out() { return consoleOut != nullptr ? consoleOut : stdout; }
FILE* err() { return consoleErr != nullptr ? consoleErr : stderr; }

}  // namespace

void consolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(out(), format, args);
    va_end(args);
}

void consoleFprintf(FILE* stream, const char* format, ...) {
    FILE* target = stream == stderr ? err() : stream == stdout ? out() : stream;
    if (target == err()) {
        // Keep errors in order with what was printed before them when
        // standard output is a pipe or a file.
        std::fflush(out());
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(target, format, args);
    va_end(args);
}

void consoleFlush() { std::fflush(out()); }

void locatedError(const char* message, const char* file, int line) {
    consoleFprintf(stderr, "Error: %d: %s (%s %d)\n", -1, message, file, line);
}
