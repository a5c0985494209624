// Bytes that cross the USB link between the PC and the cartridge.
#pragma once

#include <cstdint>

constexpr std::uint8_t SYNC1 = 0x53;  // 'S'
constexpr std::uint8_t SYNC2 = 0x59;  // 'Y'

enum CartridgeCommand : std::uint8_t {
    cmdUploadFirmware = 2,
    cmdUploadPrg = 3,
    cmdSetPins = 4,
    cmdReadPins = 5,
    cmdClockPins = 6,
    cmdPollReady = 7,
    cmdPrepareLoad = 8,
    cmdUploadData = 9,
    cmdReadSector = 10,
    cmdEndTransfer = 11,
    cmdGetPower = 12,
};

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
