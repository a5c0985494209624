// Plays an XSVF file command by command through the JTAG pin driver.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ShiftValue.h"
#include "TapState.h"
// The command codes, xsvfCommandNames and each command's operands.
#include "XsvfFormat.h"

enum XsvfError : int {
    ERR_NONE = 0,
    ERR_UNKNOWN = 1,
    ERR_TDO_MISMATCH = 2,
    ERR_MAX_RETRIES = 3,
    ERR_UNSUPPORTED_COMMAND = 4,
    ERR_ILLEGAL_STATE = 5,
    ERR_DATA_OVERFLOW = 6,
};

constexpr int XSVF_ERROR_COUNT = 7;

// The player's state for one run.
struct SXsvfInfo {
    std::uint8_t completed;
    std::uint8_t commandCode;
    std::int32_t commandCount;
    std::int32_t errorCode;
    TapState tapState;
    TapState endIrState;
    TapState endDrState;
    std::uint8_t repeatLimit;
    std::int32_t runTestTime;
    std::int32_t sdrSizeBits;
    std::int16_t sdrSizeBytes;
    ShiftValue tdi;
    ShiftValue tdoExpected;
    ShiftValue tdoCaptured;
    ShiftValue tdoMask;
    ShiftValue addressMask;
    ShiftValue dataMask;
    ShiftValue sdrIncData;
};

using XsvfHandler = int (*)(SXsvfInfo& info);

extern const XsvfHandler xsvfHandlers[XSVF_COMMAND_COUNT];
extern const char* const xsvfErrorTexts[XSVF_ERROR_COUNT];

// Trace level of the player, shift engine, handlers and TAP walk; 0 shows
// errors and progress only.
extern int debugLevel;
// The open XSVF stream, read one byte at a time.
extern std::FILE* xsvfFile;
// Register shifts of one bit or more in the current run (playXsvf starts it
// at 0): a file that completes without one has changed nothing.
extern std::int64_t xsvfScanCount;

// Start values of a run: everything zero, end states Run-Test/Idle.
void initXsvfInfo(SXsvfInfo& info);
// Runs the whole file on `info` (initialised here) and returns the final
// error code, 0 after XCOMPLETE.
int playXsvf(SXsvfInfo& info);
// The same on the program's one record.
int playXsvf();

int handleUnsupported(SXsvfInfo& info);
int handleXCOMPLETE(SXsvfInfo& info);

// File access shared by the handlers: end of file reads as 255.
std::uint8_t readXsvfByte();
// Sets `value.length` to `count` and reads that many bytes in file order.
void readXsvfVector(ShiftValue& value, int count);
// "0x" and each byte as "%02x", byte 0 first, then "\n"; only "\n" when absent.
void dumpVector(const ShiftValue* value);
