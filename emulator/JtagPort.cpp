#include "JtagPort.h"

#include "CartridgeCommands.h"
#include "RemoteBitbang.h"

namespace {

std::string bitsHex(const std::vector<bool>& bits) {
    std::string hex = jtagBitsToHex(bits);
    if (hex.size() > 66) {
        hex = hex.substr(0, 66) + "...";
    }
    return hex;
}

class ModelBackend final : public JtagBackend {
public:
    explicit ModelBackend(const JtagDeviceConfig& config) : device_(config) {}

    void setPins(bool tck, bool tms, bool tdi) override { device_.setPins(tck, tms, tdi); }
    void clockCycle(bool tms, bool tdi) override { device_.clockCycle(tms, tdi); }
    bool tdo() override { return device_.tdo(); }
    JtagScanTotals totals() const override { return totals_; }
    void finish() override {}
    const JtagDevice* device() const override { return &device_; }

    void reportScans(EmulatorLog& log) override {
        const auto& scans = device_.scans();
        if (scans.empty()) {
            return;
        }
        const int state = device_.state();
        // The model marks a scan updated on the falling edge in Update-xR, so a
        // scan is still open up to and including that state.
        const bool lastOpen = !scans.back().updated &&
                              ((scans.back().ir && state >= JTAG_IRCAPTURE && state <= JTAG_IRUPDATE) ||
                               (!scans.back().ir && state >= JTAG_DRCAPTURE && state <= JTAG_DRUPDATE));
        const std::size_t done = lastOpen ? scans.size() - 1 : scans.size();
        for (std::size_t k = 0; k < done; ++k) {
            const JtagScan& s = scans[k];
            if (s.ir) {
                ++totals_.irScans;
            } else {
                ++totals_.drScans;
            }
            if (!s.ir && s.instruction == device_.config().idcodeInstruction && s.tdo.size() >= 32) {
                ++totals_.idcodeReads;
                std::vector<bool> first(s.tdo.begin(), s.tdo.begin() + 32);
                log.line("JTAG IDCODE read: 0x%08llx", static_cast<unsigned long long>(jtagBitsToValue(first)));
            }
            log.line("JTAG %s scan, %zu bits%s: in %s, out %s", s.ir ? "IR" : "DR", s.tdi.size(),
                     s.updated ? "" : " (left without Update)", bitsHex(s.tdi).c_str(), bitsHex(s.tdo).c_str());
        }
        if (done != 0) {
            device_.clearHistory();
        }
    }

private:
    JtagDevice device_;
    JtagScanTotals totals_;
};

class RemoteBackend final : public JtagBackend {
public:
    bool connect(const std::string& target, std::string& error) { return remote_.connectTo(target, error); }

    void setPins(bool tck, bool tms, bool tdi) override { remote_.setPins(tck, tms, tdi); }
    void clockCycle(bool tms, bool tdi) override {
        remote_.setPins(false, tms, tdi);
        remote_.setPins(true, tms, tdi);
    }
    // A simulator that cannot be reached reads as 0.
    bool tdo() override { return remote_.connected() && remote_.readTdo(); }
    void reportScans(EmulatorLog&) override {}
    JtagScanTotals totals() const override { return {}; }
    void finish() override { remote_.quit(); }
    const JtagDevice* device() const override { return nullptr; }

private:
    RemoteBitbang remote_;
};

}  // namespace

std::unique_ptr<JtagBackend> makeJtagBackend(const EmulatorConfig& config, std::string& startLine) {
    if (config.jtag.rfind("remote:", 0) == 0) {
        auto remote = std::make_unique<RemoteBackend>();
        std::string error;
        const std::string target = config.jtag.substr(7);
        if (remote->connect(target, error)) {
            startLine = "JTAG pins forwarded to the remote_bitbang server at " + target;
        } else {
            startLine = "JTAG: " + error + "; TDO reads as 0";
        }
        return remote;
    }
    JtagDeviceConfig jc;
    if (config.jtagIdcode != 0) {
        jc.idcode = config.jtagIdcode | 1u;  // the standard's marker bit
    }
    if (config.jtagIrLength != 0) {
        jc.irLength = config.jtagIrLength;
    }
    startLine = formatText("JTAG pins drive the device model: IR %u bits, IDCODE 0x%08x", jc.irLength,
                           static_cast<unsigned>(jc.idcode));
    return std::make_unique<ModelBackend>(jc);
}

void JtagPort::setPins(std::uint8_t pins) {
    ++setPinsFrames_;
    const bool tck = (pins & PIN_TCK) != 0;
    if (tck && (pins_ & PIN_TCK) == 0) {
        ++risingEdges_;
    }
    pins_ = pins & (PIN_TDI | PIN_TCK | PIN_TMS);
    backend_->setPins(tck, (pins & PIN_TMS) != 0, (pins & PIN_TDI) != 0);
}

void JtagPort::clockPins(std::uint8_t pins) {
    ++clockPinsFrames_;
    ++risingEdges_;
    pins_ = static_cast<std::uint8_t>((pins & (PIN_TDI | PIN_TMS)) | PIN_TCK);
    backend_->clockCycle((pins & PIN_TMS) != 0, (pins & PIN_TDI) != 0);
}

std::uint8_t JtagPort::readPins() {
    ++readPinsFrames_;
    return static_cast<std::uint8_t>((backend_->tdo() ? PIN_TDO : 0) | (pins_ & (PIN_TDI | PIN_TCK | PIN_TMS)));
}
