#include "Console.h"

#include <cstdarg>

FILE* consoleOut = stdout;
FILE* consoleErr = stderr;

void consolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(consoleOut, format, args);
    va_end(args);
}

void consoleFprintf(FILE* stream, const char* format, ...) {
    FILE* target = stream == stderr ? consoleErr : stream == stdout ? consoleOut : stream;
    if (target == consoleErr) {
        // Keep errors in order with what was printed before them when
        // standard output is a pipe or a file.
        std::fflush(consoleOut);
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(target, format, args);
    va_end(args);
}

void consoleFlush() { std::fflush(consoleOut); }

void locatedError(const char* message, const char* file, int line) {
    consoleFprintf(stderr, "Error: %d: %s (%s %d)\n", -1, message, file, line);
}
