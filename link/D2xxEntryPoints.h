// The 18 D2XX entry points the programs bind, each written once:
//
//   X(name, resolve step, text printed when the library lacks it,
//     (parameters), (the same parameters as arguments), method)
//
// where method is the name our own implementations (the emulated cartridge,
// the open driver) give the operation that answers the entry point.
//
// Rows stand in the order of CartridgeLink's fields; BindDriver resolves
// them by their step and stops at the first one the library lacks. Every
// entry point returns FT_STATUS. Whatever else lists the entry points (the
// link's record, its binding, the emulator's exports and export lists, the
// Windows export check, the fake drivers) is generated from this table;
// cmake/D2xxEntryPoints.cmake reads it for the build, so keep one row per X.
#pragma once

// clang-format off
#define VEXLO_D2XX_ENTRY_POINTS(X) \
    X(FT_Open,                    3, "Error: Can't Find FT_Open\n",                   (int deviceNumber, FT_HANDLE* handle), (deviceNumber, handle), open) \
    X(FT_OpenEx,                  4, "Error: Can't Find FT_OpenEx\n",                 (void* arg1, DWORD flags, FT_HANDLE* handle), (arg1, flags, handle), openEx) \
    X(FT_ListDevices,             5, "Error: Can't Find FT_ListDevices\n",            (void* arg1, void* arg2, DWORD flags), (arg1, arg2, flags), listDevices) \
    X(FT_Close,                   6, "Error: Can't Find FT_Close\n",                  (FT_HANDLE handle), (handle), close) \
    X(FT_Read,                    2, "Error: Can't Find FT_Read\n",                   (FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned), (handle, buffer, bytesToRead, bytesReturned), read) \
    X(FT_Write,                   1, "Error: Can't Find FT_Write\n",                  (FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten), (handle, buffer, bytesToWrite, bytesWritten), write) \
    X(FT_ResetDevice,             7, "Error: Can't Find FT_ResetDevice\n",            (FT_HANDLE handle), (handle), resetDevice) \
    X(FT_Purge,                   8, "Error: Can't Find FT_Purge\n",                  (FT_HANDLE handle, ULONG mask), (handle, mask), purge) \
    X(FT_SetTimeouts,             9, "Error: Can't Find FT_SetTimeouts\n",            (FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout), (handle, readTimeout, writeTimeout), setTimeouts) \
    X(FT_GetQueueStatus,         10, "Error: Can't Find FT_GetQueueStatus\n",         (FT_HANDLE handle, DWORD* rxBytes), (handle, rxBytes), getQueueStatus) \
    X(FT_SetBaudRate,            11, "Error: Can't Find FT_SetBaudRate\n",            (FT_HANDLE handle, ULONG baudRate), (handle, baudRate), setBaudRate) \
    X(FT_SetDataCharacteristics, 12, "Error: Can't Find FT_SetDataCharacteristics\n", (FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity), (handle, wordLength, stopBits, parity), setDataCharacteristics) \
    X(FT_SetFlowControl,         13, "Error: Can't Find FT_SetFlowControl\n",         (FT_HANDLE handle, USHORT flowControl, UCHAR xonChar, UCHAR xoffChar), (handle, flowControl, xonChar, xoffChar), setFlowControl) \
    X(FT_GetStatus,              14, "Error: Can't Find FT_GetStatus\n",              (FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus), (handle, rxBytes, txBytes, eventStatus), getStatus) \
    /* The text of this one has always lacked the final "s". */ \
    X(FT_SetUSBParameters,       17, "Error: Can't Find FT_SetUSBParameter\n",        (FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize), (handle, inTransferSize, outTransferSize), setUSBParameters) \
    X(FT_SetLatencyTimer,        16, "Error: Can't Find FT_SetLatencyTimer\n",        (FT_HANDLE handle, UCHAR latency), (handle, latency), setLatencyTimer) \
    X(FT_SetBitMode,             15, "Error: Can't Find FT_SetBitMode\n",             (FT_HANDLE handle, UCHAR mask, UCHAR mode), (handle, mask, mode), setBitMode) \
    X(FT_Reload,                 18, "Error: Can't Find FT_Reload\n",                 (WORD vid, WORD pid), (vid, pid), reload)
// clang-format on

// Spreads a parenthesised parameter list, to put something before it.
#define VEXLO_D2XX_SPREAD(...) __VA_ARGS__
