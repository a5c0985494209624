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
    // The 18 entry points, named after the functions they hold (null = not bound).
#define VEXLO_LINK_FIELD(name, step, missing, params, args, method) PFN_##name name;
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_LINK_FIELD)
#undef VEXLO_LINK_FIELD
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
