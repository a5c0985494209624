// Numbers as Atari disks store them: big-endian in the AHDI root sector,
// little-endian in the FAT file system's boot sector, FATs and folders.
#pragma once

#include <cstdint>

inline std::uint16_t bigEndian16(const std::uint8_t* p) { return std::uint16_t(p[0] << 8 | p[1]); }
inline std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
inline std::uint16_t littleEndian16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

inline void putBigEndian16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}
inline void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
    putBigEndian16(p, v >> 16);
    putBigEndian16(p + 2, v);
}
inline void putLittleEndian16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void putLittleEndian32(std::uint8_t* p, std::uint32_t v) {
    putLittleEndian16(p, v);
    putLittleEndian16(p + 2, v >> 16);
}
