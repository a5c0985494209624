// The cartridge's reading of the host's byte stream: frames of 'S', 'Y', a
// command code and the command's payload, found across and within writes.
// It only finds frames; what a command means and how long its payload is
// the cartridge decides, so next() hands out one event at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CartridgeCommands.h"

struct FrameEvent {
    enum Kind {
        pins,     // a whole cmdSetPins/cmdClockPins record in one write: `code`, `value`
        start,    // a frame's code arrived: `code`; answer with expectLength/expectPayload
        lengthRead,  // the 2-byte length arrived: `length`; answer with expectPayload
        payload,  // `count` payload bytes at `data`, `offset` into the payload, `left` still to come
        end,      // the payload is complete
        dropped,  // `count` bytes at `data` belong to no frame
    };
    Kind kind = dropped;
    std::uint8_t code = 0;
    std::uint8_t value = 0;
    std::uint16_t length = 0;
    const std::uint8_t* data = nullptr;
    std::size_t count = 0;
    std::uint64_t offset = 0;
    std::uint64_t left = 0;
};

class FrameParser {
public:
    // The next event from data[pos, count); false when the bytes are used up.
    bool next(const std::uint8_t* data, std::size_t count, std::size_t& pos, FrameEvent& event);
    // After `start`: a 2-byte length follows (else the frame has no payload
    // unless expectPayload is called).
    void expectLength();
    // After `start` or `lengthRead`: this many payload bytes follow.
    void expectPayload(std::uint64_t bytes);

    // Between frames (a lone 'S' or a frame in progress is not).
    bool idle() const { return state_ == State::sync1; }
    // The frame being read, or the last one.
    std::uint8_t code() const { return code_; }
    // In the payload of a `code` frame, with bytes still to come.
    bool inPayloadOf(std::uint8_t code) const {
        return state_ == State::payload && code_ == code && payloadLeft_ != 0;
    }
    // Forgets a frame in progress.
    void reset();

private:
    enum class State { sync1, sync2, code, length, payload };
    State state_ = State::sync1;
    std::uint8_t code_ = 0;
    std::uint8_t lengthBytes_[2] = {};
    int lengthGot_ = 0;
    std::uint64_t payloadLeft_ = 0;
    std::uint64_t payloadDone_ = 0;
    bool endPending_ = false;
    std::uint8_t droppedPair_[2] = {};
};

