#include "JtagFake.h"

#include "CartridgeCommands.h"

namespace {

JtagFake* active = nullptr;

FT_STATUS FT_API jtagWrite(FT_HANDLE, void* buffer, DWORD count, DWORD* written) {
    active->write(static_cast<const std::uint8_t*>(buffer), count);
    *written = count;
    return FT_OK;
}

FT_STATUS FT_API jtagRead(FT_HANDLE, void* buffer, DWORD count, DWORD* got) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        out[i] = active->read();
    }
    *got = count;
    return FT_OK;
}

}  // namespace

JtagFake::~JtagFake() {
    if (active == this) {
        active = nullptr;
    }
}

void JtagFake::install(CartridgeLink& link) {
    active = this;
    link.FT_Write = jtagWrite;
    link.FT_Read = jtagRead;
}

void JtagFake::write(const std::uint8_t* data, std::uint32_t count) {
    ++writes_;
    if (count > largestWrite_) {
        largestWrite_ = count;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t byte = data[i];
        if (framed_ < 2) {
            const std::uint8_t sync = framed_ == 0 ? SYNC1 : SYNC2;
            if (byte != sync) {
                framingError_ = true;
                framed_ = 0;
                continue;
            }
            frame_[framed_++] = byte;
            continue;
        }
        if (framed_ == 2) {
            frame_[2] = byte;
            if (byte == cmdReadPins) {
                // Only bit 4 carries TDO; the cartridge's other bits are noise.
                answers_.push_back(device_.tdo() ? 0xFF : 0xEF);
                framed_ = 0;
            } else if (byte == cmdSetPins || byte == cmdClockPins) {
                framed_ = 3;
            } else {
                framingError_ = true;
                framed_ = 0;
            }
            continue;
        }
        const bool tms = (byte & PIN_TMS) != 0;
        const bool tdi = (byte & PIN_TDI) != 0;
        if (frame_[2] == cmdSetPins) {
            device_.setPins((byte & PIN_TCK) != 0, tms, tdi);
        } else {
            device_.clockCycle(tms, tdi);
        }
        framed_ = 0;
    }
}

std::uint8_t JtagFake::read() {
    if (answers_.empty()) {
        framingError_ = true;
        return 0;
    }
    ++pinReads_;
    const std::uint8_t answer = answers_.front();
    answers_.pop_front();
    return answer;
}
