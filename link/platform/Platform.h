// The few operating-system services the programs need: loading the driver
// library, a monotonic millisecond clock and a millisecond sleep. One
// implementation file per operating system.
#pragma once

#include <cstdint>

namespace platform {

// File name the driver library is loaded by on this operating system.
const char* driverLibraryName();

// Null when the library cannot be loaded. Libraries are never unloaded.
void* loadLibrary(const char* fileName);
void* findSymbol(void* library, const char* name);

// Milliseconds of elapsed time from an arbitrary start; never goes back.
std::int64_t monotonicMs();
void sleepFor(std::uint32_t ms);

// Every Part reads time and sleeps through these two pointers, so tests can
// substitute a fake clock instead of waiting for real.
extern std::int64_t (*clockMs)();
extern void (*sleepMs)(std::uint32_t ms);

}  // namespace platform
