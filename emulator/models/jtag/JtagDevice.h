// A JTAG device behind a standard TAP controller, driven pin by pin.
//
// The TAP samples TMS and TDI on each rising TCK edge; TDO changes only after
// a falling edge, so TDO read while TCK is low shows the bit that the next
// rising edge shifts out. Registers:
//   - IR, `irLength` bits; Capture-IR loads `irCapture` (low bits 01).
//     The new instruction takes effect on the falling edge in Update-IR.
//   - IDCODE, 32 bits, selected by Test-Logic-Reset and by `idcodeInstruction`.
//   - BYPASS, 1 bit capturing 0, selected by `bypassInstruction` and by the
//     all-ones instruction.
//   - any other instruction: a data register that keeps its contents.
//     Capture-DR loads what Update-DR last stored for that instruction (one 0
//     bit when nothing was stored yet); Update-DR stores the bits shifted in
//     during that visit, as many as were shifted. Bit 0 leaves first.
// Used by the updater's tests and by the cartridge emulator, which clocks a
// whole update (tens of millions of edges) through it: per-edge work does
// not allocate once the register buffers have grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "JtagDefaults.h"
#include "XsvfFormat.h"

struct JtagDeviceConfig {
    unsigned irLength = JTAG_DEFAULT_IR_LENGTH;
    std::uint32_t idcode = JTAG_DEFAULT_IDCODE;
    std::uint32_t idcodeInstruction = 0x01;
    std::uint32_t bypassInstruction = 0xFFFFFFFF;  // masked to irLength bits
    std::uint32_t irCapture = 0x01;            // Capture-IR value; low two bits forced to 01
    bool keepHistory = true;                   // record every scan (tests); off for long runs
};

// TAP states by their XSVF codes: JTAG_RESET = 0, JTAG_RUNTEST_IDLE, ...,
// JTAG_IRUPDATE = 15.
enum JtagTapState : int {
#define JTAG_TAP_STATE_ENUM(code, name, text) JTAG_##name = code,
    XSVF_TAP_STATES(JTAG_TAP_STATE_ENUM)
#undef JTAG_TAP_STATE_ENUM
};

// The state after one rising TCK edge with the given TMS level (IEEE 1149.1).
int jtagNextState(int state, bool tms);
// "RESET", "RUNTEST/IDLE", ... ; "?" outside 0 to 15.
const char* jtagStateName(int state);

// One visit of Capture-xR to Update-xR. Bits are in shift order: element 0
// went in first (TDI) or came out first (TDO).
struct JtagScan {
    bool ir = false;                  // instruction scan, else data scan
    std::uint32_t instruction = 0;    // instruction in force when the scan began
    std::vector<bool> tdi;
    std::vector<bool> tdo;
    bool updated = false;             // Update-xR reached (false while the scan is open)
};

// Bits in shift order as the XSVF file writes a vector: (n + 7) / 8 bytes,
// most significant byte first, bit 0 in the low bit of the last byte.
std::vector<std::uint8_t> jtagBitsToBytes(const std::vector<bool>& bits);
// The first (up to) 64 bits as a number, bit 0 = element 0.
std::uint64_t jtagBitsToValue(const std::vector<bool>& bits);
// "0x..." of jtagBitsToBytes, for readable test failures.
std::string jtagBitsToHex(const std::vector<bool>& bits);

class JtagDevice {
public:
    explicit JtagDevice(const JtagDeviceConfig& config = JtagDeviceConfig{});

    // Pin levels as the cartridge drives them; edges of TCK act.
    void setPins(bool tck, bool tms, bool tdi);
    // One full clock (TCK low, then high) at these levels, as cmdClockPins gives.
    void clockCycle(bool tms, bool tdi);

    // The TDO level; 1 (pulled up) when the device does not drive it,
    // i.e. outside Shift-IR / Shift-DR.
    bool tdo() const { return tdo_; }
    bool tdoDriven() const { return tdoDriven_; }
    int state() const { return state_; }
    std::uint32_t instruction() const { return instruction_; }
    bool tck() const { return tck_; }

    std::uint64_t risingEdges() const { return risingEdges_; }
    std::uint64_t fallingEdges() const { return fallingEdges_; }
    // Times the TAP entered Test-Logic-Reset from another state.
    std::uint64_t resets() const { return resets_; }

    // Scans so far, oldest first; the last one may still be open.
    const std::vector<JtagScan>& scans() const { return scans_; }
    // Forgets finished scans (an open scan is kept) and the edge counts.
    void clearHistory();

    // What Update-DR last stored for a data-register instruction (empty if none).
    std::vector<bool> storedRegister(std::uint32_t instruction) const;
    const JtagDeviceConfig& config() const { return config_; }

private:
    void risingEdge(bool tms, bool tdi);
    void fallingEdge();
    void capture(bool ir);
    void update(bool ir);
    std::uint32_t irMask() const;

    JtagDeviceConfig config_;
    bool tck_ = false;
    bool tdo_ = true;
    bool tdoDriven_ = false;
    int state_ = JTAG_RESET;
    std::uint32_t instruction_ = 0;

    // The register being scanned is the window [readPos_, end) of scanBits_:
    // captured bits first, then the bits shifted in behind them.
    std::vector<std::uint8_t> scanBits_;
    std::size_t readPos_ = 0;
    std::size_t capturedLength_ = 0;
    bool scanOpen_ = false;
    bool scanIr_ = false;

    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> dataRegisters_;

    std::uint64_t risingEdges_ = 0;
    std::uint64_t fallingEdges_ = 0;
    std::uint64_t resets_ = 0;
    std::vector<JtagScan> scans_;
};
