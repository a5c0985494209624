#include "platform/Platform.h"

#include <windows.h>

namespace platform {

const char* driverLibraryName() { return "Ftd2xx.dll"; }

void* loadLibrary(const char* fileName) { return reinterpret_cast<void*>(LoadLibraryA(fileName)); }

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::int64_t monotonicMs() { return static_cast<std::int64_t>(GetTickCount64()); }

void sleepFor(std::uint32_t ms) { Sleep(ms); }

}  // namespace platform
