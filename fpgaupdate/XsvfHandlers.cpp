#include "XsvfHandlers.h"

#include "Console.h"
#include "PinDriver.h"
#include "ShiftEngine.h"

std::int16_t fpgaBlockCount = 0;

namespace {

// Numbers travel through `tdi` like every other operand and are combined
// most significant byte first.
std::uint32_t readNumber(SXsvfInfo& info, int byteCount) {
    readXsvfVector(info.tdi, byteCount);
    std::uint32_t value = 0;
    for (int i = 0; i < info.tdi.length; ++i) {
        value = (value << 8) | info.tdi.bytes[i];
    }
    return value;
}

const char* stateName(std::uint8_t state) {
    return state < TAP_STATE_COUNT ? tapStateNames[state] : "Unknown";
}

int fail(SXsvfInfo& info, int code) {
    if (code != ERR_NONE) {
        info.errorCode = code;
    }
    return code;
}

// The data-register shift of XSDR, XSDRTDO and XSDRINC.
int shiftDataRegister(SXsvfInfo& info) {
    return shiftWithCheck(info.tapState, TAP_DRSHIFT, info.sdrSizeBits, info.tdi, &info.tdoCaptured,
                          &info.tdoExpected, &info.tdoMask, info.endDrState, info.runTestTime, info.repeatLimit);
}

int shiftInstruction(SXsvfInfo& info, int bitCount) {
    readXsvfVector(info.tdi, (bitCount + 7) / 8);
    return fail(info, shiftWithCheck(info.tapState, TAP_IRSHIFT, bitCount, info.tdi, nullptr, nullptr, nullptr,
                                     info.endIrState, info.runTestTime, 0));
}

// tdi += addressMask, one big-endian number over tdi's bytes.
void addAddressMask(ShiftValue& tdi, const ShiftValue& addressMask) {
    unsigned carry = 0;
    for (int i = tdi.length - 1; i >= 0; --i) {
        const unsigned sum = tdi.bytes[i] + addressMask.bytes[i] + carry;
        tdi.bytes[i] = static_cast<std::uint8_t>(sum);
        carry = sum > 0xFF ? 1 : 0;
    }
}

// Puts the piece's bits, lowest first, into the tdi bits that dataMask marks.
void insertDataBits(ShiftValue& tdi, const ShiftValue& dataMask, const ShiftValue& data) {
    int dataIndex = data.length - 1;
    int dataBit = 8;  // forces a fetch for the first bit
    std::uint8_t dataByte = 0;
    for (int i = dataMask.length - 1; i >= 0; --i) {
        const std::uint8_t mask = dataMask.bytes[i];
        for (int bit = 0; bit < 8 && (mask >> bit) != 0; ++bit) {
            if ((mask & (1u << bit)) == 0) {
                continue;
            }
            if (dataBit == 8) {
                dataByte = dataIndex >= 0 ? data.bytes[dataIndex--] : 0;
                dataBit = 0;
            }
            if ((dataByte >> dataBit) & 1) {
                tdi.bytes[i] = static_cast<std::uint8_t>(tdi.bytes[i] | (1u << bit));
            } else {
                tdi.bytes[i] = static_cast<std::uint8_t>(tdi.bytes[i] & ~(1u << bit));
            }
            ++dataBit;
        }
    }
}

int countOnes(const ShiftValue& value) {
    int ones = 0;
    for (int i = 0; i < value.length; ++i) {
        for (std::uint8_t b = value.bytes[i]; b != 0; b = static_cast<std::uint8_t>(b & (b - 1))) {
            ++ones;
        }
    }
    return ones;
}

}  // namespace

int handleXTDOMASK(SXsvfInfo& info) {
    readXsvfVector(info.tdoMask, info.sdrSizeBytes);
    if (debugLevel >= 4) {
        consolePrintf("    TDO Mask     = ");
        dumpVector(&info.tdoMask);
    }
    return ERR_NONE;
}

int handleXSIR(SXsvfInfo& info) {
    const int bitCount = readXsvfByte();
    if (debugLevel >= 3) {
        consolePrintf("   XSIR length = %d\n", bitCount);
    }
    return shiftInstruction(info, bitCount);
}

int handleXSIR2(SXsvfInfo& info) {
    const int bitCount = static_cast<int>(readNumber(info, 2));
    if (debugLevel >= 3) {
        consolePrintf("   XSIR2 length = %d\n", bitCount);
    }
    if ((bitCount + 7) / 8 > MAX_LEN) {
        return fail(info, ERR_DATA_OVERFLOW);
    }
    return shiftInstruction(info, bitCount);
}

int handleXSDR(SXsvfInfo& info) {
    readXsvfVector(info.tdi, info.sdrSizeBytes);
    return fail(info, shiftDataRegister(info));
}

int handleXRUNTEST(SXsvfInfo& info) {
    info.runTestTime = static_cast<std::int32_t>(readNumber(info, 4));
    if (debugLevel >= 3) {
        consolePrintf("   XRUNTEST = %ld\n", static_cast<long>(info.runTestTime));
    }
    return ERR_NONE;
}

int handleXREPEAT(SXsvfInfo& info) {
    info.repeatLimit = readXsvfByte();
    if (debugLevel >= 3) {
        consolePrintf("   XREPEAT = %d\n", info.repeatLimit);
    }
    return ERR_NONE;
}

