// The emulator's small text helpers, for the models' messages and the
// reporting's lines alike.
#pragma once

#include <cstddef>
#include <cstdint>
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

// printf into a std::string (up to 511 characters).
std::string formatText(const char* format, ...) EMU_PRINTF(1, 2);
// "53 59 0a 02 01 02", at most `limit` bytes, with " ..." when cut.
std::string hexBytes(const std::uint8_t* data, std::size_t count, std::size_t limit = 16);
// Printable ASCII as is, other bytes as \xNN.
std::string printable(const std::uint8_t* data, std::size_t count);
