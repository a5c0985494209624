// Bytes that cross the USB link between the PC and the cartridge.
#pragma once

#include <cstdint>

constexpr std::uint8_t SYNC1 = 0x53;  // 'S'
constexpr std::uint8_t SYNC2 = 0x59;  // 'Y'

// What follows a command's header on the wire.
enum class CommandPayload : std::uint8_t {
    none,
    pinByte,        // one pin byte
    window,         // UPLOAD_WINDOW_BYTES, no length field
    programBlocks,  // a 16-bit block count N, then (N + 1) * PRG_BLOCK_BYTES
    lengthAndData,  // a 16-bit length n, then the data (n + 1 bytes in a data upload)
    sectorRequest,  // a 16-bit sector number and an 8-bit sector count
};

// Every cartridge command, written once:
//   X(name, code, payload)
// clang-format off
#define VEXLO_CARTRIDGE_COMMANDS(X) \
    X(cmdUploadFirmware,  2, window)        \
    X(cmdUploadPrg,       3, programBlocks) \
    X(cmdSetPins,         4, pinByte)       \
    X(cmdReadPins,        5, none)          \
    X(cmdClockPins,       6, pinByte)       \
    X(cmdPollReady,       7, none)          \
    X(cmdPrepareLoad,     8, none)          \
    X(cmdUploadData,      9, lengthAndData) \
    X(cmdReadSector,     10, sectorRequest) \
    X(cmdEndTransfer,    11, none)          \
    X(cmdGetPower,       12, none)
// clang-format on

enum CartridgeCommand : std::uint8_t {
#define VEXLO_COMMAND_CODE(name, code, payload) name = code,
    VEXLO_CARTRIDGE_COMMANDS(VEXLO_COMMAND_CODE)
#undef VEXLO_COMMAND_CODE
};

// "cmdUploadFirmware", ..., or "unknown" for a code no command has.
constexpr const char* commandName(std::uint8_t code) {
    switch (code) {
#define VEXLO_COMMAND_NAME(name, code, payload) \
    case name:                                  \
        return #name;
        VEXLO_CARTRIDGE_COMMANDS(VEXLO_COMMAND_NAME)
#undef VEXLO_COMMAND_NAME
        default:
            return "unknown";
    }
}

// A code no command has carries no payload anyone knows of.
constexpr CommandPayload commandPayload(std::uint8_t code) {
    switch (code) {
#define VEXLO_COMMAND_PAYLOAD(name, code, payload) \
    case name:                                     \
        return CommandPayload::payload;
        VEXLO_CARTRIDGE_COMMANDS(VEXLO_COMMAND_PAYLOAD)
#undef VEXLO_COMMAND_PAYLOAD
        default:
            return CommandPayload::none;
    }
}

// The uploads' sizes. The cartridge window at $fa8000 takes the whole
// firmware, and at most this much of a data file.
constexpr std::uint32_t UPLOAD_WINDOW_BYTES = 16384;
// A program upload travels in blocks of this size; its first block begins
// with the header that holds the debugger's command string.
constexpr std::uint32_t PRG_BLOCK_BYTES = 8192;
constexpr std::uint32_t PRG_HEADER_BYTES = 64;
// The command string's longest text: the header's last byte is always 0.
constexpr std::uint32_t PRG_COMMAND_CHARS = PRG_HEADER_BYTES - 1;
// The zero bytes that end the stream, behind the file area.
constexpr std::uint32_t PRG_TAIL_BYTES = PRG_BLOCK_BYTES - PRG_HEADER_BYTES;

struct CommandHeader {
    std::uint8_t sync1;
    std::uint8_t sync2;
    std::uint8_t code;
};

constexpr CommandHeader makeHeader(std::uint8_t code) { return CommandHeader{SYNC1, SYNC2, code}; }

// The pin byte of cmdSetPins and cmdClockPins, and TDO in the cmdReadPins reply.
constexpr std::uint8_t PIN_TDI = 0x01;
constexpr std::uint8_t PIN_TCK = 0x02;
constexpr std::uint8_t PIN_TMS = 0x04;
constexpr std::uint8_t PIN_TDO = 0x10;

// 'S', 'Y', cmdSetPins or cmdClockPins, pin byte.
struct PinRecord {
    std::uint8_t sync1;
    std::uint8_t sync2;
    std::uint8_t code;
    std::uint8_t pins;
};
static_assert(sizeof(PinRecord) == 4);

// SectorReply: header of cmdUploadData, 16-bit length, data, two
// cmdEndTransfer headers and three pad bytes.
constexpr std::uint32_t SECTOR_REPLY_HEAD = 5;
constexpr std::uint32_t SECTOR_REPLY_OVERHEAD = 14;
constexpr std::uint32_t SECTOR_REPLY_BUFFER = 16388;
// The most sector data one reply carries.
constexpr std::uint32_t SECTOR_REPLY_MOST_DATA = SECTOR_REPLY_BUFFER - SECTOR_REPLY_OVERHEAD;
