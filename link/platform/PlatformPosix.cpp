#include "platform/Platform.h"

#include <dlfcn.h>
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

void* loadLibrary(const char* fileName) { return dlopen(fileName, RTLD_NOW); }

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }

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

}  // namespace platform
