// The JTAG device model against IEEE 1149.1: TAP transitions, the registers,
// and when TDO changes relative to TCK edges.
#include <gtest/gtest.h>

#include <vector>

#include "JtagDevice.h"

namespace {

enum {
    RESET, IDLE, DRSELECT, DRCAPTURE, DRSHIFT, DREXIT1, DRPAUSE, DREXIT2, DRUPDATE,
    IRSELECT, IRCAPTURE, IRSHIFT, IREXIT1, IRPAUSE, IREXIT2, IRUPDATE,
};

// The standard's state diagram, written out independently of the model:
// kExpected[state] = {next with TMS 0, next with TMS 1}.
const int kExpected[16][2] = {
    {IDLE, RESET},           {IDLE, DRSELECT},       {DRCAPTURE, IRSELECT}, {DRSHIFT, DREXIT1},
    {DRSHIFT, DREXIT1},      {DRPAUSE, DRUPDATE},    {DRPAUSE, DREXIT2},    {DRSHIFT, DRUPDATE},
    {IDLE, DRSELECT},        {IRCAPTURE, RESET},     {IRSHIFT, IREXIT1},    {IRSHIFT, IREXIT1},
    {IRPAUSE, IRUPDATE},     {IRPAUSE, IREXIT2},     {IRSHIFT, IRUPDATE},   {IDLE, DRSELECT},
};

// TMS levels that lead from Test-Logic-Reset to each state.
const std::vector<bool> kPathFromReset[16] = {
    {},
    {0},
    {0, 1},
    {0, 1, 0},
    {0, 1, 0, 0},
    {0, 1, 0, 1},
    {0, 1, 0, 1, 0},
    {0, 1, 0, 1, 0, 1},
    {0, 1, 0, 1, 1},
    {0, 1, 1},
    {0, 1, 1, 0},
    {0, 1, 1, 0, 0},
    {0, 1, 1, 0, 1},
    {0, 1, 1, 0, 1, 0},
    {0, 1, 1, 0, 1, 0, 1},
    {0, 1, 1, 0, 1, 1},
};

void walk(JtagDevice& device, const std::vector<bool>& tms) {
    for (bool level : tms) {
        device.clockCycle(level, false);
    }
}

void resetTap(JtagDevice& device) { walk(device, {1, 1, 1, 1, 1}); }

// Shifts bits the way the updater's pin driver does: TDI first, TCK low,
// sample TDO, TCK high. TMS goes high on the last bit when `exitLast`.
std::vector<bool> shift(JtagDevice& device, const std::vector<bool>& tdi, bool exitLast = true) {
    std::vector<bool> out;
    for (std::size_t i = 0; i < tdi.size(); ++i) {
        const bool tms = exitLast && i + 1 == tdi.size();
        device.setPins(true, tms, tdi[i]);
        device.setPins(false, tms, tdi[i]);
        out.push_back(device.tdo());
        device.setPins(true, tms, tdi[i]);
    }
    return out;
}

std::vector<bool> bitsOf(std::uint64_t value, unsigned count) {
    std::vector<bool> bits;
    for (unsigned i = 0; i < count; ++i) {
        bits.push_back(((value >> i) & 1u) != 0);
    }
    return bits;
}

// From Run-Test/Idle: load an instruction and come back to Run-Test/Idle.
void loadInstruction(JtagDevice& device, std::uint32_t instruction) {
    walk(device, {1, 1, 0, 0});
    shift(device, bitsOf(instruction, device.config().irLength));
    walk(device, {1, 0});
}

// From Run-Test/Idle: one data scan, back to Run-Test/Idle; returns TDO.
std::vector<bool> scanDr(JtagDevice& device, const std::vector<bool>& tdi) {
    walk(device, {1, 0, 0});
    std::vector<bool> out = shift(device, tdi);
    walk(device, {1, 0});
    return out;
}

TEST(JtagDevice, EveryStateFollowsTheStandardDiagramForBothTmsLevels) {
    for (int state = 0; state < 16; ++state) {
        for (int tms = 0; tms < 2; ++tms) {
            JtagDevice device;
            walk(device, kPathFromReset[state]);
            ASSERT_EQ(device.state(), state) << "path to " << jtagStateName(state);
            device.clockCycle(tms != 0, false);
            EXPECT_EQ(device.state(), kExpected[state][tms])
                << jtagStateName(state) << " with TMS " << tms;
            EXPECT_EQ(jtagNextState(state, tms != 0), kExpected[state][tms]);
        }
    }
}

TEST(JtagDevice, FiveTmsHighClocksResetFromEveryState) {
    for (int state = 0; state < 16; ++state) {
        JtagDevice device;
        walk(device, kPathFromReset[state]);
        resetTap(device);
        EXPECT_EQ(device.state(), RESET) << "from " << jtagStateName(state);
    }
}

TEST(JtagDevice, StateNamesAreTheXsvfNames) {
    EXPECT_STREQ(jtagStateName(0), "RESET");
    EXPECT_STREQ(jtagStateName(1), "RUNTEST/IDLE");
    EXPECT_STREQ(jtagStateName(15), "IRUPDATE");
    EXPECT_STREQ(jtagStateName(16), "?");
}

TEST(JtagDevice, EdgesActOnlyOnTckTransitions) {
    JtagDevice device;
    // TMS and TDI changes with TCK steady are not clocks.
    device.setPins(false, false, true);
    device.setPins(false, true, false);
    device.setPins(false, false, false);
    EXPECT_EQ(device.risingEdges(), 0u);
    device.setPins(true, false, false);   // rising: RESET -> IDLE
    device.setPins(true, true, true);     // no edge
    EXPECT_EQ(device.state(), IDLE);
    device.setPins(false, true, true);
    EXPECT_EQ(device.state(), IDLE);      // falling edges never move the TAP
    device.setPins(true, true, true);
    EXPECT_EQ(device.state(), DRSELECT);
    EXPECT_EQ(device.risingEdges(), 2u);
    EXPECT_EQ(device.fallingEdges(), 1u);
}

TEST(JtagDevice, CaptureIrLoadsZeroOneInTheLowBits) {
    struct Case {
        unsigned irLength;
        std::uint32_t irCapture;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {8, 0x01, 0x01},
        {8, 0xA6, 0xA5},  // the low two bits are fixed by the standard
        {6, 0xFF, 0x3D},  // masked to the register length
        {32, 0x80000000u, 0x80000001u},
    };
    for (const Case& c : cases) {
        JtagDeviceConfig config;
        config.irLength = c.irLength;
        config.irCapture = c.irCapture;
        JtagDevice device(config);
        walk(device, {0, 1, 1, 0, 0});
        const std::vector<bool> out = shift(device, std::vector<bool>(c.irLength, true));
        EXPECT_EQ(jtagBitsToValue(out), c.expected) << "IR length " << c.irLength;
    }
}

TEST(JtagDevice, IdcodeIsSelectedAfterPowerUpAndAfterReset) {
    JtagDevice device;
    EXPECT_EQ(device.instruction(), 0x01u);
    walk(device, {0});
    EXPECT_EQ(jtagBitsToValue(scanDr(device, std::vector<bool>(32, false))), 0x0ACE50DBu);

    loadInstruction(device, 0x55);
    EXPECT_EQ(device.instruction(), 0x55u);
    resetTap(device);
    EXPECT_EQ(device.instruction(), 0x01u);
    EXPECT_EQ(device.resets(), 1u);
    walk(device, {0});
    // IDCODE is read-only: shifting ones in does not change the next capture.
    scanDr(device, std::vector<bool>(32, true));
    EXPECT_EQ(jtagBitsToValue(scanDr(device, std::vector<bool>(32, false))), 0x0ACE50DBu);
}

TEST(JtagDevice, ConfiguredIdcodeAndInstruction) {
    JtagDeviceConfig config;
    config.irLength = 6;
    config.idcode = 0x12345679;
    config.idcodeInstruction = 0x09;
    JtagDevice device(config);
    walk(device, {0});
    loadInstruction(device, 0x09);
    EXPECT_EQ(jtagBitsToValue(scanDr(device, std::vector<bool>(32, false))), 0x12345679u);
}

TEST(JtagDevice, BypassIsOneBitThatCapturesZero) {
    for (std::uint32_t bypass : {0xFFu, 0x3Cu}) {
        JtagDeviceConfig config;
        config.bypassInstruction = 0x3C;  // the all-ones instruction is BYPASS too
        JtagDevice device(config);
        walk(device, {0});
        loadInstruction(device, bypass);
        const std::vector<bool> in = {1, 0, 1, 1, 0, 0, 1, 1};
        const std::vector<bool> out = scanDr(device, in);
        const std::vector<bool> delayed = {0, 1, 0, 1, 1, 0, 0, 1};
        EXPECT_EQ(out, delayed) << "instruction " << bypass;
    }
}

TEST(JtagDevice, DataRegisterKeepsWhatUpdateStored) {
    JtagDevice device;
    walk(device, {0});
    loadInstruction(device, 0x42);
    // Never written: captures one 0 bit and passes the rest through behind it.
    EXPECT_EQ(scanDr(device, {1, 1, 0}), (std::vector<bool>{0, 1, 1}));

    const std::vector<bool> pattern = bitsOf(0xB5A3C, 20);
    scanDr(device, pattern);
    EXPECT_EQ(device.storedRegister(0x42), pattern);
    // Another instruction's register is separate.
    loadInstruction(device, 0x43);
    scanDr(device, bitsOf(0x5, 3));
    loadInstruction(device, 0x42);
    EXPECT_EQ(scanDr(device, std::vector<bool>(20, false)), pattern);
    EXPECT_EQ(device.storedRegister(0x42), std::vector<bool>(20, false));
    EXPECT_EQ(device.storedRegister(0x43), bitsOf(0x5, 3));

    // A pass through Capture and Update without shifting keeps the contents.
    scanDr(device, pattern);
    walk(device, {1, 0, 1, 1, 0});
    EXPECT_EQ(device.storedRegister(0x42), pattern);
}

TEST(JtagDevice, ScanContinuesThroughPauseDr) {
    JtagDevice device;
    walk(device, {0});
    loadInstruction(device, 0x42);
    scanDr(device, bitsOf(0xABCD, 16));

    walk(device, {1, 0, 0});
    std::vector<bool> out = shift(device, bitsOf(0x12, 8));        // exits to Exit1-DR
    walk(device, {0, 0, 1, 0});                                     // Pause, Pause, Exit2, Shift
    EXPECT_EQ(device.state(), DRSHIFT);
    ASSERT_FALSE(device.scans().empty());
    EXPECT_FALSE(device.scans().back().updated);
    const std::vector<bool> rest = shift(device, bitsOf(0x34, 8));
    out.insert(out.end(), rest.begin(), rest.end());
    walk(device, {1, 0});
    EXPECT_EQ(jtagBitsToValue(out), 0xABCDu);
    EXPECT_EQ(jtagBitsToValue(device.storedRegister(0x42)), 0x3412u);
    EXPECT_TRUE(device.scans().back().updated);
    EXPECT_EQ(device.scans().back().tdi.size(), 16u);
}

TEST(JtagDevice, TdoChangesOnlyAfterTheFallingEdge) {
    JtagDevice device;
    walk(device, {0});
    loadInstruction(device, 0x42);
    scanDr(device, {1, 0, 1});  // stored: bit 0 = 1, bit 1 = 0, bit 2 = 1

    walk(device, {1, 0});
    // In Capture-DR: TDO not driven yet (pulled up).
    EXPECT_FALSE(device.tdoDriven());
    device.setPins(false, false, false);
    device.setPins(true, false, false);  // capture, enter Shift-DR
    EXPECT_EQ(device.state(), DRSHIFT);
    EXPECT_FALSE(device.tdoDriven());    // the rising edge alone changes nothing on TDO
    device.setPins(false, false, false);
    EXPECT_TRUE(device.tdoDriven());
    EXPECT_TRUE(device.tdo());           // bit 0
    device.setPins(true, false, false);  // shifts bit 0 out
    EXPECT_TRUE(device.tdo());           // still bit 0 while TCK is high
    device.setPins(false, false, false);
    EXPECT_FALSE(device.tdo());          // bit 1
    device.setPins(true, false, false);
    device.setPins(false, false, false);
    EXPECT_TRUE(device.tdo());           // bit 2
    device.setPins(true, true, false);   // last bit, to Exit1-DR
    EXPECT_TRUE(device.tdoDriven());     // held until the falling edge
    device.setPins(false, true, false);
    EXPECT_FALSE(device.tdoDriven());
    EXPECT_TRUE(device.tdo());
}

TEST(JtagDevice, NewInstructionTakesEffectOnTheFallingEdgeInUpdateIr) {
    JtagDevice device;
    walk(device, {0, 1, 1, 0, 0});
    shift(device, bitsOf(0x42, 8));          // now Exit1-IR
    device.clockCycle(true, false);          // rising edge into Update-IR
    EXPECT_EQ(device.state(), IRUPDATE);
    EXPECT_EQ(device.instruction(), 0x01u);
    device.setPins(false, false, false);
    EXPECT_EQ(device.instruction(), 0x42u);
}

TEST(JtagDevice, HistoryRecordsEachScan) {
    JtagDevice device;
    walk(device, {0});
    loadInstruction(device, 0x42);
    scanDr(device, bitsOf(0x2D, 6));
    ASSERT_EQ(device.scans().size(), 2u);
    const JtagScan& ir = device.scans()[0];
    EXPECT_TRUE(ir.ir);
    EXPECT_TRUE(ir.updated);
    EXPECT_EQ(ir.instruction, 0x01u);
    EXPECT_EQ(jtagBitsToValue(ir.tdi), 0x42u);
    EXPECT_EQ(jtagBitsToValue(ir.tdo), 0x01u);
    const JtagScan& dr = device.scans()[1];
    EXPECT_FALSE(dr.ir);
    EXPECT_EQ(dr.instruction, 0x42u);
    EXPECT_EQ(jtagBitsToHex(dr.tdi), "0x2d");
    EXPECT_EQ(dr.tdo.size(), 6u);

    // An open scan survives clearing; finished ones and the counts go.
    walk(device, {1, 0, 0});
    shift(device, {1, 1}, false);
    device.clearHistory();
    EXPECT_EQ(device.risingEdges(), 0u);
    ASSERT_EQ(device.scans().size(), 1u);
    EXPECT_FALSE(device.scans()[0].updated);
    shift(device, {0});
    walk(device, {1, 0});
    EXPECT_TRUE(device.scans()[0].updated);
    EXPECT_EQ(device.scans()[0].tdi, (std::vector<bool>{1, 1, 0}));
    EXPECT_EQ(device.risingEdges(), 3u);
}

TEST(JtagDevice, HistoryCanBeSwitchedOff) {
    JtagDeviceConfig config;
    config.keepHistory = false;
    JtagDevice device(config);
    walk(device, {0});
    loadInstruction(device, 0x42);
    scanDr(device, bitsOf(0x2D, 6));
    EXPECT_TRUE(device.scans().empty());
    EXPECT_EQ(jtagBitsToValue(device.storedRegister(0x42)), 0x2Du);
}

TEST(JtagDevice, BitsToBytesUsesTheXsvfLayout) {
    // 12 bits: bit 0 in the low bit of the last byte, spare bits high in byte 0.
    const std::vector<bool> bits = bitsOf(0xABC, 12);
    EXPECT_EQ(jtagBitsToBytes(bits), (std::vector<std::uint8_t>{0x0A, 0xBC}));
    EXPECT_EQ(jtagBitsToHex(bits), "0x0abc");
    EXPECT_EQ(jtagBitsToHex({}), "0x");
}

}  // namespace
