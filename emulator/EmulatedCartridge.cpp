#include "EmulatedCartridge.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "CartridgeCommands.h"
#include "RunSummary.h"
#include "StopSignals.h"

namespace {
constexpr std::uint32_t FIRMWARE_BYTES = 16384;
constexpr std::uint64_t PRG_BLOCK = 8192;
}  // namespace

EmulatedCartridge::EmulatedCartridge(const EmulatorConfig& config, EmulatorLog& log)
    : config_(config),
      log_(log),
      jtag_(makeJtagBackend(config_, jtagLine_)),
      trace_(log_, jtag_),
      device_(config_, trace_),
      uploads_(config_.outDir),
      atari_(config_, trace_, device_.toHost(), [this](const char* why) { return abandonPartialFrame(why); }) {
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

const JtagDevice& EmulatedCartridge::jtagDevice() const {
    if (const JtagDevice* model = jtag_.backend().device()) {
        return *model;
    }
    static const JtagDevice unused;
    return unused;
}

// ---------------------------------------------------------------- the entry points

FT_STATUS EmulatedCartridge::open(int deviceNumber, FT_HANDLE* handle) {
    const DriverCallScope scope;
    return device_.open(deviceNumber, handle);
}

FT_STATUS EmulatedCartridge::openEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
    const DriverCallScope scope;
    return device_.openEx(arg1, flags, handle);
}

FT_STATUS EmulatedCartridge::listDevices(void* arg1, void* arg2, DWORD flags) {
    const DriverCallScope scope;
    return device_.listDevices(arg1, arg2, flags);
}

FT_STATUS EmulatedCartridge::close(FT_HANDLE handle) {
    const DriverCallScope scope;
    return device_.close(handle);
}

FT_STATUS EmulatedCartridge::read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    std::uint32_t waitMs = 0;
    FT_STATUS status = FT_OK;
    {
        const DriverCallScope scope;
        status = device_.read(handle, buffer, count, got, waitMs);
    }
    // Outside the call's scope: a stop from outside need not wait for it.
    if (waitMs != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
    return status;
}

FT_STATUS EmulatedCartridge::write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    const DriverCallScope scope;
    const auto admitted = device_.admitWrite(handle, buffer, count, written, parser_.inPayloadOf(cmdUploadPrg));
    if (!admitted.feed) {
        return admitted.status;
    }
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    trace_.startWrite();
    feed(data, admitted.accepted);
    flushDropped();
    jtag_.backend().reportScans(log_);
    if (trace_.quietWrite() && !config_.logEveryCall && !admitted.shortWrite) {
        trace_.countPinWrite();
        return FT_OK;
    }
    trace_.emit(formatText("w%u FT_Write %u bytes: %s -> FT_OK, %u written%s", admitted.number,
                           static_cast<unsigned>(count), hexBytes(data, count).c_str(),
                           static_cast<unsigned>(admitted.accepted),
                           admitted.shortWrite ? " (write_short: the last byte is lost)" : ""));
    trace_.writeNotes();
    return FT_OK;
}

FT_STATUS EmulatedCartridge::resetDevice(FT_HANDLE handle) {
    const DriverCallScope scope;
    return device_.resetDevice(handle);
}

FT_STATUS EmulatedCartridge::purge(FT_HANDLE handle, ULONG mask) {
    const DriverCallScope scope;
    return device_.purge(handle, mask);
}

FT_STATUS EmulatedCartridge::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    const DriverCallScope scope;
    return device_.setTimeouts(handle, readMs, writeMs);
}

FT_STATUS EmulatedCartridge::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    const DriverCallScope scope;
    return device_.getQueueStatus(handle, rxBytes);
}

FT_STATUS EmulatedCartridge::setBaudRate(FT_HANDLE handle, ULONG baud) {
    const DriverCallScope scope;
    return device_.setBaudRate(handle, baud);
}

FT_STATUS EmulatedCartridge::setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                    UCHAR parity) {
    const DriverCallScope scope;
    return device_.setDataCharacteristics(handle, wordLength, stopBits, parity);
}

FT_STATUS EmulatedCartridge::setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    const DriverCallScope scope;
    return device_.setFlowControl(handle, flowControl, xon, xoff);
}

