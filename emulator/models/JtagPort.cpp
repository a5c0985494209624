#include "JtagPort.h"

#include "CartridgeCommands.h"
#include "EmulatorText.h"
#include "RemoteBitbang.h"

namespace {

class ModelBackend final : public JtagBackend {
public:
    explicit ModelBackend(const JtagDeviceConfig& config) : device_(config) {}

    void setPins(bool tck, bool tms, bool tdi) override { device_.setPins(tck, tms, tdi); }
    void clockCycle(bool tms, bool tdi) override { device_.clockCycle(tms, tdi); }
    bool tdo() override { return device_.tdo(); }
    void finish() override {}
    JtagDevice* device() override { return &device_; }

private:
    JtagDevice device_;
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
    void finish() override { remote_.quit(); }
    JtagDevice* device() override { return nullptr; }

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
    ++counts_.setPins;
    const bool tck = (pins & PIN_TCK) != 0;
    if (tck && (pins_ & PIN_TCK) == 0) {
        ++counts_.risingEdges;
    }
    pins_ = pins & (PIN_TDI | PIN_TCK | PIN_TMS);
    backend_->setPins(tck, (pins & PIN_TMS) != 0, (pins & PIN_TDI) != 0);
}

void JtagPort::clockPins(std::uint8_t pins) {
    ++counts_.clockPins;
    ++counts_.risingEdges;
    pins_ = static_cast<std::uint8_t>((pins & (PIN_TDI | PIN_TMS)) | PIN_TCK);
    backend_->clockCycle((pins & PIN_TMS) != 0, (pins & PIN_TDI) != 0);
}

std::uint8_t JtagPort::readPins() {
    ++counts_.readPins;
    return static_cast<std::uint8_t>((backend_->tdo() ? PIN_TDO : 0) | (pins_ & (PIN_TDI | PIN_TCK | PIN_TMS)));
}
