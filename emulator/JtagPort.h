// The cartridge's JTAG pins (cmdSetPins, cmdClockPins, cmdReadPins) and
// what they drive: the JTAG device model, or a simulator reached over TCP
// with the remote_bitbang protocol. Both sit behind JtagBackend, chosen
// once from the `jtag` setting.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "EmulatorConfig.h"
#include "EmulatorLog.h"
#include "JtagDevice.h"

// Scan totals of a backend that can see the scans (the model).
struct JtagScanTotals {
    std::uint64_t irScans = 0;
    std::uint64_t drScans = 0;
    std::uint64_t idcodeReads = 0;
};

class JtagBackend {
public:
    virtual ~JtagBackend() = default;
    // Pin levels as cmdSetPins drives them.
    virtual void setPins(bool tck, bool tms, bool tdi) = 0;
    // One TCK cycle, low then high, as cmdClockPins gives.
    virtual void clockCycle(bool tms, bool tdi) = 0;
    virtual bool tdo() = 0;
    // Logs the scans finished since the last call (one line each).
    virtual void reportScans(EmulatorLog& log) = 0;
    virtual JtagScanTotals totals() const = 0;
    // The run ends.
    virtual void finish() = 0;
    // The model, for tests; null for a remote simulator.
    virtual const JtagDevice* device() const = 0;
};

// The backend the settings ask for; `startLine` says which, for the log.
std::unique_ptr<JtagBackend> makeJtagBackend(const EmulatorConfig& config, std::string& startLine);

// Pin frames: the pin levels, counts for the log and the summary.
class JtagPort {
public:
    explicit JtagPort(std::unique_ptr<JtagBackend> backend) : backend_(std::move(backend)) {}

    void setPins(std::uint8_t pins);
    void clockPins(std::uint8_t pins);
    // The cmdReadPins answer: TDO in bit 4, the driven pins in bits 0-2.
    std::uint8_t readPins();

    JtagBackend& backend() { return *backend_; }
    const JtagBackend& backend() const { return *backend_; }
    std::uint64_t risingEdges() const { return risingEdges_; }
    std::uint64_t setPinsFrames() const { return setPinsFrames_; }
    std::uint64_t clockPinsFrames() const { return clockPinsFrames_; }
    std::uint64_t readPinsFrames() const { return readPinsFrames_; }

private:
    std::unique_ptr<JtagBackend> backend_;
    std::uint8_t pins_ = 0;
    std::uint64_t risingEdges_ = 0;
    std::uint64_t setPinsFrames_ = 0, clockPinsFrames_ = 0, readPinsFrames_ = 0;
};
