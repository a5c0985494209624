// The TAP walk: TMS sequences checked against the standard's state diagram.
#include "CartridgeCommands.h"
#include "JtagDevice.h"
#include "PinDriver.h"
#include "TapState.h"
#include "UpdaterFixture.h"

namespace {

using TapStateTest = UpdaterTest;

bool isShiftOrPause(int state) {
    return state == TAP_DRSHIFT || state == TAP_DRPAUSE || state == TAP_IRSHIFT || state == TAP_IRPAUSE;
}

bool rejectedExit(int current, int target) {
    return (target == TAP_DREXIT2 && current != TAP_DRPAUSE && current != TAP_DREXIT2) ||
           (target == TAP_IREXIT2 && current != TAP_IRPAUSE && current != TAP_IREXIT2);
}

TEST_F(TapStateTest, EveryStateReachesEveryTargetWithoutResetOrStrayShifts) {
    for (int current = 0; current < 16; ++current) {
        for (int target = 1; target < 16; ++target) {
            SCOPED_TRACE(std::string(tapStateNames[current]) + " -> " + tapStateNames[target]);
            fakeDriver().reset();
            TapState state = static_cast<TapState>(current);
            const int result = tapGotoState(state, static_cast<std::uint8_t>(target));
            const auto tms = tmsOf(risingEdges(ops()));
            if (rejectedExit(current, target)) {
                EXPECT_EQ(result, ERR_ILLEGAL_STATE);
                EXPECT_EQ(state, current);
                EXPECT_TRUE(fakeDriver().calls.empty());
                continue;
            }
            EXPECT_EQ(result, ERR_NONE);
            EXPECT_EQ(state, target);
            // Replay the clocks on the standard diagram.
            int model = current;
            for (std::size_t i = 0; i < tms.size(); ++i) {
                model = jtagNextState(model, tms[i] != 0);
                ASSERT_NE(model, TAP_RESET) << "clock " << i;
                if (i + 1 < tms.size()) {
                    ASSERT_FALSE(isShiftOrPause(model)) << "passes " << tapStateNames[model];
                }
            }
            EXPECT_EQ(model, target);
            if (current == target && !isShiftOrPause(current)) {
                EXPECT_TRUE(tms.empty());
            }
            EXPECT_EQ(pinShadow & PIN_TCK, PIN_TCK);
        }
    }
}

TEST_F(TapStateTest, KnownSequences) {
    struct Case {
        TapState from;
        TapState to;
        std::vector<int> tms;
    };
    const Case cases[] = {
        {TAP_DRPAUSE, TAP_DRPAUSE, {1, 1, 1, 0, 1, 0}},
        {TAP_IRPAUSE, TAP_IRPAUSE, {1, 1, 1, 1, 0, 1, 0}},
        {TAP_DRPAUSE, TAP_DREXIT2, {1}},
        {TAP_RUNTEST_IDLE, TAP_DRSHIFT, {1, 0, 0}},
        {TAP_RUNTEST_IDLE, TAP_IRSHIFT, {1, 1, 0, 0}},
        {TAP_DRSHIFT, TAP_RUNTEST_IDLE, {1, 1, 0}},
        {TAP_RESET, TAP_RUNTEST_IDLE, {0}},
        {TAP_DREXIT1, TAP_DRSHIFT, {1, 1, 0, 0}},      // not through Pause-DR
        {TAP_DREXIT2, TAP_DRPAUSE, {1, 1, 0, 1, 0}},   // not through Shift-DR
        {TAP_DREXIT2, TAP_DREXIT2, {}},
        {TAP_RUNTEST_IDLE, TAP_RUNTEST_IDLE, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(tapStateNames[c.from]) + " -> " + tapStateNames[c.to]);
        fakeDriver().reset();
        TapState state = c.from;
        EXPECT_EQ(tapGotoState(state, c.to), ERR_NONE);
        EXPECT_EQ(tmsOf(risingEdges(ops())), c.tms);
        EXPECT_EQ(ops().size(), 3 * c.tms.size()) << "one clockTms per step";
    }
}

TEST_F(TapStateTest, ResetIsThirteenPinWritesWithSixTmsHighEdgesFromAnyState) {
    for (int from : {0, 1, 4, 13, 200}) {
        SCOPED_TRACE(from);
        fakeDriver().reset();
        pinShadow = PIN_TCK | PIN_TDI;
        TapState state = static_cast<TapState>(from);
        EXPECT_EQ(tapGotoState(state, TAP_RESET), ERR_NONE);
        EXPECT_EQ(state, TAP_RESET);
        std::vector<PinOp> expected = {{'s', 0x07}, {'s', 0x05}, {'s', 0x07}};
        for (int i = 0; i < 5; ++i) {
            expected.push_back({'s', 0x05});
            expected.push_back({'s', 0x07});
        }
        EXPECT_EQ(ops(), expected);
    }
}

TEST_F(TapStateTest, IllegalRequests) {
    struct Case {
        int from;
        int target;
        int result;
        int after;
    };
    const Case cases[] = {
        {TAP_RUNTEST_IDLE, TAP_DREXIT2, 5, TAP_RUNTEST_IDLE},
        {TAP_DRSHIFT, TAP_IREXIT2, 5, TAP_DRSHIFT},
        {200, TAP_DRSHIFT, 5, TAP_DRSHIFT},  // unknown state: the target is taken on trust
        {TAP_RUNTEST_IDLE, 16, 5, TAP_RUNTEST_IDLE},
        {TAP_DRPAUSE, 255, 5, TAP_DRPAUSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.target));
        fakeDriver().reset();
        TapState state = static_cast<TapState>(c.from);
        EXPECT_EQ(tapGotoState(state, static_cast<std::uint8_t>(c.target)), c.result);
        EXPECT_EQ(state, c.after);
        EXPECT_TRUE(fakeDriver().calls.empty());
    }
}

TEST_F(TapStateTest, TracesOnlyFromLevelThree) {
    {
        debugLevel = 2;
        ConsoleCapture console;
        TapState state = TAP_RESET;
        tapGotoState(state, TAP_RESET);
        tapGotoState(state, TAP_DRSHIFT);
        EXPECT_EQ(console.out(), "");
    }
    {
        debugLevel = 3;
        ConsoleCapture console;
        TapState state = TAP_DRPAUSE;
        tapGotoState(state, TAP_RESET);
        tapGotoState(state, TAP_DRSHIFT);
        EXPECT_EQ(console.out(),
                  "   TMS Reset Sequence -> Test-Logic-Reset\n"
                  "   TAP State = RESET\n"
                  "   TAP State = RUNTEST/IDLE\n"
                  "   TAP State = DRSELECT\n"
                  "   TAP State = DRCAPTURE\n"
                  "   TAP State = DRSHIFT\n");
    }
}

}  // namespace
