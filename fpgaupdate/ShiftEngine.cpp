#include "ShiftEngine.h"

#include <limits>

#include "Console.h"
#include "PinDriver.h"
#include "XsvfPlayer.h"

namespace {

// The retry wait grows by a quarter (an arithmetic right shift by 2) and
// stops at the ends of the signed 32-bit range instead of wrapping.
std::int32_t grownWait(std::int32_t wait) {
    const std::int64_t grown = std::int64_t{wait} + (wait >> 2);
    if (grown > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (grown < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(grown);
}

void waitInRunTestIdle(TapState& tapState, std::int32_t wait) {
    tapGotoState(tapState, TAP_RUNTEST_IDLE);
    if (debugLevel >= 3) {
        consolePrintf("   Wait = %ld usec\n", static_cast<long>(wait));
    }
    waitMicroseconds(wait);
}

void dumpLine(const char* label, const ShiftValue* value) {
    consolePrintf("%s", label);
    dumpVector(value);
}

}  // namespace

bool vectorsMatch(const ShiftValue& expected, const ShiftValue& captured, const ShiftValue* mask) {
    for (int i = expected.length - 1; i >= 0; --i) {
        const std::uint8_t care = mask != nullptr ? mask->bytes[i] : 0xFF;
        if (((expected.bytes[i] ^ captured.bytes[i]) & care) != 0) {
            return false;
        }
    }
    return true;
}

int shiftWithCheck(TapState& tapState, TapState startState, std::int32_t bitCount, const ShiftValue& tdi,
                   ShiftValue* captured, const ShiftValue* expected, const ShiftValue* mask, TapState endState,
                   std::int32_t waitTime, std::uint8_t repeatLimit) {
    const bool exitShift = startState != endState;
    bool mismatch = false;
    std::uint8_t attempt = 0;
    std::int32_t wait = waitTime;

    if (debugLevel >= 3) {
        consolePrintf("   Shift Length = %ld\n", static_cast<long>(bitCount));
    }
    if (debugLevel >= 4) {
        dumpLine("    TDI          = ", &tdi);
        dumpLine("    TDO Expected = ", expected);
    }

    if (bitCount == 0) {
        if (wait != 0) {
            waitInRunTestIdle(tapState, wait);
        }
        return ERR_NONE;
    }

    ++xsvfScanCount;
    for (;;) {
        tapGotoState(tapState, startState);
        shiftBits(bitCount, tdi, captured, exitShift);
        if (expected != nullptr) {
            mismatch = !vectorsMatch(*expected, *captured, mask);
        }
        if (exitShift) {
            tapState = static_cast<TapState>(tapState + 1);  // Shift -> Exit1
            if (debugLevel >= 3) {
                consolePrintf("   TAP State = %s\n", tapStateNames[tapState]);
            }
            if (mismatch && wait != 0 && attempt < repeatLimit) {
                if (debugLevel >= 4) {
                    dumpLine("    TDO Expected = ", expected);
                    dumpLine("    TDO Captured = ", captured);
                    dumpLine("    TDO Mask     = ", mask);
                }
                if (debugLevel >= 3) {
                    consolePrintf("   Retry #%d\n", attempt + 1);
                }
                // The detour through Pause-DR gives the device time before
                // the shift is repeated.
                tapGotoState(tapState, TAP_DRPAUSE);
                tapGotoState(tapState, TAP_DRSHIFT);
                wait = grownWait(wait);
            } else {
                tapGotoState(tapState, endState);
            }
            if (wait != 0) {
                waitInRunTestIdle(tapState, wait);
            }
        }
        if (!mismatch) {
            return ERR_NONE;
        }
        if (attempt >= repeatLimit) {
            break;
        }
        ++attempt;
    }

    if (debugLevel >= 1) {
        dumpLine(" TDO Expected = ", expected);
        dumpLine(" TDO Captured = ", captured);
        dumpLine(" TDO Mask     = ", mask);
    }
    return repeatLimit != 0 ? ERR_MAX_RETRIES : ERR_TDO_MISMATCH;
}

int loadAndShift(TapState& tapState, std::int32_t bitCount, std::int16_t byteCount, ShiftValue& tdi,
                 ShiftValue* captured, ShiftValue* expected, const ShiftValue* mask, TapState endState,
                 std::int32_t waitTime, std::uint8_t repeatLimit) {
    readXsvfVector(tdi, byteCount);
    if (expected != nullptr) {
        readXsvfVector(*expected, byteCount);
    }
    return shiftWithCheck(tapState, TAP_DRSHIFT, bitCount, tdi, captured, expected, mask, endState, waitTime,
                          repeatLimit);
}
