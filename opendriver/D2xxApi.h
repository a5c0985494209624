// The D2XX behaviour the programs rely on, over a Wire: device search by
// description, serial or index, a receive buffer of our own so that reads
// wait for the whole count until their time-out, writes that report what
// the device accepted, and the settings calls. The exported entry points
// (Exports.cpp) forward here with the libftdi1 wire; tests pass their own.
#pragma once

#include <cstdio>

#include "Wire.h"
#include "d2xx.h"

// The wire and where the one-line hints for an unusable device go.
struct D2xxContext {
    const Wire* wire;
    std::FILE* hints;
};

namespace d2xx {

FT_STATUS open(const D2xxContext& ctx, int deviceNumber, FT_HANDLE* handle);
FT_STATUS openEx(const D2xxContext& ctx, void* arg1, DWORD flags, FT_HANDLE* handle);
FT_STATUS listDevices(const D2xxContext& ctx, void* arg1, void* arg2, DWORD flags);
FT_STATUS close(FT_HANDLE handle);
FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got);
FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written);
FT_STATUS resetDevice(FT_HANDLE handle);
FT_STATUS purge(FT_HANDLE handle, ULONG mask);
FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baud);
FT_STATUS setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
FT_STATUS getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus);
FT_STATUS setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR ms);
FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);

// A transfer size as the device moves it: whole packets, one at least,
// 64 KB at most.
DWORD roundTransferSize(ULONG requested, int packetSize);

// Number of channels of an FTDI chip by its product id.
int channelCount(std::uint16_t productId);

}  // namespace d2xx
