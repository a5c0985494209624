#include "JtagDevice.h"

namespace {

// next[state][tms]
constexpr int kNext[TAP_STATE_COUNT][2] = {
    {JTAG_RUNTEST_IDLE, JTAG_RESET},    // RESET
    {JTAG_RUNTEST_IDLE, JTAG_DRSELECT}, // RUNTEST/IDLE
    {JTAG_DRCAPTURE, JTAG_IRSELECT},    // DRSELECT
    {JTAG_DRSHIFT, JTAG_DREXIT1},       // DRCAPTURE
    {JTAG_DRSHIFT, JTAG_DREXIT1},       // DRSHIFT
    {JTAG_DRPAUSE, JTAG_DRUPDATE},      // DREXIT1
    {JTAG_DRPAUSE, JTAG_DREXIT2},       // DRPAUSE
    {JTAG_DRSHIFT, JTAG_DRUPDATE},      // DREXIT2
    {JTAG_RUNTEST_IDLE, JTAG_DRSELECT}, // DRUPDATE
    {JTAG_IRCAPTURE, JTAG_RESET},       // IRSELECT
    {JTAG_IRSHIFT, JTAG_IREXIT1},       // IRCAPTURE
    {JTAG_IRSHIFT, JTAG_IREXIT1},       // IRSHIFT
    {JTAG_IRPAUSE, JTAG_IRUPDATE},      // IREXIT1
    {JTAG_IRPAUSE, JTAG_IREXIT2},       // IRPAUSE
    {JTAG_IRSHIFT, JTAG_IRUPDATE},      // IREXIT2
    {JTAG_RUNTEST_IDLE, JTAG_DRSELECT}, // IRUPDATE
};

}  // namespace

int jtagNextState(int state, bool tms) {
    if (state < 0 || state >= TAP_STATE_COUNT) {
        // A real TAP has no such state; five TMS-high clocks still reset it.
        return JTAG_RESET;
    }
    return kNext[state][tms ? 1 : 0];
}

const char* jtagStateName(int state) {
    return (state >= 0 && state < TAP_STATE_COUNT) ? tapStateNames[state] : "?";
}

std::vector<std::uint8_t> jtagBitsToBytes(const std::vector<bool>& bits) {
    const std::size_t count = (bits.size() + 7) / 8;
    std::vector<std::uint8_t> bytes(count, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i]) {
            bytes[count - 1 - i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        }
    }
    return bytes;
}

std::uint64_t jtagBitsToValue(const std::vector<bool>& bits) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bits.size() && i < 64; ++i) {
        if (bits[i]) {
            value |= std::uint64_t{1} << i;
        }
    }
    return value;
}

std::string jtagBitsToHex(const std::vector<bool>& bits) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x";
    for (std::uint8_t byte : jtagBitsToBytes(bits)) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

JtagDevice::JtagDevice(const JtagDeviceConfig& config) : config_(config) {
    if (config_.irLength < 2) {
        config_.irLength = 2;
    }
    if (config_.irLength > 32) {
        config_.irLength = 32;
    }
    instruction_ = config_.idcodeInstruction & irMask();
}

std::uint32_t JtagDevice::irMask() const {
    return config_.irLength >= 32 ? 0xFFFFFFFFu : ((1u << config_.irLength) - 1u);
}

void JtagDevice::setPins(bool tck, bool tms, bool tdi) {
    if (tck && !tck_) {
        tck_ = true;
        risingEdge(tms, tdi);
    } else if (!tck && tck_) {
        tck_ = false;
        fallingEdge();
    }
}

void JtagDevice::clockCycle(bool tms, bool tdi) {
    setPins(false, tms, tdi);
    setPins(true, tms, tdi);
}

