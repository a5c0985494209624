#include "NullDriver.h"

#include <cstdio>
#include <cstring>

#include "Console.h"
#include "platform/Platform.h"

namespace bench {

NullCounts nullCounts;

namespace {

const std::uint8_t* feed = nullptr;
std::size_t feedLeft = 0;
bool feedSet = false;

int handleStorage = 0;

FT_STATUS FT_API nullOpen(int, FT_HANDLE* handle) {
    ++nullCounts.other;
    *handle = &handleStorage;
    return FT_OK;
}
FT_STATUS FT_API nullOpenEx(void*, DWORD, FT_HANDLE* handle) {
    ++nullCounts.other;
    *handle = &handleStorage;
    return FT_OK;
}
FT_STATUS FT_API nullListDevices(void*, void*, DWORD) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullClose(FT_HANDLE) { return ++nullCounts.other, FT_OK; }

FT_STATUS FT_API nullRead(FT_HANDLE, void* buffer, DWORD count, DWORD* got) {
    ++nullCounts.reads;
    DWORD n = count;
    if (!feedSet) {
        std::memset(buffer, 0, count);
    } else {
        n = count < feedLeft ? count : static_cast<DWORD>(feedLeft);
        std::memcpy(buffer, feed, n);
        feed += n;
        feedLeft -= n;
    }
    nullCounts.readBytes += n;
    *got = n;
    return FT_OK;
}

FT_STATUS FT_API nullResetDevice(FT_HANDLE) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullPurge(FT_HANDLE, ULONG) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullSetTimeouts(FT_HANDLE, ULONG, ULONG) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullGetQueueStatus(FT_HANDLE, DWORD* rx) {
    ++nullCounts.other;
    *rx = static_cast<DWORD>(feedLeft);
    return FT_OK;
}
FT_STATUS FT_API nullSetBaudRate(FT_HANDLE, ULONG) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullSetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullSetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullGetStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
    ++nullCounts.statusPolls;
    *rx = static_cast<DWORD>(feedLeft);
    *tx = 0;
    *events = 0;
    return FT_OK;
}
FT_STATUS FT_API nullSetUSBParameters(FT_HANDLE, ULONG, ULONG) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullSetLatencyTimer(FT_HANDLE, UCHAR) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullSetBitMode(FT_HANDLE, UCHAR, UCHAR) { return ++nullCounts.other, FT_OK; }
FT_STATUS FT_API nullReload(WORD, WORD) { return ++nullCounts.other, FT_OK; }

std::int64_t jumpingNow = 0;
std::int64_t jumpingClock() { return jumpingNow += 100000000; }

std::int64_t (*savedClock)() = nullptr;

}  // namespace

FT_STATUS FT_API nullWrite(FT_HANDLE, void*, DWORD count, DWORD* written) {
    ++nullCounts.writes;
    nullCounts.writeBytes += count;
    *written = count;
    return FT_OK;
}

void installNullDriver(CartridgeLink& link) {
    link = CartridgeLink{};
    link.FT_Open = nullOpen;
    link.FT_OpenEx = nullOpenEx;
    link.FT_ListDevices = nullListDevices;
    link.FT_Close = nullClose;
    link.FT_Read = nullRead;
    link.FT_Write = nullWrite;
    link.FT_ResetDevice = nullResetDevice;
    link.FT_Purge = nullPurge;
    link.FT_SetTimeouts = nullSetTimeouts;
    link.FT_GetQueueStatus = nullGetQueueStatus;
    link.FT_SetBaudRate = nullSetBaudRate;
    link.FT_SetDataCharacteristics = nullSetDataCharacteristics;
    link.FT_SetFlowControl = nullSetFlowControl;
    link.FT_GetStatus = nullGetStatus;
    link.FT_SetUSBParameters = nullSetUSBParameters;
    link.FT_SetLatencyTimer = nullSetLatencyTimer;
    link.FT_SetBitMode = nullSetBitMode;
    link.FT_Reload = nullReload;
    link.opened = 1;
    link.deviceHandle = &handleStorage;
}

void setReadFeed(const std::uint8_t* bytes, std::size_t size) {
    feedSet = bytes != nullptr;
    feed = bytes;
    feedLeft = feedSet ? size : 0;
}

void installJumpingClock() {
    if (savedClock == nullptr) {
        savedClock = platform::clockMs;
    }
    platform::clockMs = jumpingClock;
}

void restoreClock() {
    if (savedClock != nullptr) {
        platform::clockMs = savedClock;
    }
}

void silenceConsole() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink != nullptr) {
        consoleOut = sink;
        consoleErr = sink;
    }
}

}  // namespace bench
