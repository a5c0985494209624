// Host-side bookkeeping of the JTAG TAP controller and the walk between states.
#pragma once

#include <cstdint>

// The XSVF state codes.
enum TapState : std::uint8_t {
    TAP_RESET = 0,
    TAP_RUNTEST_IDLE = 1,
    TAP_DRSELECT = 2,
    TAP_DRCAPTURE = 3,
    TAP_DRSHIFT = 4,
    TAP_DREXIT1 = 5,
    TAP_DRPAUSE = 6,
    TAP_DREXIT2 = 7,
    TAP_DRUPDATE = 8,
    TAP_IRSELECT = 9,
    TAP_IRCAPTURE = 10,
    TAP_IRSHIFT = 11,
    TAP_IREXIT1 = 12,
    TAP_IRPAUSE = 13,
    TAP_IREXIT2 = 14,
    TAP_IRUPDATE = 15,
};

constexpr int TAP_STATE_COUNT = 16;
extern const char* const tapStateNames[TAP_STATE_COUNT];

// Clocks the TAP from `state` to `target` and leaves the reached state in
// `state`. Returns 0, or 5 for an exit-2 target not reached from its pause
// state, an unknown current state or a target above 15.
int tapGotoState(TapState& state, std::uint8_t target);