int handleXSDRSIZE(SXsvfInfo& info) {
    const std::uint32_t bits = readNumber(info, 4);
    if (debugLevel >= 3) {
        consolePrintf("   XSDRSIZE = %ld\n", static_cast<long>(static_cast<std::int32_t>(bits)));
    }
    if (bits == static_cast<std::uint32_t>(BLOCK_SHIFT_BITS)) {
        if (debugLevel >= 0) {
            consolePrintf("Writing FPGA block = %ld/555\r", static_cast<long>(fpgaBlockCount + 1));
            consoleFlush();
        }
        ++fpgaBlockCount;
    }
    // 64-bit so that sizes near 2^32 cannot wrap into a small byte count.
    const std::uint64_t byteCount = (std::uint64_t{bits} + 7) / 8;
    if (byteCount > static_cast<std::uint64_t>(MAX_LEN)) {
        return fail(info, ERR_DATA_OVERFLOW);
    }
    info.sdrSizeBits = static_cast<std::int32_t>(bits);
    info.sdrSizeBytes = static_cast<std::int16_t>(byteCount);
    return ERR_NONE;
}

int handleXSDRTDO(SXsvfInfo& info) {
    return fail(info, loadAndShift(info.tapState, info.sdrSizeBits, info.sdrSizeBytes, info.tdi, &info.tdoCaptured,
                                   &info.tdoExpected, &info.tdoMask, info.endDrState, info.runTestTime,
                                   info.repeatLimit));
}

int handleXSETSDRMASKS(SXsvfInfo& info) {
    readXsvfVector(info.addressMask, info.sdrSizeBytes);
    readXsvfVector(info.dataMask, info.sdrSizeBytes);
    if (debugLevel >= 4) {
        consolePrintf("    Address Mask = ");
        dumpVector(&info.addressMask);
        consolePrintf("    Data Mask    = ");
        dumpVector(&info.dataMask);
    }
    return ERR_NONE;
}

int handleXSDRINC(SXsvfInfo& info) {
    readXsvfVector(info.tdi, info.sdrSizeBytes);
    int result = shiftDataRegister(info);
    if (result != ERR_NONE) {
        return fail(info, result);
    }
    const int dataBytes = (countOnes(info.dataMask) + 7) / 8;
    const int pieces = readXsvfByte();
    for (int piece = 0; piece < pieces; ++piece) {
        readXsvfVector(info.sdrIncData, dataBytes);
        addAddressMask(info.tdi, info.addressMask);
        insertDataBits(info.tdi, info.dataMask, info.sdrIncData);
        result = shiftDataRegister(info);
        if (result != ERR_NONE) {
            return fail(info, result);
        }
    }
    return ERR_NONE;
}

int handleXSDRBCE(SXsvfInfo& info) {
    const TapState endState = info.commandCode == XSDRE ? info.endDrState : TAP_DRSHIFT;
    readXsvfVector(info.tdi, info.sdrSizeBytes);
    return fail(info, shiftWithCheck(info.tapState, TAP_DRSHIFT, info.sdrSizeBits, info.tdi, nullptr, nullptr,
                                     nullptr, endState, 0, 0));
}

int handleXSDRTDOBCE(SXsvfInfo& info) {
    const TapState endState = info.commandCode == XSDRTDOE ? info.endDrState : TAP_DRSHIFT;
    return fail(info, loadAndShift(info.tapState, info.sdrSizeBits, info.sdrSizeBytes, info.tdi, &info.tdoCaptured,
                                   &info.tdoExpected, nullptr, endState, 0, 0));
}

int handleXSTATE(SXsvfInfo& info) {
    const std::uint8_t state = readXsvfByte();
    // A code above 15 names no state; the walk could never reach it.
    if (state >= TAP_STATE_COUNT) {
        return fail(info, ERR_ILLEGAL_STATE);
    }
    return fail(info, tapGotoState(info.tapState, state));
}

int handleEndState(SXsvfInfo& info) {
    const std::uint8_t value = readXsvfByte();
    if (value > 1) {
        return fail(info, ERR_ILLEGAL_STATE);
    }
    if (info.commandCode == XENDIR) {
        info.endIrState = xsvfEndState(XENDIR, value);
        if (debugLevel >= 3) {
            consolePrintf("   ENDIR State = %s\n", tapStateNames[info.endIrState]);
        }
    } else {
        info.endDrState = xsvfEndState(XENDDR, value);
        if (debugLevel >= 3) {
            consolePrintf("   ENDDR State = %s\n", tapStateNames[info.endDrState]);
        }
    }
    return ERR_NONE;
}

int handleXCOMMENT(SXsvfInfo& info) {
    const bool echo = debugLevel >= 1;
    if (echo) {
        consolePrintf(" ");
    }
    for (;;) {
        // A comment cut off by the end of the file ends there; the next
        // command read then reports the end of file.
        const int c = std::fgetc(xsvfFile);
        if (c == EOF || c == 0) {
            if (echo && c == 0) {
                consolePrintf("\n");
            }
            break;
        }
        if (echo) {
            consolePrintf("%c", c);
        }
    }
    info.errorCode = ERR_NONE;
    return ERR_NONE;
}

int handleXWAIT(SXsvfInfo& info) {
    const auto waitState = static_cast<std::uint8_t>(readNumber(info, 1));
    const auto endState = static_cast<std::uint8_t>(readNumber(info, 1));
    const auto time = static_cast<std::int32_t>(readNumber(info, 4));
    if (debugLevel >= 3) {
        consolePrintf("   XWAIT:  state = %s; time = %ld\n", stateName(waitState), static_cast<long>(time));
    }
    // XWAIT never fails: a state code above 15 only skips that move.
    if (waitState < TAP_STATE_COUNT && info.tapState != waitState) {
        tapGotoState(info.tapState, waitState);
    }
    waitMicroseconds(time);
    if (endState < TAP_STATE_COUNT && info.tapState != endState) {
        tapGotoState(info.tapState, endState);
    }
    return ERR_NONE;
}
