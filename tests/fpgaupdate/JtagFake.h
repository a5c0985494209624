// A cartridge whose JTAG pins drive a JtagDevice: the link's FT_Write bytes
// are decoded into pin commands and cmdReadPins is answered from TDO.
// Nothing is recorded per call, so whole XSVF files can run through it.
#pragma once

#include <cstdint>
#include <deque>

#include "CartridgeLink.h"
#include "JtagDevice.h"

class JtagFake {
public:
    explicit JtagFake(JtagDevice& device) : device_(device) {}
    ~JtagFake();
    JtagFake(const JtagFake&) = delete;
    JtagFake& operator=(const JtagFake&) = delete;

    // Points the link's FT_Write and FT_Read at this cartridge.
    void install(CartridgeLink& link);

    std::uint64_t writes() const { return writes_; }
    std::uint64_t largestWrite() const { return largestWrite_; }
    std::uint64_t pinReads() const { return pinReads_; }
    bool framingError() const { return framingError_; }

    void write(const std::uint8_t* data, std::uint32_t count);
    std::uint8_t read();

private:
    JtagDevice& device_;
    std::uint8_t frame_[3] = {};
    int framed_ = 0;
    // Answers of the cmdReadPins parsed so far and not yet read: TDO as it
    // was when the command arrived, as the cartridge answers it.
    std::deque<std::uint8_t> answers_;
    std::uint64_t writes_ = 0;
    std::uint64_t largestWrite_ = 0;
    std::uint64_t pinReads_ = 0;
    bool framingError_ = false;
};
