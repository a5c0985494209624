// The few operating-system services the programs need: loading the driver
// library, a monotonic millisecond clock and a millisecond sleep. One
// implementation file per operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// File name the driver library is loaded by on this operating system.
const char* driverLibraryName();

// Null when the library cannot be loaded. Libraries are never unloaded.
void* loadLibrary(const char* fileName);
void* findSymbol(void* library, const char* name);
// After loadLibrary failed: one line for the user with the file looked for,
// the loader's reason and the ways out; empty where the system's own
// message says enough.
std::string loadFailureNote(const char* fileName);

// Milliseconds of elapsed time from an arbitrary start; never goes back.
std::int64_t monotonicMs();
void sleepFor(std::uint32_t ms);
// The pause of a poll loop with nothing to do: about a millisecond, and
// not longer where the system's timers allow it.
void pauseBriefly();

// A mouse selection in a Windows console pauses every program that writes
// to it until the selection is cleared. quickEditOff switches the console's
// QuickEdit mode off, if it is on, until restoreConsoleMode, which also runs
// however the process ends (return, exit, Ctrl+C, Ctrl+Break, closing the
// window). Both do nothing where the console has no such mode.
void quickEditOff();
void restoreConsoleMode();

// The console calls behind them; the calls are null where there is no such
// mode, and tests put fakes in their place.
struct ConsoleModeCalls {
    bool (*getInputMode)(std::uint32_t* mode);
    bool (*setInputMode)(std::uint32_t mode);
    // Runs `restore` when the process ends, by any of the ways above.
    void (*atEveryExit)(void (*restore)());
};
extern ConsoleModeCalls consoleModeCalls;

// Every Part reads time and sleeps through these two pointers, so tests can
// substitute a fake clock instead of waiting for real.
extern std::int64_t (*clockMs)();
extern void (*sleepMs)(std::uint32_t ms);
// The idle drive image server pauses through this one (pauseBriefly).
extern void (*idlePause)();

// Host files by the C library's descriptor, paths in UTF-8. Opening never
// blocks, and only a regular file is kept: a named pipe would wait for a
// writer without end, a device would never end. -1 and `error` on failure.
int openRegularFile(const std::string& utf8Path, std::string& error);
// Creates a file that must not exist yet, for writing.
int createNewFile(const std::string& utf8Path, std::string& error);
bool fileLength(int fd, std::uint64_t& length);
// Exactly `size` bytes at `offset`, or false.
bool readFileAt(int fd, std::uint64_t offset, void* data, std::size_t size);
bool writeFileAt(int fd, std::uint64_t offset, const void* data, std::size_t size);
// Sets the length and puts every byte on the disk; false when either fails
// (a full disk shows here at the latest).
bool finishFile(int fd, std::uint64_t length);
void closeFile(int fd);

}  // namespace platform
