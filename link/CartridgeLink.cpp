#include "CartridgeLink.h"

#include "CartridgeCommands.h"
#include "Console.h"
#include "platform/Platform.h"

namespace {

template <typename Fn, typename... Args>
CallResult checked(Fn fn, const char* name, Args... args) {
    if (fn == nullptr) {
        consolePrintf("Error: %s is not valid!\n", name);
        return CallResult{false, 0};
    }
    return CallResult{true, fn(args...)};
}

template <typename Fn>
bool resolve(void* module, const char* name, const char* missingMessage, Fn& field) {
    field = reinterpret_cast<Fn>(platform::findSymbol(module, name));
    if (field == nullptr) {
        consolePrintf("%s", missingMessage);
        return false;
    }
    return true;
}

}  // namespace

void CartridgeLink::BindDriver() { BindDriverFrom(platform::driverLibraryName()); }

void CartridgeLink::BindDriverFrom(const char* libraryFileName) {
    driverModule = platform::loadLibrary(libraryFileName);
    if (driverModule == nullptr) {
        // The same text on every platform: users and their scripts know it.
        consolePrintf("Error: Can't Load Ftd2xx.dll\n");
        const std::string note = platform::loadFailureNote(libraryFileName);
        if (!note.empty()) {
            consoleFprintf(stderr, "%s\n", note.c_str());
        }
        return;
    }
    void* m = driverModule;
    // Resolve order is fixed; the first missing function stops the binding.
    resolve(m, "FT_Write", "Error: Can't Find FT_Write\n", FT_Write) &&
        resolve(m, "FT_Read", "Error: Can't Find FT_Read\n", FT_Read) &&
        resolve(m, "FT_Open", "Error: Can't Find FT_Open\n", FT_Open) &&
        resolve(m, "FT_OpenEx", "Error: Can't Find FT_OpenEx\n", FT_OpenEx) &&
        resolve(m, "FT_ListDevices", "Error: Can't Find FT_ListDevices\n", FT_ListDevices) &&
        resolve(m, "FT_Close", "Error: Can't Find FT_Close\n", FT_Close) &&
        resolve(m, "FT_ResetDevice", "Error: Can't Find FT_ResetDevice\n", FT_ResetDevice) &&
        resolve(m, "FT_Purge", "Error: Can't Find FT_Purge\n", FT_Purge) &&
        resolve(m, "FT_SetTimeouts", "Error: Can't Find FT_SetTimeouts\n", FT_SetTimeouts) &&
        resolve(m, "FT_GetQueueStatus", "Error: Can't Find FT_GetQueueStatus\n", FT_GetQueueStatus) &&
        resolve(m, "FT_SetBaudRate", "Error: Can't Find FT_SetBaudRate\n", FT_SetBaudRate) &&
        resolve(m, "FT_SetDataCharacteristics", "Error: Can't Find FT_SetDataCharacteristics\n",
                FT_SetDataCharacteristics) &&
        resolve(m, "FT_SetFlowControl", "Error: Can't Find FT_SetFlowControl\n", FT_SetFlowControl) &&
        resolve(m, "FT_GetStatus", "Error: Can't Find FT_GetStatus\n", FT_GetStatus) &&
        resolve(m, "FT_SetBitMode", "Error: Can't Find FT_SetBitMode\n", FT_SetBitMode) &&
        resolve(m, "FT_SetLatencyTimer", "Error: Can't Find FT_SetLatencyTimer\n", FT_SetLatencyTimer) &&
        // The message of this one has always lacked the final "s".
        resolve(m, "FT_SetUSBParameters", "Error: Can't Find FT_SetUSBParameter\n", FT_SetUSBParameters) &&
        resolve(m, "FT_Reload", "Error: Can't Find FT_Reload\n", FT_Reload);
}

FT_STATUS CartridgeLink::OpenCartridge() {
    if (FT_OpenEx == nullptr) {
        consolePrintf("Error: FT_OpenEx is not valid!\n");
        return 1;
    }
    static char description[] = "Vexlo";
    FT_STATUS status = FT_OpenEx(description, FT_OPEN_BY_DESCRIPTION, &deviceHandle);
    opened = status == FT_OK ? 1 : 0;
    if (status != FT_OK) {
        return status;
    }
    // Configuration statuses are not examined: the device counts as open.
    ResetDevice();
    SetTimeouts(9000, 9000);
    Purge(FT_PURGE_RX);
    SetUSBParameters(4096, 65536);
    SetLatencyTimer(2);
    SetBitMode(0xFF, FT_BITMODE_RESET);
    platform::sleepMs(100);
    SetBitMode(0xFF, FT_BITMODE_SYNC_FIFO);
    return 0;
}

void CartridgeLink::Close() { checked(FT_Close, "FT_Close", deviceHandle); }

CallResult CartridgeLink::Write(const void* buffer, DWORD count, DWORD* written) {
    // The driver's signature takes a non-const buffer but never writes to it.
    return checked(FT_Write, "FT_Write", deviceHandle, const_cast<void*>(buffer), count, written);
}

CallResult CartridgeLink::Read(void* buffer, DWORD count, DWORD* got) {
    return checked(FT_Read, "FT_Read", deviceHandle, buffer, count, got);
}

CallResult CartridgeLink::ResetDevice() { return checked(FT_ResetDevice, "FT_ResetDevice", deviceHandle); }

CallResult CartridgeLink::Purge(ULONG mask) { return checked(FT_Purge, "FT_Purge", deviceHandle, mask); }

CallResult CartridgeLink::SetTimeouts(ULONG readMs, ULONG writeMs) {
    return checked(FT_SetTimeouts, "FT_SetTimeouts", deviceHandle, readMs, writeMs);
}

CallResult CartridgeLink::SetUSBParameters(ULONG inSize, ULONG outSize) {
    return checked(FT_SetUSBParameters, "FT_SetUSBParameters", deviceHandle, inSize, outSize);
}

CallResult CartridgeLink::SetLatencyTimer(UCHAR ms) {
    return checked(FT_SetLatencyTimer, "FT_SetLatencyTimer", deviceHandle, ms);
}

CallResult CartridgeLink::SetBitMode(UCHAR mask, UCHAR mode) {
    return checked(FT_SetBitMode, "FT_SetBitMode", deviceHandle, mask, mode);
}

CallResult CartridgeLink::GetStatus(DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    return checked(FT_GetStatus, "FT_GetStatus", deviceHandle, rxBytes, txBytes, eventStatus);
}

bool CartridgeLink::WriteHeader(std::uint8_t command) {
    const CommandHeader header = makeHeader(command);
    DWORD written = 0;
    return Write(&header, sizeof header, &written).ok() && written == sizeof header;
}

void WaitAck(CartridgeLink& link) {
    for (;;) {
        if (!link.WriteHeader(cmdPollReady)) {
            continue;
        }
        std::uint8_t reply = 0;
        DWORD got = 0;
        if (link.Read(&reply, 1, &got).ok() && got == 1) {
            return;  // any byte, 0 included, means ready
        }
    }
}
