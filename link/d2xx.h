// Our own declarations of the D2XX driver interface, written from FTDI's
// published function signatures. Widths are exact on every platform because
// the driver library is loaded at run time and called through pointers.
#pragma once

#include <cstdint>

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = std::uint8_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;

#if defined(_WIN32) && !defined(_WIN64)
#define FT_API __stdcall
#else
#define FT_API
#endif

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_OTHER_ERROR = 18;

constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

constexpr UCHAR FT_BITMODE_RESET = 0x00;
constexpr UCHAR FT_BITMODE_SYNC_FIFO = 0x40;

// Entry-point types, one per exported function.
using PFN_FT_Open = FT_STATUS(FT_API*)(int deviceNumber, FT_HANDLE* handle);
using PFN_FT_OpenEx = FT_STATUS(FT_API*)(void* arg1, DWORD flags, FT_HANDLE* handle);
using PFN_FT_ListDevices = FT_STATUS(FT_API*)(void* arg1, void* arg2, DWORD flags);
using PFN_FT_Close = FT_STATUS(FT_API*)(FT_HANDLE handle);
using PFN_FT_Read = FT_STATUS(FT_API*)(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned);
using PFN_FT_Write = FT_STATUS(FT_API*)(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
using PFN_FT_ResetDevice = FT_STATUS(FT_API*)(FT_HANDLE handle);
using PFN_FT_Purge = FT_STATUS(FT_API*)(FT_HANDLE handle, ULONG mask);
using PFN_FT_SetTimeouts = FT_STATUS(FT_API*)(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
using PFN_FT_GetQueueStatus = FT_STATUS(FT_API*)(FT_HANDLE handle, DWORD* rxBytes);
using PFN_FT_SetBaudRate = FT_STATUS(FT_API*)(FT_HANDLE handle, ULONG baudRate);
using PFN_FT_SetDataCharacteristics = FT_STATUS(FT_API*)(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
using PFN_FT_SetFlowControl = FT_STATUS(FT_API*)(FT_HANDLE handle, USHORT flowControl, UCHAR xonChar, UCHAR xoffChar);
using PFN_FT_GetStatus = FT_STATUS(FT_API*)(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus);
using PFN_FT_SetUSBParameters = FT_STATUS(FT_API*)(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize);
using PFN_FT_SetLatencyTimer = FT_STATUS(FT_API*)(FT_HANDLE handle, UCHAR latency);
using PFN_FT_SetBitMode = FT_STATUS(FT_API*)(FT_HANDLE handle, UCHAR mask, UCHAR mode);
using PFN_FT_Reload = FT_STATUS(FT_API*)(WORD vid, WORD pid);
