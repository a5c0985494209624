// The record through which a program talks to the cartridge: the bound
// driver entry points, the loaded driver library and the open device.
#pragma once

#include <cstdint>

#include "d2xx.h"

// Result of a checked call. `called` is false when the entry point was not
// bound: its "is not valid" line has been printed and the call skipped.
struct CallResult {
    bool called;
    FT_STATUS status;
    bool ok() const { return called && status == FT_OK; }
};

struct CartridgeLink {
    PFN_FT_Open FT_Open;
    PFN_FT_OpenEx FT_OpenEx;
    PFN_FT_ListDevices FT_ListDevices;
    PFN_FT_Close FT_Close;
    PFN_FT_Read FT_Read;
    PFN_FT_Write FT_Write;
    PFN_FT_ResetDevice FT_ResetDevice;
    PFN_FT_Purge FT_Purge;
    PFN_FT_SetTimeouts FT_SetTimeouts;
    PFN_FT_GetQueueStatus FT_GetQueueStatus;
    PFN_FT_SetBaudRate FT_SetBaudRate;
    PFN_FT_SetDataCharacteristics FT_SetDataCharacteristics;
    PFN_FT_SetFlowControl FT_SetFlowControl;
    PFN_FT_GetStatus FT_GetStatus;
    PFN_FT_SetUSBParameters FT_SetUSBParameters;
    PFN_FT_SetLatencyTimer FT_SetLatencyTimer;
    PFN_FT_SetBitMode FT_SetBitMode;
    PFN_FT_Reload FT_Reload;
    std::int16_t opened;
    void* driverModule;
    FT_HANDLE deviceHandle;

    // Loads the platform's driver library and resolves the 18 entry points.
    void BindDriver();
    // The same from a given library file; tests bind prepared libraries.
    void BindDriverFrom(const char* libraryFileName);

    // 0 = open and configured; 1 = FT_OpenEx not bound; else FT_OpenEx's status.
    FT_STATUS OpenCartridge();
    void Close();

    // Checked calls on deviceHandle.
    CallResult Write(const void* buffer, DWORD count, DWORD* written);
    CallResult Read(void* buffer, DWORD count, DWORD* got);
    CallResult ResetDevice();
    CallResult Purge(ULONG mask);
    CallResult SetTimeouts(ULONG readMs, ULONG writeMs);
    CallResult SetUSBParameters(ULONG inSize, ULONG outSize);
    CallResult SetLatencyTimer(UCHAR ms);
    CallResult SetBitMode(UCHAR mask, UCHAR mode);
    CallResult GetStatus(DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus);

    // Writes the 3-byte header of `command`; true when FT_OK and 3 bytes.
    bool WriteHeader(std::uint8_t command);
};

// Sends cmdPollReady until the cartridge answers with any byte. No limit.
void WaitAck(CartridgeLink& link);