void JtagDevice::risingEdge(bool tms, bool tdi) {
    ++risingEdges_;
    switch (state_) {
    case JTAG_DRCAPTURE:
        capture(false);
        break;
    case JTAG_IRCAPTURE:
        capture(true);
        break;
    case JTAG_DRSHIFT:
    case JTAG_IRSHIFT: {
        const bool out = scanBits_[readPos_] != 0;
        ++readPos_;
        scanBits_.push_back(tdi ? 1 : 0);
        if (config_.keepHistory && !scans_.empty()) {
            scans_.back().tdi.push_back(tdi);
            scans_.back().tdo.push_back(out);
        }
        break;
    }
    default:
        break;
    }
    const int next = kNext[state_][tms ? 1 : 0];
    if (next == JTAG_RESET) {
        if (state_ != JTAG_RESET) {
            ++resets_;
        }
        instruction_ = config_.idcodeInstruction & irMask();
    }
    state_ = next;
}

void JtagDevice::fallingEdge() {
    ++fallingEdges_;
    switch (state_) {
    case JTAG_DRSHIFT:
    case JTAG_IRSHIFT:
        tdo_ = scanBits_[readPos_] != 0;
        tdoDriven_ = true;
        break;
    case JTAG_DRUPDATE:
        update(false);
        break;
    case JTAG_IRUPDATE:
        update(true);
        break;
    default:
        break;
    }
    if (state_ != JTAG_DRSHIFT && state_ != JTAG_IRSHIFT) {
        tdo_ = true;
        tdoDriven_ = false;
    }
}

void JtagDevice::capture(bool ir) {
    scanBits_.clear();
    readPos_ = 0;
    auto pushValue = [this](std::uint64_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            scanBits_.push_back(static_cast<std::uint8_t>((value >> i) & 1u));
        }
    };
    if (ir) {
        pushValue(((config_.irCapture & ~3u) | 1u) & irMask(), config_.irLength);
    } else {
        const std::uint32_t mask = irMask();
        if (instruction_ == mask || instruction_ == (config_.bypassInstruction & mask)) {
            scanBits_.push_back(0);
        } else if (instruction_ == (config_.idcodeInstruction & mask)) {
            pushValue(config_.idcode, 32);
        } else {
            auto found = dataRegisters_.find(instruction_);
            if (found != dataRegisters_.end() && !found->second.empty()) {
                scanBits_.insert(scanBits_.end(), found->second.begin(), found->second.end());
            } else {
                scanBits_.push_back(0);  // an empty register still passes bits through
            }
        }
    }
    capturedLength_ = scanBits_.size();
    scanOpen_ = true;
    scanIr_ = ir;
    if (config_.keepHistory) {
        JtagScan scan;
        scan.ir = ir;
        scan.instruction = instruction_;
        scans_.push_back(std::move(scan));
    }
}

void JtagDevice::update(bool ir) {
    if (!scanOpen_ || scanIr_ != ir) {
        return;
    }
    scanOpen_ = false;
    if (ir) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < config_.irLength; ++i) {
            if (scanBits_[readPos_ + i] != 0) {
                value |= 1u << i;
            }
        }
        instruction_ = value;
    } else {
        const std::uint32_t mask = irMask();
        const bool fixed = instruction_ == mask || instruction_ == (config_.bypassInstruction & mask) ||
                           instruction_ == (config_.idcodeInstruction & mask);
        const std::size_t shifted = scanBits_.size() - capturedLength_;
        if (!fixed && shifted > 0) {
            auto& stored = dataRegisters_[instruction_];
            stored.assign(scanBits_.begin() + static_cast<std::ptrdiff_t>(capturedLength_), scanBits_.end());
        }
    }
    if (config_.keepHistory && !scans_.empty()) {
        scans_.back().updated = true;
    }
}

void JtagDevice::clearHistory() {
    if (scanOpen_ && !scans_.empty()) {
        JtagScan open = std::move(scans_.back());
        scans_.clear();
        scans_.push_back(std::move(open));
    } else {
        scans_.clear();
    }
    risingEdges_ = 0;
    fallingEdges_ = 0;
    resets_ = 0;
}

std::vector<bool> JtagDevice::storedRegister(std::uint32_t instruction) const {
    std::vector<bool> bits;
    auto found = dataRegisters_.find(instruction);
    if (found != dataRegisters_.end()) {
        bits.assign(found->second.begin(), found->second.end());
    }
    return bits;
}