FT_STATUS EmulatedCartridge::getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    const DriverCallScope scope;
    const FT_STATUS status = device_.checkStatusCall(handle, rxBytes, txBytes, eventStatus);
    if (status != FT_OK) {
        return status;
    }
    if (config_.atariEnabled && device_.toHost().empty() && !runEnded_) {
        const int end = atari_.poll();
        if (end >= 0) {
            endRun(end);
        }
    }
    return device_.getStatus(rxBytes, txBytes, eventStatus);
}

FT_STATUS EmulatedCartridge::setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    const DriverCallScope scope;
    return device_.setUSBParameters(handle, inSize, outSize);
}

FT_STATUS EmulatedCartridge::setLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    const DriverCallScope scope;
    return device_.setLatencyTimer(handle, ms);
}

FT_STATUS EmulatedCartridge::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    const DriverCallScope scope;
    return device_.setBitMode(handle, mask, mode);
}

FT_STATUS EmulatedCartridge::reload(WORD vid, WORD pid) {
    const DriverCallScope scope;
    return device_.reload(vid, pid);
}

// ---------------------------------------------------------------- what the commands mean

void EmulatedCartridge::feed(const std::uint8_t* data, std::size_t count) {
    std::size_t pos = 0;
    FrameEvent event;
    while (parser_.next(data, count, pos, event)) {
        switch (event.kind) {
            case FrameEvent::pins:
                flushDropped();
                if (event.code == cmdClockPins) {
                    jtag_.clockPins(event.value);
                } else {
                    jtag_.setPins(event.value);
                }
                break;
            case FrameEvent::dropped:
                dropBytes(event.data, event.count);
                break;
            case FrameEvent::start:
                flushDropped();
                startFrame(event.code);
                break;
            case FrameEvent::lengthRead:
                lengthComplete(event.length);
                break;
            case FrameEvent::payload:
                payloadBytes(event);
                break;
            case FrameEvent::end:
                frameComplete();
                break;
        }
    }
}

void EmulatedCartridge::dropBytes(const std::uint8_t* data, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (dropped_.size() < 64) {
            dropped_.push_back(data[k]);
        }
    }
    droppedTotal_ += count;
    trace_.markOtherTraffic();
}

void EmulatedCartridge::flushDropped() {
    if (droppedTotal_ == 0) {
        return;
    }
    trace_.note(formatText("%llu bytes outside any frame dropped: %s", static_cast<unsigned long long>(droppedTotal_),
                           hexBytes(dropped_.data(), dropped_.size()).c_str()));
    if (atari_.expectingReply()) {
        atari_.strayBytes(droppedTotal_);
    }
    dropped_.clear();
    droppedTotal_ = 0;
}

bool EmulatedCartridge::abandonPartialFrame(const char* why) {
    if (parser_.idle()) {
        return false;
    }
    trace_.emit(formatText("partial %s frame abandoned (%s)", commandName(parser_.code()), why));
    uploads_.close();
    parser_.reset();
    return true;
}

void EmulatedCartridge::startFrame(std::uint8_t code) {
    if (code != cmdSetPins && code != cmdClockPins && code != cmdReadPins) {
        trace_.markOtherTraffic();
    }
    const bool sectorReply = atari_.expectingReply();
    if (sectorReply) {
        atari_.frameStarted(code);
    }
    switch (code) {
        case cmdUploadFirmware: {
            const std::string problem = uploads_.begin(cmdUploadFirmware, 0, FIRMWARE_BYTES);
            if (!problem.empty()) {
                trace_.note(problem);
            }
            trace_.note("cmdUploadFirmware: receiving 16384 bytes of 68k firmware");
            parser_.expectPayload(FIRMWARE_BYTES);
            break;
        }
        case cmdUploadPrg:
            trace_.note("cmdUploadPrg: a program upload starts; its block count follows");
            parser_.expectLength();
            break;
        case cmdUploadData:
            if (!sectorReply) {
                trace_.note("cmdUploadData: a data upload starts; its length follows");
            }
            parser_.expectLength();
            break;
        case cmdSetPins:
        case cmdClockPins:
            parser_.expectPayload(1);
            break;
        case cmdReadPins:
            reply(jtag_.readPins(), "cmdReadPins", true);
            break;
        case cmdPollReady:
            ++polls_;
            if (polls_ <= config_.readyAfter) {
                trace_.note(formatText("cmdPollReady #%u: not ready yet, no answer (ready_after=%u)", polls_,
                                       config_.readyAfter));
            } else {
                reply(config_.readyByte, formatText("cmdPollReady #%u: ready", polls_).c_str(), false);
            }
            break;
        case cmdPrepareLoad:
            trace_.note("cmdPrepareLoad: the cartridge gets ready for a program upload");
            break;
        case cmdGetPower:
            if (config_.powered) {
                reply(config_.powerByte, "cmdGetPower: powered", false);
            } else {
                reply(0, "cmdGetPower: switched off", false);
            }
            break;
        case cmdEndTransfer:
            trace_.note("cmdEndTransfer outside a sector reply: ignored");
            break;
        case cmdReadSector:
            trace_.note("cmdReadSector from the host: only the cartridge sends it; ignored");
            break;
        default:
            trace_.note(formatText("unknown command %u: ignored, looking for the next frame", code));
            break;
    }
}

