#include "platform/Platform.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

namespace platform {

const char* driverLibraryName() { return "Ftd2xx.dll"; }

void* loadLibrary(const char* fileName) {
    // A console program reports a missing or broken driver on its console;
    // without this, some load failures (a damaged DLL) raise a message box
    // that blocks the run until someone clicks it away.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(fileName);
    SetErrorMode(previous);
    return reinterpret_cast<void*>(module);
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// Vista and later; it does not wrap after 49 days as GetTickCount does.
std::int64_t monotonicMs() { return static_cast<std::int64_t>(GetTickCount64()); }

void sleepFor(std::uint32_t ms) { Sleep(ms); }

namespace {

// Messages carry their own "\n" line ends and the progress lines rewrite
// themselves with "\r"; the C runtime's text mode would turn every "\n" into
// "\r\n" on the way out. Binary mode writes exactly what was printed (the
// console still starts a new line at "\n"). Files opened without "b" are
// read in binary mode too, so no reader can lose or gain bytes by a missing
// "b". Standard input keeps text mode: it only answers "press Return".
//
// This runs as a constructor of high priority because the updater binds the
// driver, and may print, while its global objects are constructed.
__attribute__((constructor(101))) void useBinaryConsole() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _fmode = _O_BINARY;
}

}  // namespace

}  // namespace platform
