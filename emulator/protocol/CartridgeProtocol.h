// What each cartridge command means: the frames the parser finds in the
// host's writes drive the pins, fill the uploads, answer with replies or
// check the Atari's sector replies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EmulatedAtari.h"
#include "EmulatorConfig.h"
#include "EmulatorTrace.h"
#include "FrameParser.h"
#include "JtagPort.h"
#include "ReplySender.h"
#include "UploadStore.h"

class CartridgeProtocol {
public:
    CartridgeProtocol(const EmulatorConfig& config, EmulatorTrace& trace, JtagPort& jtag, UploadStore& uploads,
                      EmulatedAtari& atari, ReplySender& replies)
        : config_(config), trace_(trace), jtag_(jtag), uploads_(uploads), atari_(atari), replies_(replies) {}

    // The bytes one FT_Write handed to the cartridge.
    void take(const std::uint8_t* data, std::size_t count);
    // Inside the stream of a program upload (where prg_stall strikes).
    bool inProgramStream() const;
    // Drops a frame the host left unfinished; false when there was none.
    bool abandonPartialFrame(const char* why);
    // The run ends: a frame still incomplete is logged, an upload's file closed.
    void endOfRun();

private:
    void feed(const std::uint8_t* data, std::size_t count);
    void startFrame(std::uint8_t code);
    void lengthComplete(std::uint16_t value);
    void payloadBytes(const FrameEvent& event);
    void frameComplete();
    void dropBytes(const std::uint8_t* data, std::size_t count);
    void flushDropped();

    const EmulatorConfig& config_;
    EmulatorTrace& trace_;
    JtagPort& jtag_;
    UploadStore& uploads_;
    EmulatedAtari& atari_;
    ReplySender& replies_;
    FrameParser parser_;
    std::uint32_t polls_ = 0;
    std::vector<std::uint8_t> dropped_;
    std::uint64_t droppedTotal_ = 0;
};