void EmulatedCartridge::lengthComplete(std::uint16_t value) {
    if (parser_.code() == cmdUploadPrg) {
        const std::uint64_t stream = (static_cast<std::uint64_t>(value) + 1) * PRG_BLOCK;
        trace_.note(formatText("cmdUploadPrg: block count %u, receiving %llu bytes (64-byte header, %llu bytes of "
                               "program area, 8128 zero bytes)",
                               value, static_cast<unsigned long long>(stream),
                               static_cast<unsigned long long>(static_cast<std::uint64_t>(value) * PRG_BLOCK)));
        const std::string problem = uploads_.begin(cmdUploadPrg, value, stream);
        if (!problem.empty()) {
            trace_.note(problem);
        }
        parser_.expectPayload(stream);
    } else if (atari_.expectingReply()) {
        parser_.expectPayload(atari_.replyPayload(value));
    } else {
        trace_.note(formatText("cmdUploadData: length %u, receiving %u bytes (the data and one byte behind it)", value,
                               value + 1u));
        const std::string problem = uploads_.begin(cmdUploadData, value, value);
        if (!problem.empty()) {
            trace_.note(problem);
        }
        parser_.expectPayload(static_cast<std::uint64_t>(value) + 1);
    }
}

void EmulatedCartridge::payloadBytes(const FrameEvent& event) {
    if (event.count == 0) {
        return;
    }
    switch (parser_.code()) {
        case cmdSetPins:
            jtag_.setPins(event.data[0]);
            break;
        case cmdClockPins:
            jtag_.clockPins(event.data[0]);
            break;
        case cmdUploadData:
            if (atari_.expectingReply()) {
                atari_.replyBytes(event.data, event.count);
            } else {
                uploads_.bytes(event.data, event.count, event.offset, event.left == 0);
            }
            break;
        case cmdUploadFirmware:
        case cmdUploadPrg:
            uploads_.bytes(event.data, event.count, event.offset, event.left == 0);
            break;
        default:
            break;
    }
}

void EmulatedCartridge::frameComplete() {
    switch (parser_.code()) {
        case cmdUploadFirmware:
        case cmdUploadPrg:
            trace_.note(uploads_.complete());
            break;
        case cmdUploadData:
            trace_.note(atari_.expectingReply() ? atari_.replyComplete() : uploads_.complete());
            break;
        default:
            break;
    }
}

void EmulatedCartridge::reply(std::uint8_t value, const char* what, bool pinTraffic) {
    const std::uint32_t number = ++replies_;
    if (config_.dropReplies.count(number) != 0) {
        trace_.note(formatText("%s: reply %u (0x%02x) not sent (drop_reply)", what, number, value));
        trace_.markOtherTraffic();
        return;
    }
    device_.queueReply(value, pinTraffic);
    if (!pinTraffic || config_.logEveryCall) {
        trace_.note(formatText("%s: reply %u is 0x%02x", what, number, value));
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
    jtag_.backend().reportScans(log_);
    if (!parser_.idle()) {
        trace_.emit(formatText("at the end a %s frame was still incomplete", commandName(parser_.code())));
    }
    uploads_.close();
    jtag_.backend().finish();

    RunTotals totals;
    totals.opens = device_.openCount();
    totals.writes = device_.writes();
    totals.replies = replies_;
    totals.uploads = uploads_.uploads();
    totals.tckCycles = jtag_.risingEdges();
    totals.scans = jtag_.backend().totals();
    totals.setPinsFrames = jtag_.setPinsFrames();
    totals.clockPinsFrames = jtag_.clockPinsFrames();
    totals.readPinsFrames = jtag_.readPinsFrames();
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
