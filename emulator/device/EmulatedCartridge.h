// The emulated cartridge behind the 18 driver entry points. It composes
// the parts: the USB device (D2xxDevice), what each command means
// (CartridgeProtocol), the models (UploadStore, JtagPort, EmulatedAtari)
// and the reporting (EmulatorTrace, JtagScanReport, RunSummary); what is
// left here is wiring them and ending the run. The exported functions only
// forward here, so tests drive this class directly.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "CartridgeProtocol.h"
#include "D2xxDevice.h"
#include "EmulatedAtari.h"
#include "EmulatorConfig.h"
#include "EmulatorLog.h"
#include "EmulatorTrace.h"
#include "HostQueue.h"
#include "JtagPort.h"
#include "JtagScanReport.h"
#include "ReplySender.h"
#include "UploadStore.h"
#include "d2xx.h"

class EmulatedCartridge {
public:
    // `log` must outlive the cartridge.
    EmulatedCartridge(const EmulatorConfig& config, EmulatorLog& log);
    ~EmulatedCartridge();
    EmulatedCartridge(const EmulatedCartridge&) = delete;
    EmulatedCartridge& operator=(const EmulatedCartridge&) = delete;

    // The driver entry points, as D2xxDevice answers them, each inside one
    // driver call (so a stop from outside waits for it).
#define VEXLO_CARTRIDGE_ENTRY(name, step, missing, params, args, method) FT_STATUS method params;
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_CARTRIDGE_ENTRY)
#undef VEXLO_CARTRIDGE_ENTRY

    // Ends the process when the Atari's script is done; tests replace it.
    std::function<void(int status)> exitProcess;
    // What the user must see although the programs' own output is left
    // alone (why the Atari's script failed): standard error by default.
    std::function<void(const std::string& text)> tellUser;

    // Writes the run's summary to the log (and summary.txt); once.
    void finishRun();

    // Observation for tests.
    const std::vector<SavedUpload>& uploads() const { return uploads_.uploads(); }
    const std::deque<std::uint8_t>& bytesForHost() const { return host_.bytes; }
    bool syncFifo() const { return device_.syncFifo(); }
    const JtagDevice& jtagDevice();
    std::uint64_t tckRisingEdges() const { return jtag_.counts().risingEdges; }
    std::uint64_t idcodeReads() const { return scans_.totals().idcodeReads; }
    std::uint32_t latencyMs() const { return device_.latencyMs(); }
    std::uint32_t inTransferSize() const { return device_.inTransferSize(); }
    std::uint32_t outTransferSize() const { return device_.outTransferSize(); }

private:
    // The host polls the status: the Atari's turn, which may end the run.
    void atariTurn();
    void endRun(int status);
    void finishRunNow();
    static void stopFromOutside(void* self);

    EmulatorConfig config_;
    EmulatorLog& log_;
    std::string jtagLine_;  // which JTAG backend, for the log's start
    JtagPort jtag_;
    JtagScanReport scans_;
    EmulatorTrace trace_;
    HostQueue host_;
    UploadStore uploads_;
    EmulatedAtari atari_;
    ReplySender replies_;
    CartridgeProtocol protocol_;
    D2xxDevice device_;

    bool runEnded_ = false;
    bool finished_ = false;
};
