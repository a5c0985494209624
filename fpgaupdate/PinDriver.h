// Turns JTAG pin operations into cartridge commands on the link.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CartridgeLink.h"
#include "ShiftValue.h"

// A shift of exactly this many bits goes out as one block of clock records.
constexpr std::int32_t BLOCK_SHIFT_BITS = 4097;
// 16 bytes for each bit of a block shift.
constexpr std::size_t BLOCK_BUFFER_BYTES = 65552;
// From this wait on the time is not tripled and the wait shows dots.
constexpr std::int32_t LONG_WAIT_US = 14800000;
// Batched pin commands go out in writes of at most this many bytes: two of
// the updater's 6400-byte USB transfers. The TDO replies one batch asks for
// (at most 12800 / 15 = 853 bytes) then fit the smallest FIFO the chip has
// (1 KB), so a cartridge never stalls on replies the host has not read yet.
constexpr std::size_t BATCH_BUFFER_BYTES = 12800;

// The pin byte last sent; 0 (all outputs low) at start.
extern std::uint8_t pinShadow;
// The open link the driver writes to; set by the updater after the open.
extern CartridgeLink* linkPtr;
// Where the block buffer comes from; tests substitute a failing allocator.
extern void* (*blockBufferAllocate)(std::size_t bytes);

// Batched mode (`--batch`): pin commands are collected and sent with one
// write where the order of events needs it (before replies are read, before
// a timed wait, around a block shift, at the end of the run, when the buffer
// is full). The cartridge receives the same bytes in the same order.
// Switching also forgets a lost link and any queued bytes.
void setPinBatching(bool on);
bool pinBatching();
// Sends what batched mode has queued (nothing to do otherwise).
void flushPins();
// True once a batched write failed or was short: the message is on standard
// error, nothing more is sent, and the run must end.
bool pinLinkLost();

void writePins(std::uint8_t pins);
// The cmdReadPins answer; 0 when nothing could be read.
std::uint8_t readPins();
// One TCK cycle with TMS at `tms` (zero low, anything else high).
void clockTms(std::int16_t tms);
// Shifts `bitCount` bits of `tdi`, last byte first and bit 0 first. With
// `captured`, TDO lands in the same positions (not in block mode). With
// `exitOnLast`, TMS goes high on the last bit.
void shiftBits(std::int32_t bitCount, const ShiftValue& tdi, ShiftValue* captured, bool exitOnLast);
// Keeps TCK running at the present TDI/TMS levels for the given time.
void waitMicroseconds(std::int32_t microseconds);
