#include "TapState.h"

#include "CartridgeCommands.h"
#include "Console.h"
#include "PinDriver.h"
#include "XsvfPlayer.h"

namespace {

struct Step {
    std::int16_t tms;
    TapState next;
};

// One clock toward `target`. Not a shortest path: the walk never passes
// Test-Logic-Reset and enters shift and pause states only as the target.
Step nextStep(TapState current, TapState target) {
    switch (current) {
        case TAP_RESET: return {0, TAP_RUNTEST_IDLE};
        case TAP_RUNTEST_IDLE: return {1, TAP_DRSELECT};
        case TAP_DRSELECT: return target < TAP_IRSELECT ? Step{0, TAP_DRCAPTURE} : Step{1, TAP_IRSELECT};
        case TAP_DRCAPTURE: return target == TAP_DRSHIFT ? Step{0, TAP_DRSHIFT} : Step{1, TAP_DREXIT1};
        case TAP_DRSHIFT: return {1, TAP_DREXIT1};
        case TAP_DREXIT1: return target == TAP_DRPAUSE ? Step{0, TAP_DRPAUSE} : Step{1, TAP_DRUPDATE};
        case TAP_DRPAUSE: return {1, TAP_DREXIT2};
        case TAP_DREXIT2: return target == TAP_DRSHIFT ? Step{0, TAP_DRSHIFT} : Step{1, TAP_DRUPDATE};
        case TAP_DRUPDATE: return target == TAP_RUNTEST_IDLE ? Step{0, TAP_RUNTEST_IDLE} : Step{1, TAP_DRSELECT};
        case TAP_IRSELECT: return {0, TAP_IRCAPTURE};
        case TAP_IRCAPTURE: return target == TAP_IRSHIFT ? Step{0, TAP_IRSHIFT} : Step{1, TAP_IREXIT1};
        case TAP_IRSHIFT: return {1, TAP_IREXIT1};
        case TAP_IREXIT1: return target == TAP_IRPAUSE ? Step{0, TAP_IRPAUSE} : Step{1, TAP_IRUPDATE};
        case TAP_IRPAUSE: return {1, TAP_IREXIT2};
        case TAP_IREXIT2: return target == TAP_IRSHIFT ? Step{0, TAP_IRSHIFT} : Step{1, TAP_IRUPDATE};
        case TAP_IRUPDATE: return target == TAP_RUNTEST_IDLE ? Step{0, TAP_RUNTEST_IDLE} : Step{1, TAP_DRSELECT};
    }
    return {0, target};  // not reached: callers handle unknown states
}

void traceState(TapState state) {
    if (debugLevel >= 3) {
        consolePrintf("   TAP State = %s\n", tapStateNames[state]);
    }
}

}  // namespace

int tapGotoState(TapState& state, std::uint8_t target) {
    // No walk ever reaches a code above 15; refuse it rather than loop.
    if (target >= TAP_STATE_COUNT) {
        return ERR_ILLEGAL_STATE;
    }
    const auto goal = static_cast<TapState>(target);

    if (goal == TAP_RESET) {
        // Six TMS-high rising edges: one more than the standard needs.
        clockTms(1);
        for (int i = 0; i < 5; ++i) {
            writePins(static_cast<std::uint8_t>(pinShadow & ~PIN_TCK));
            writePins(static_cast<std::uint8_t>(pinShadow | PIN_TCK));
        }
        state = TAP_RESET;
        if (debugLevel >= 3) {
            consolePrintf("   TMS Reset Sequence -> Test-Logic-Reset\n");
        }
        traceState(state);
        return ERR_NONE;
    }

    if (goal == state) {
        // Asking for the pause state again means leaving it and coming back.
        if (state == TAP_DRPAUSE || state == TAP_IRPAUSE) {
            clockTms(1);
            state = state == TAP_DRPAUSE ? TAP_DREXIT2 : TAP_IREXIT2;
            traceState(state);
        } else {
            return ERR_NONE;
        }
    } else if ((goal == TAP_DREXIT2 && state != TAP_DRPAUSE) || (goal == TAP_IREXIT2 && state != TAP_IRPAUSE)) {
        return ERR_ILLEGAL_STATE;
    }

    while (state != goal) {
        if (state >= TAP_STATE_COUNT) {
            // Nothing known about the TAP: take the target on trust.
            state = goal;
            traceState(state);
            return ERR_ILLEGAL_STATE;
        }
        const Step step = nextStep(state, goal);
        clockTms(step.tms);
        state = step.next;
        traceState(state);
    }
    return ERR_NONE;
}
