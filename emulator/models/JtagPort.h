// The cartridge's JTAG pins (cmdSetPins, cmdClockPins, cmdReadPins) and
// what they drive: the JTAG device model, or a simulator reached over TCP
// with the remote_bitbang protocol. Both sit behind JtagBackend, chosen
// once from the `jtag` setting.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "EmulatorConfig.h"
#include "JtagDevice.h"

class JtagBackend {
public:
    virtual ~JtagBackend() = default;
    // Pin levels as cmdSetPins drives them.
    virtual void setPins(bool tck, bool tms, bool tdi) = 0;
    // One TCK cycle, low then high, as cmdClockPins gives.
    virtual void clockCycle(bool tms, bool tdi) = 0;
    virtual bool tdo() = 0;
    // The run ends.
    virtual void finish() = 0;
    // The model, whose scans the log reports; null for a remote simulator.
    virtual JtagDevice* device() = 0;
};

// The backend the settings ask for; `startLine` says which, for the log.
std::unique_ptr<JtagBackend> makeJtagBackend(const EmulatorConfig& config, std::string& startLine);

// How many pin frames arrived and TCK cycles they made, for the log and
// the summary.
struct PinFrameCounts {
    std::uint64_t risingEdges = 0;
    std::uint64_t setPins = 0, clockPins = 0, readPins = 0;
};

// Pin frames: the pin levels, and their counts.
class JtagPort {
public:
    explicit JtagPort(std::unique_ptr<JtagBackend> backend) : backend_(std::move(backend)) {}

    void setPins(std::uint8_t pins);
    void clockPins(std::uint8_t pins);
    // The cmdReadPins answer: TDO in bit 4, the driven pins in bits 0-2.
    std::uint8_t readPins();

    JtagBackend& backend() { return *backend_; }
    const PinFrameCounts& counts() const { return counts_; }

private:
    std::unique_ptr<JtagBackend> backend_;
    std::uint8_t pins_ = 0;
    PinFrameCounts counts_;
};
