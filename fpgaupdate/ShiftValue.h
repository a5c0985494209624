// The bit vector that every XSVF operand and every JTAG shift works on.
#pragma once

#include <cstdint>

// Capacity in bytes of every vector; all size checks of the player use it.
constexpr int MAX_LEN = 7000;

// Right-aligned, most significant byte first: bit 0 of the vector is bit 0
// of bytes[length - 1], the byte order of the XSVF file itself.
struct ShiftValue {
    std::int16_t length;
    std::uint8_t bytes[MAX_LEN];
};
