#include "CartridgeProtocol.h"

#include "CartridgeCommands.h"

void CartridgeProtocol::feed(const std::uint8_t* data, std::size_t count) {
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

void CartridgeProtocol::dropBytes(const std::uint8_t* data, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (dropped_.size() < 64) {
            dropped_.push_back(data[k]);
        }
    }
    droppedTotal_ += count;
    trace_.markOtherTraffic();
}

void CartridgeProtocol::flushDropped() {
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

bool CartridgeProtocol::abandonPartialFrame(const char* why) {
    if (parser_.idle()) {
        return false;
    }
    trace_.emit(formatText("partial %s frame abandoned (%s)", commandName(parser_.code()), why));
    uploads_.close();
    parser_.reset();
    return true;
}

void CartridgeProtocol::startFrame(std::uint8_t code) {
    if (code != cmdSetPins && code != cmdClockPins && code != cmdReadPins) {
        trace_.markOtherTraffic();
    }
    const bool sectorReply = atari_.expectingReply();
    if (sectorReply) {
        atari_.frameStarted(code);
    }
    switch (code) {
        case cmdUploadFirmware: {
            const std::string problem = uploads_.begin(cmdUploadFirmware, 0, UPLOAD_WINDOW_BYTES);
            if (!problem.empty()) {
                trace_.note(problem);
            }
            trace_.note(formatText("cmdUploadFirmware: receiving %u bytes of 68k firmware", UPLOAD_WINDOW_BYTES));
            parser_.expectPayload(UPLOAD_WINDOW_BYTES);
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
            parser_.expectPayload(1);  // the pin byte
            break;
        case cmdReadPins:
            replies_.send(jtag_.readPins(), "cmdReadPins", true);
            break;
        case cmdPollReady:
            ++polls_;
            if (polls_ <= config_.readyAfter) {
                trace_.note(formatText("cmdPollReady #%u: not ready yet, no answer (ready_after=%u)", polls_,
                                       config_.readyAfter));
            } else {
                replies_.send(config_.readyByte, formatText("cmdPollReady #%u: ready", polls_).c_str(), false);
            }
            break;
        case cmdPrepareLoad:
            trace_.note("cmdPrepareLoad: the cartridge gets ready for a program upload");
            break;
        case cmdGetPower:
            if (config_.powered) {
                replies_.send(config_.powerByte, "cmdGetPower: powered", false);
            } else {
                replies_.send(0, "cmdGetPower: switched off", false);
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

void CartridgeProtocol::lengthComplete(std::uint16_t value) {
    if (parser_.code() == cmdUploadPrg) {
        const std::uint64_t stream = (static_cast<std::uint64_t>(value) + 1) * PRG_BLOCK_BYTES;
        trace_.note(formatText("cmdUploadPrg: block count %u, receiving %llu bytes (%u-byte header, %llu bytes of "
                               "program area, %u zero bytes)",
                               value, static_cast<unsigned long long>(stream),
                               PRG_HEADER_BYTES, static_cast<unsigned long long>(static_cast<std::uint64_t>(value) * PRG_BLOCK_BYTES),
                               PRG_TAIL_BYTES));
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

void CartridgeProtocol::payloadBytes(const FrameEvent& event) {
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

void CartridgeProtocol::frameComplete() {
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

bool CartridgeProtocol::inProgramStream() const { return parser_.inPayloadOf(cmdUploadPrg); }

void CartridgeProtocol::endOfRun() {
    if (!parser_.idle()) {
        trace_.emit(formatText("at the end a %s frame was still incomplete", commandName(parser_.code())));
    }
    uploads_.close();
}

void CartridgeProtocol::take(const std::uint8_t* data, std::size_t count) {
    feed(data, count);
    flushDropped();
}
