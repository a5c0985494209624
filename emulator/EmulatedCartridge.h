// The emulated cartridge behind the 18 driver entry points. It composes
// the parts, each in its own file: the USB device (D2xxDevice), the frame
// parser (FrameParser), the uploads it saves (UploadStore), its JTAG pins
// and their backend (JtagPort), the Atari that asks the drive image server
// for sectors (EmulatedAtari) and the run's summary (RunSummary); what is
// left here is what each command means. The exported functions only
// forward here, so tests drive this class directly.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "D2xxDevice.h"
#include "EmulatedAtari.h"
#include "EmulatorConfig.h"
#include "EmulatorLog.h"
#include "EmulatorTrace.h"
#include "FrameParser.h"
#include "JtagPort.h"
#include "UploadStore.h"
#include "d2xx.h"

class EmulatedCartridge {
public:
    // `log` must outlive the cartridge.
    EmulatedCartridge(const EmulatorConfig& config, EmulatorLog& log);
    ~EmulatedCartridge();
    EmulatedCartridge(const EmulatedCartridge&) = delete;
    EmulatedCartridge& operator=(const EmulatedCartridge&) = delete;

    // The driver entry points, with the published D2XX signatures' meaning:
    // open, openEx, ... as link/D2xxEntryPoints.h names them.
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
    const std::deque<std::uint8_t>& bytesForHost() const { return device_.toHost(); }
    bool syncFifo() const { return device_.syncFifo(); }
    const JtagDevice& jtagDevice() const;
    std::uint64_t tckRisingEdges() const { return jtag_.risingEdges(); }
    std::uint64_t idcodeReads() const { return jtag_.backend().totals().idcodeReads; }
    std::uint32_t latencyMs() const { return device_.latencyMs(); }
    std::uint32_t inTransferSize() const { return device_.inTransferSize(); }
    std::uint32_t outTransferSize() const { return device_.outTransferSize(); }

private:
    // The host's bytes, frame by frame.
    void feed(const std::uint8_t* data, std::size_t count);
    void startFrame(std::uint8_t code);
    void lengthComplete(std::uint16_t value);
    void payloadBytes(const FrameEvent& event);
    void frameComplete();
    void dropBytes(const std::uint8_t* data, std::size_t count);
    void flushDropped();
    bool abandonPartialFrame(const char* why);
    void reply(std::uint8_t value, const char* what, bool pinTraffic);

    void endRun(int status);
    void finishRunNow();
    static void stopFromOutside(void* self);

    EmulatorConfig config_;
    EmulatorLog& log_;
    std::string jtagLine_;  // which JTAG backend, for the log's start
    JtagPort jtag_;
    EmulatorTrace trace_;
    D2xxDevice device_;
    FrameParser parser_;
    UploadStore uploads_;
    EmulatedAtari atari_;

    std::uint32_t replies_ = 0;  // reply numbers are what drop_reply names
    std::uint32_t polls_ = 0;
    std::vector<std::uint8_t> dropped_;
    std::uint64_t droppedTotal_ = 0;
    bool runEnded_ = false;
    bool finished_ = false;
};
