// The 18 entry points the programs bind, under their plain names, over
// libftdi1. Nothing else leaves the library.
#include <cstdio>
#include <type_traits>

#include "D2xxApi.h"
#include "d2xx.h"

#define VEXLO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
D2xxContext context() { return D2xxContext{&ftdiWire(), stderr}; }
}  // namespace

VEXLO_EXPORT FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle) {
    return d2xx::open(context(), deviceNumber, handle);
}
VEXLO_EXPORT FT_STATUS FT_API FT_OpenEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
    return d2xx::openEx(context(), arg1, flags, handle);
}
VEXLO_EXPORT FT_STATUS FT_API FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return d2xx::listDevices(context(), arg1, arg2, flags);
}
VEXLO_EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE handle) { return d2xx::close(handle); }
VEXLO_EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    return d2xx::read(handle, buffer, count, got);
}
VEXLO_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    return d2xx::write(handle, buffer, count, written);
}
VEXLO_EXPORT FT_STATUS FT_API FT_ResetDevice(FT_HANDLE handle) { return d2xx::resetDevice(handle); }
VEXLO_EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE handle, ULONG mask) { return d2xx::purge(handle, mask); }
VEXLO_EXPORT FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return d2xx::setTimeouts(handle, readMs, writeMs);
}
VEXLO_EXPORT FT_STATUS FT_API FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return d2xx::getQueueStatus(handle, rxBytes);
}
VEXLO_EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return d2xx::setBaudRate(handle, baud);
}
VEXLO_EXPORT FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                        UCHAR parity) {
    return d2xx::setDataCharacteristics(handle, wordLength, stopBits, parity);
}
VEXLO_EXPORT FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    return d2xx::setFlowControl(handle, flowControl, xon, xoff);
}
VEXLO_EXPORT FT_STATUS FT_API FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    return d2xx::getStatus(handle, rxBytes, txBytes, eventStatus);
}
VEXLO_EXPORT FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    return d2xx::setUSBParameters(handle, inSize, outSize);
}
VEXLO_EXPORT FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    return d2xx::setLatencyTimer(handle, ms);
}
VEXLO_EXPORT FT_STATUS FT_API FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return d2xx::setBitMode(handle, mask, mode);
}
// Nothing to reload: libusb sees devices as they are plugged.
VEXLO_EXPORT FT_STATUS FT_API FT_Reload(WORD, WORD) { return FT_OK; }

// Every entry point of the table is here, with exactly the type the
// programs bind it with.
#define VEXLO_SAME_TYPE(name, step, missing, params, args) static_assert(std::is_same_v<decltype(&name), PFN_##name>);
VEXLO_D2XX_ENTRY_POINTS(VEXLO_SAME_TYPE)
#undef VEXLO_SAME_TYPE
