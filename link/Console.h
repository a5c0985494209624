// Console output of both programs. Messages carry their own line ends.
#pragma once

#include <cstdio>

#if defined(__MINGW32__)
// MinGW's C++ runtime formats with its own C99 printf, not Microsoft's.
#define VEXLO_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define VEXLO_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VEXLO_PRINTF(fmt, args)
#endif

// Where standard output and standard error really go when set; null means
// stdout and stderr. Tests point them at files of their own.
extern FILE* consoleOut;
extern FILE* consoleErr;

void consolePrintf(const char* format, ...) VEXLO_PRINTF(1, 2);
// `stream` is stdout or stderr as the caller means it; it is mapped onto
// consoleOut or consoleErr.
void consoleFprintf(FILE* stream, const char* format, ...) VEXLO_PRINTF(2, 3);
// For output that does not end in a line end but must be seen at once
// (prompts, progress lines).
void consoleFlush();

// "Error: -1: <message> (<file> <line>)\n" on standard error.
void locatedError(const char* message, const char* file, int line);
#define LOCATED_ERROR(message) locatedError((message), __FILE__, __LINE__)
