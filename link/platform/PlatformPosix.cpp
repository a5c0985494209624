#include "platform/Platform.h"

#include <dlfcn.h>
#include <string>
#include <time.h>

namespace platform {

const char* driverLibraryName() {
#if defined(__APPLE__)
    return "libftd2xx.dylib";
#else
    // The plain name, so the system's search path and LD_LIBRARY_PATH pick the copy.
    return "libftd2xx.so";
#endif
}

namespace {
// dlerror's text is gone after the next dl call. A function's static, as the
// updater loads its driver while the globals are still being constructed.
std::string& lastLoadError() {
    static std::string text;
    return text;
}
}  // namespace

void* loadLibrary(const char* fileName) {
    void* library = dlopen(fileName, RTLD_NOW);
    if (library == nullptr) {
        const char* reason = dlerror();
        lastLoadError() = reason != nullptr ? reason : "unknown reason";
    }
    return library;
}

std::string loadFailureNote(const char* fileName) {
#if defined(__APPLE__)
    const char* pathVariable = "DYLD_LIBRARY_PATH";
#else
    const char* pathVariable = "LD_LIBRARY_PATH";
#endif
    return std::string("Error: the driver library ") + fileName + " could not be loaded (" + lastLoadError() +
           "). Install FTDI's D2XX library so that " + driverLibraryName() +
           " is on the library path, or use this project's open-source driver by setting " + pathVariable +
           " to the folder of its " + driverLibraryName() + " (see README.md).";
}

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }

// Terminals here have no mode in which a selection pauses the program.
ConsoleModeCalls consoleModeCalls = {nullptr, nullptr, nullptr};

std::int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepFor(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// 0.9 ms: with the kernel's timer slack (50 us by default) the pause stays
// within a millisecond.
void pauseBriefly() {
    timespec ts{0, 900000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace platform
