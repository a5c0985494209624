#include "EmulatedCartridge.h"

#include <cstdio>
#include <cstdlib>

#include "RunSummary.h"
#include "StopSignals.h"

EmulatedCartridge::EmulatedCartridge(const EmulatorConfig& config, EmulatorLog& log)
    : config_(config),
      log_(log),
      jtag_(makeJtagBackend(config_, jtagLine_)),
      scans_(jtag_.backend().device()),
      trace_(log_, scans_, jtag_.counts(), config_.logEveryCall),
      uploads_(config_.outDir),
      atari_(config_, atariReports(trace_), host_.bytes, [this](const char* why) { return protocol_.abandonPartialFrame(why); }),
      replies_(config_.dropReplies, config_.logEveryCall, trace_, host_),
      protocol_(config_, trace_, jtag_, uploads_, atari_, replies_),
      device_(config_, trace_, host_, protocol_, [this] { atariTurn(); }) {
    exitProcess = [](int status) { std::exit(status); };
    tellUser = [](const std::string& text) {
        std::fprintf(stderr, "vexlo emulator: %s\n", text.c_str());
        std::fflush(stderr);
    };
    trace_.emit(formatText("Vexlo cartridge emulator: output folder %s", config_.outDir.c_str()));
    trace_.emit(formatText("settings: cartridge %s, power %s, cmdPollReady answered after %u unanswered polls with "
                           "0x%02x",
                           config_.cartridgePresent ? "present" : "absent", config_.powered ? "on" : "off",
                           config_.readyAfter, config_.readyByte));
    trace_.emit(jtagLine_);
    watchForStop(this, &EmulatedCartridge::stopFromOutside);
}

EmulatedCartridge::~EmulatedCartridge() {
    unwatchForStop(this);
    finishRunNow();
}

const JtagDevice& EmulatedCartridge::jtagDevice() {
    if (const JtagDevice* model = jtag_.backend().device()) {
        return *model;
    }
    static const JtagDevice unused;
    return unused;
}

// ---------------------------------------------------------------- the entry points

#define VEXLO_CARTRIDGE_ENTRY(name, step, missing, params, args, method) \
    FT_STATUS EmulatedCartridge::method params {                         \
        FT_STATUS status = FT_OK;                                        \
        {                                                                \
            const DriverCallScope scope;                                 \
            status = device_.method args;                                \
        }                                                                \
        device_.waitAfterShortRead();                                    \
        return status;                                                   \
    }
VEXLO_D2XX_ENTRY_POINTS(VEXLO_CARTRIDGE_ENTRY)
#undef VEXLO_CARTRIDGE_ENTRY

void EmulatedCartridge::atariTurn() {
    if (config_.atariEnabled && host_.bytes.empty() && !runEnded_) {
        const int end = atari_.poll();
        if (end >= 0) {
            endRun(end);
        }
    }
}

// ---------------------------------------------------------------- the run's end

void EmulatedCartridge::endRun(int status) {
    runEnded_ = true;
    trace_.emit(status == 0 ? "the Atari's script is done: ending the run with status 0"
                            : "the Atari's script failed: ending the run with status 1");
    if (status != 0) {
        tellUser("the Atari's script failed, the run ends with status 1: " + atari_.failure());
    }
    finishRunNow();
    exitProcess(status);
}

void EmulatedCartridge::stopFromOutside(void* self) {
    auto& cartridge = *static_cast<EmulatedCartridge*>(self);
    if (!cartridge.finished_) {
        cartridge.trace_.emit("the run is stopped from outside");
    }
    cartridge.finishRunNow();
}

void EmulatedCartridge::finishRun() {
    const DriverCallScope scope;
    finishRunNow();
}

void EmulatedCartridge::finishRunNow() {
    if (finished_) {
        return;
    }
    finished_ = true;
    trace_.flushCounts();
    scans_.report(log_);
    protocol_.endOfRun();
    jtag_.backend().finish();

    RunTotals totals;
    totals.opens = device_.openCount();
    totals.writes = device_.writes();
    totals.replies = replies_.count();
    totals.uploads = uploads_.uploads();
    totals.pins = jtag_.counts();
    totals.scans = scans_.totals();
    totals.atariShown = atari_.requests() != 0 || config_.atariEnabled;
    totals.atariRequests = atari_.requests();
    totals.atariScript = !atari_.started()   ? "not run"
                         : !atari_.finished() ? "stopped"
                         : atari_.succeeded() ? "succeeded"
                                              : "FAILED";
    // A run that never opened the cartridge leaves no summary.txt behind.
    const bool toFile = device_.openCount() != 0 || !uploads_.uploads().empty();
    writeRunSummary(summaryLines(totals), log_, config_.outDir, toFile);
}
