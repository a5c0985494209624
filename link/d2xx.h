// Our own declarations of the D2XX driver interface, written from FTDI's
// published function signatures. Widths are exact on every platform because
// the driver library is loaded at run time and called through pointers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "D2xxEntryPoints.h"

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
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
constexpr FT_STATUS FT_INVALID_ARGS = 16;
constexpr FT_STATUS FT_NOT_SUPPORTED = 17;
constexpr FT_STATUS FT_OTHER_ERROR = 18;

// What the driver libraries answer to; the programs themselves name few of these.
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
constexpr DWORD FT_LIST_ALL = 0x20000000;
constexpr USHORT FT_FLOW_NONE = 0x0000;
constexpr USHORT FT_FLOW_RTS_CTS = 0x0100;
constexpr USHORT FT_FLOW_DTR_DSR = 0x0200;
constexpr USHORT FT_FLOW_XON_XOFF = 0x0400;
// The buffer FT_ListDevices fills with one description or serial number.
constexpr std::size_t FT_NAME_BUFFER_SIZE = 64;

constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

constexpr UCHAR FT_BITMODE_RESET = 0x00;
constexpr UCHAR FT_BITMODE_SYNC_FIFO = 0x40;

// Entry-point types, one per exported function: PFN_FT_Write and so on.
#define VEXLO_D2XX_PFN(name, step, missing, params, args, method) using PFN_##name = FT_STATUS(FT_API*) params;
VEXLO_D2XX_ENTRY_POINTS(VEXLO_D2XX_PFN)
#undef VEXLO_D2XX_PFN

// The entry points by their position in the table (CartridgeLink's field order).
enum class D2xxEntry {
#define VEXLO_D2XX_ENUM(name, step, missing, params, args, method) name,
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_D2XX_ENUM)
#undef VEXLO_D2XX_ENUM
};

struct D2xxEntryInfo {
    const char* name;
    int resolveStep;           // 1 to D2XX_ENTRY_COUNT
    const char* missingText;   // what BindDriver prints when the library lacks it
    bool takesDeviceHandle;    // the first argument is the open device's handle
};

inline constexpr D2xxEntryInfo D2XX_ENTRIES[] = {
#define VEXLO_D2XX_INFO(name, step, missing, params, args, method) \
    {#name, step, missing, std::string_view(#params).starts_with("(FT_HANDLE handle")},
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_D2XX_INFO)
#undef VEXLO_D2XX_INFO
};

inline constexpr std::size_t D2XX_ENTRY_COUNT = std::size(D2XX_ENTRIES);

constexpr const D2xxEntryInfo& d2xxEntry(D2xxEntry entry) { return D2XX_ENTRIES[static_cast<std::size_t>(entry)]; }

// Each resolve step is taken by exactly one entry point.
static_assert([] {
    for (std::size_t step = 1; step <= D2XX_ENTRY_COUNT; ++step) {
        std::size_t taken = 0;
        for (const D2xxEntryInfo& e : D2XX_ENTRIES) {
            taken += e.resolveStep == static_cast<int>(step) ? 1 : 0;
        }
        if (taken != 1) {
            return false;
        }
    }
    return true;
}());
