#include "FrameParser.h"

#include "CartridgeCommands.h"

bool FrameParser::next(const std::uint8_t* data, std::size_t count, std::size_t& pos, FrameEvent& event) {
    if (endPending_) {
        endPending_ = false;
        event = FrameEvent{};
        event.kind = FrameEvent::end;
        event.code = code_;
        return true;
    }
    while (pos < count) {
        event = FrameEvent{};
        event.code = code_;
        switch (state_) {
            case State::sync1:
                // Whole pin records, the bulk of an FPGA update, go straight through.
                if (count - pos >= 4 && data[pos] == SYNC1 && data[pos + 1] == SYNC2 &&
                    commandPayload(data[pos + 2]) == CommandPayload::pinByte) {
                    event.kind = FrameEvent::pins;
                    event.code = data[pos + 2];
                    event.value = data[pos + 3];
                    pos += 4;
                    return true;
                }
                if (data[pos] == SYNC1) {
                    state_ = State::sync2;
                    ++pos;
                    break;
                }
                event.kind = FrameEvent::dropped;
                event.data = data + pos;
                event.count = 1;
                ++pos;
                return true;
            case State::sync2:
                state_ = State::sync1;
                if (data[pos] == SYNC2) {
                    state_ = State::code;
                    ++pos;
                    break;
                }
                // The 'S' and the byte that should have been 'Y' both go.
                droppedPair_[0] = SYNC1;
                droppedPair_[1] = data[pos++];
                event.kind = FrameEvent::dropped;
                event.data = droppedPair_;
                event.count = 2;
                return true;
            case State::code:
                code_ = data[pos++];
                state_ = State::sync1;
                payloadDone_ = 0;
                payloadLeft_ = 0;
                lengthGot_ = 0;
                event.kind = FrameEvent::start;
                event.code = code_;
                return true;
            case State::length:
                lengthBytes_[lengthGot_++] = data[pos++];
                if (lengthGot_ == 2) {
                    state_ = State::payload;
                    payloadLeft_ = 0;
                    event.kind = FrameEvent::lengthRead;
                    event.length = static_cast<std::uint16_t>(lengthBytes_[0] | (lengthBytes_[1] << 8));
                    return true;
                }
                break;
            case State::payload: {
                std::size_t n = count - pos;
                if (n > payloadLeft_) {
                    n = static_cast<std::size_t>(payloadLeft_);
                }
                event.kind = FrameEvent::payload;
                event.data = data + pos;
                event.count = n;
                event.offset = payloadDone_;
                pos += n;
                payloadLeft_ -= n;
                payloadDone_ += n;
                event.left = payloadLeft_;
                if (payloadLeft_ == 0) {
                    state_ = State::sync1;
                    endPending_ = true;
                }
                return true;
            }
        }
    }
    return false;
}

void FrameParser::expectLength() { state_ = State::length; }

void FrameParser::expectPayload(std::uint64_t bytes) {
    state_ = State::payload;
    payloadLeft_ = bytes;
}

void FrameParser::reset() {
    state_ = State::sync1;
    endPending_ = false;
    payloadLeft_ = 0;
}
