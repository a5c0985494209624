// One register shift with TDO check, repeated through Pause-DR on mismatch.
#pragma once

#include <cstdint>

#include "ShiftValue.h"
#include "TapState.h"

// Shifts `tdi` from `startState` (DRSHIFT or IRSHIFT), compares the captured
// TDO with `expected` under `mask` when given, ends in `endState` and waits
// `waitTime` us in Run-Test/Idle. Returns 0, 2 (mismatch) or 3 (mismatch
// after `repeatLimit` repeats).
int shiftWithCheck(TapState& tapState, TapState startState, std::int32_t bitCount, const ShiftValue& tdi,
                   ShiftValue* captured, const ShiftValue* expected, const ShiftValue* mask, TapState endState,
                   std::int32_t waitTime, std::uint8_t repeatLimit);

// Reads `byteCount` TDI bytes, then as many expected bytes when `expected`
// is given, and shifts them as a data register.
int loadAndShift(TapState& tapState, std::int32_t bitCount, std::int16_t byteCount, ShiftValue& tdi,
                 ShiftValue* captured, ShiftValue* expected, const ShiftValue* mask, TapState endState,
                 std::int32_t waitTime, std::uint8_t repeatLimit);

// True when `captured` equals `expected` in every bit `mask` has set (all
// bits without a mask), over `expected.length` bytes.
bool vectorsMatch(const ShiftValue& expected, const ShiftValue& captured, const ShiftValue* mask);
