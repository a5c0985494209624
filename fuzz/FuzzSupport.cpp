#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>

#include "Console.h"
#include "platform/Platform.h"

namespace fuzz {

namespace {

std::int64_t g_now = 0;
std::int64_t g_step = 1;

std::int64_t fakeClock() {
    g_now += g_step;
    return g_now;
}

void fakeSleep(std::uint32_t ms) { g_now += ms; }

FT_STATUS FT_API quietOpen(int, FT_HANDLE* handle) {
    *handle = nullptr;
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS FT_API quietOpenEx(void*, DWORD, FT_HANDLE* handle) {
    *handle = reinterpret_cast<FT_HANDLE>(std::uintptr_t{1});
    return FT_OK;
}

FT_STATUS FT_API quietListDevices(void*, void*, DWORD) { return FT_OK; }
FT_STATUS FT_API quietHandle(FT_HANDLE) { return FT_OK; }

FT_STATUS FT_API quietRead(FT_HANDLE, void*, DWORD, DWORD* got) {
    *got = 0;
    return FT_OK;
}

FT_STATUS FT_API quietWrite(FT_HANDLE, void*, DWORD count, DWORD* written) {
    *written = count;
    return FT_OK;
}

FT_STATUS FT_API quietPurge(FT_HANDLE, ULONG) { return FT_OK; }
FT_STATUS FT_API quietTwoUlong(FT_HANDLE, ULONG, ULONG) { return FT_OK; }

FT_STATUS FT_API quietQueueStatus(FT_HANDLE, DWORD* rx) {
    *rx = 0;
    return FT_OK;
}

FT_STATUS FT_API quietBaudRate(FT_HANDLE, ULONG) { return FT_OK; }
FT_STATUS FT_API quietDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_API quietFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) { return FT_OK; }

FT_STATUS FT_API quietStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
    *rx = 0;
    *tx = 0;
    *events = 0;
    return FT_OK;
}

FT_STATUS FT_API quietLatency(FT_HANDLE, UCHAR) { return FT_OK; }
FT_STATUS FT_API quietBitMode(FT_HANDLE, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_API quietReload(WORD, WORD) { return FT_OK; }

}  // namespace

void fault(const char* what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void installQuietDriver(CartridgeLink& link) {
    link.FT_Open = quietOpen;
    link.FT_OpenEx = quietOpenEx;
    link.FT_ListDevices = quietListDevices;
    link.FT_Close = quietHandle;
    link.FT_Read = quietRead;
    link.FT_Write = quietWrite;
    link.FT_ResetDevice = quietHandle;
    link.FT_Purge = quietPurge;
    link.FT_SetTimeouts = quietTwoUlong;
    link.FT_GetQueueStatus = quietQueueStatus;
    link.FT_SetBaudRate = quietBaudRate;
    link.FT_SetDataCharacteristics = quietDataCharacteristics;
    link.FT_SetFlowControl = quietFlowControl;
    link.FT_GetStatus = quietStatus;
    link.FT_SetUSBParameters = quietTwoUlong;
    link.FT_SetLatencyTimer = quietLatency;
    link.FT_SetBitMode = quietBitMode;
    link.FT_Reload = quietReload;
    link.opened = 1;
    link.driverModule = nullptr;
    link.deviceHandle = reinterpret_cast<FT_HANDLE>(std::uintptr_t{1});
}

void installClock(std::int64_t stepMs) {
    g_step = stepMs;
    platform::clockMs = fakeClock;
    platform::sleepMs = fakeSleep;
}

void silenceConsole() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) {
        fault("cannot open /dev/null");
    }
    consoleOut = sink;
    consoleErr = sink;
}

std::string tempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    path += "/vexlo-fuzz-" + std::to_string(static_cast<long>(getpid())) + "-" + name;
    return path;
}

std::FILE* openBytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return std::fopen("/dev/null", "rb");
    }
    // fmemopen takes a non-const buffer but a "rb" stream never writes it.
    return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

}  // namespace fuzz
