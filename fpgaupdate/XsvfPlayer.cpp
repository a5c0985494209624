#include "XsvfPlayer.h"

#include <cstring>

#include "Console.h"
#include "PinDriver.h"
#include "XsvfHandlers.h"

int debugLevel = 0;
std::FILE* xsvfFile = nullptr;
std::int64_t xsvfScanCount = 0;

const XsvfHandler xsvfHandlers[XSVF_COMMAND_COUNT] = {
    handleXCOMPLETE,    handleXTDOMASK,     handleXSIR,         handleXSDR,      handleXRUNTEST,
    handleUnsupported,  handleUnsupported,  handleXREPEAT,      handleXSDRSIZE,  handleXSDRTDO,
    handleXSETSDRMASKS, handleXSDRINC,      handleXSDRBCE,      handleXSDRBCE,   handleXSDRBCE,
    handleXSDRTDOBCE,   handleXSDRTDOBCE,   handleXSDRTDOBCE,   handleXSTATE,    handleEndState,
    handleEndState,     handleXSIR2,        handleXCOMMENT,     handleXWAIT,
};

const char* const xsvfErrorTexts[XSVF_ERROR_COUNT] = {
    "No error",
    "ERROR:  Unknown",
    "ERROR:  TDO mismatch",
    "ERROR:  TDO mismatch and exceeded max retries",
    "ERROR:  Unsupported XSVF command",
    "ERROR:  Illegal state specification",
    "ERROR:  Data overflows allocated MAX_LEN buffer size",
};

namespace {

void reportUnsupported(std::uint8_t code) {
    if (debugLevel >= 0) {
        consolePrintf("ERROR:  Encountered unsupported command #%d (%s)\n", code,
                      code < XSVF_COMMAND_COUNT ? xsvfCommandNames[code] : "Unknown");
    }
}

}  // namespace

std::uint8_t readXsvfByte() {
    // End of file becomes 255, the low byte of EOF.
    return static_cast<std::uint8_t>(std::fgetc(xsvfFile));
}

void readXsvfVector(ShiftValue& value, int count) {
    value.length = static_cast<std::int16_t>(count);
    for (int i = 0; i < count; ++i) {
        value.bytes[i] = readXsvfByte();
    }
}

void dumpVector(const ShiftValue* value) {
    if (value != nullptr) {
        consolePrintf("0x");
        for (int i = 0; i < value->length; ++i) {
            consolePrintf("%02x", value->bytes[i]);
        }
    }
    consolePrintf("\n");
}

void initXsvfInfo(SXsvfInfo& info) {
    // Every vector starts as zero bytes, so a compare before any mask was
    // read compares nothing.
    std::memset(&info, 0, sizeof info);
    info.tapState = TAP_RESET;
    info.endIrState = TAP_RUNTEST_IDLE;
    info.endDrState = TAP_RUNTEST_IDLE;
}

int handleUnsupported(SXsvfInfo& info) {
    reportUnsupported(info.commandCode);
    info.errorCode = ERR_UNSUPPORTED_COMMAND;
    return ERR_UNSUPPORTED_COMMAND;
}

int handleXCOMPLETE(SXsvfInfo& info) {
    info.completed = 1;
    return ERR_NONE;
}

int playXsvf(SXsvfInfo& info) {
    if (debugLevel >= 4) {
        consolePrintf("    sizeof( SXsvfInfo ) = %d bytes\n", static_cast<int>(sizeof(SXsvfInfo)));
    }
    initXsvfInfo(info);
    xsvfScanCount = 0;
    info.errorCode = tapGotoState(info.tapState, TAP_RESET);

    while (info.errorCode == ERR_NONE && !pinLinkLost()) {
        if (info.completed != 0) {
            // Batched pins still queued go out before success is claimed.
            flushPins();
            if (pinLinkLost()) {
                break;
            }
            if (debugLevel >= 0) {
                consolePrintf("Completed FPGA update.            \n");
            }
            return info.errorCode;
        }
        const std::uint8_t code = readXsvfByte();
        ++info.commandCount;
        info.commandCode = code;
        if (code >= XSVF_COMMAND_COUNT) {
            reportUnsupported(code);
            info.errorCode = ERR_UNSUPPORTED_COMMAND;
            break;
        }
        if (debugLevel >= 2) {
            consolePrintf("  %s\n", xsvfCommandNames[code]);
        }
        xsvfHandlers[code](info);
    }

    flushPins();
    // A lost link has said what happened; the player's texts would not fit.
    if (debugLevel < 0 || pinLinkLost()) {
        return info.errorCode;
    }
    const int text = info.errorCode >= 0 && info.errorCode < XSVF_ERROR_COUNT ? info.errorCode : ERR_UNKNOWN;
    consolePrintf("%s\n", xsvfErrorTexts[text]);
    consolePrintf("ERROR at or near XSVF command #%ld.  See line #%ld in the XSVF ASCII file.\n",
                  static_cast<long>(info.commandCount), static_cast<long>(info.commandCount));
    return info.errorCode;
}

int playXsvf() {
    // Seven vectors of MAX_LEN bytes: too big for a small stack.
    static SXsvfInfo info;
    return playXsvf(info);
}
