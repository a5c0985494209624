// Shared pieces of the fuzz targets: driver entry points that answer without
// a device, a clock that costs nothing, a silent console and a way to stop a
// run that would otherwise wait for the cartridge for ever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "CartridgeLink.h"

namespace fuzz {

// Thrown by a fake entry point when the cartridge has nothing more to say:
// the harness catches it and the run counts as finished, not failed.
struct StopRun {};

// Prints "fuzz: <what>" on stderr and aborts, so libFuzzer keeps the input.
[[noreturn]] void fault(const char* what);
#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) ::fuzz::fault("check failed: " #condition); \
    } while (0)

// Fills all 18 entry points with the shared fake, quiet and only counting:
// writes report every byte written, reads return no byte, the receive queue
// is empty, FT_OpenEx hands out handle 1. Harnesses replace single fields.
void installQuietDriver(CartridgeLink& link);

// Every clock reading advances by `stepMs`; sleeps only add their length.
void installClock(std::int64_t stepMs);

// consoleOut and consoleErr go to /dev/null for the whole process.
void silenceConsole();

// A file name in a temporary folder of this process, removed at exit.
std::string tempPath(const char* name);

// A read-only stream over `size` bytes (an empty stream when size is 0).
std::FILE* openBytes(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
