// A stand-in driver library for the binding tests. Built several times, each
// copy leaving out the one export named by VEXLO_OMIT_<function>. Its
// functions succeed without doing anything, so a bound link can be opened.
#include "d2xx.h"

#if defined(_WIN32)
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
int device;  // what FT_OpenEx hands out as the handle
}

#ifndef VEXLO_OMIT_FT_Write
EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE, void*, DWORD count, DWORD* written) {
    *written = count;
    return FT_OK;
}
#endif
#ifndef VEXLO_OMIT_FT_Read
EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE, void*, DWORD, DWORD* got) {
    *got = 0;
    return FT_OK;
}
#endif
#ifndef VEXLO_OMIT_FT_Open
EXPORT FT_STATUS FT_API FT_Open(int, FT_HANDLE* handle) {
    *handle = &device;
    return FT_OK;
}
#endif
#ifndef VEXLO_OMIT_FT_OpenEx
EXPORT FT_STATUS FT_API FT_OpenEx(void*, DWORD, FT_HANDLE* handle) {
    *handle = &device;
    return FT_OK;
}
#endif
#ifndef VEXLO_OMIT_FT_ListDevices
EXPORT FT_STATUS FT_API FT_ListDevices(void*, void*, DWORD) { return FT_OK; }
#endif
EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_ResetDevice(FT_HANDLE) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE, ULONG) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_GetQueueStatus(FT_HANDLE, DWORD* rx) {
    *rx = 0;
    return FT_OK;
}
EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE, ULONG) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_GetStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
    *rx = *tx = *events = 0;
    return FT_OK;
}
EXPORT FT_STATUS FT_API FT_SetBitMode(FT_HANDLE, UCHAR, UCHAR) { return FT_OK; }
EXPORT FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE, UCHAR) { return FT_OK; }
#ifndef VEXLO_OMIT_FT_SetUSBParameters
EXPORT FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
#endif
#ifndef VEXLO_OMIT_FT_Reload
EXPORT FT_STATUS FT_API FT_Reload(WORD, WORD) { return FT_OK; }
#endif
