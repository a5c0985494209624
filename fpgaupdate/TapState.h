// Host-side bookkeeping of the JTAG TAP controller and the walk between states.
#pragma once

#include <cstdint>

// TapState, its sixteen codes and tapStateNames.
#include "XsvfFormat.h"

// Clocks the TAP from `state` to `target` and leaves the reached state in
// `state`. Returns 0, or 5 for an exit-2 target not reached from its pause
// state, an unknown current state or a target above 15.
int tapGotoState(TapState& state, std::uint8_t target);
