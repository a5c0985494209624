// The server's window on an Atari hard-disk image file: a 20 MB buffer whose
// bytes 0-1023 are the file's first two sectors (the AHDI root sector and
// one more), and whose bytes from 1024 on are the file from WINDOW_FILE_OFFSET
// (sector 127202) on.
#pragma once

#include <cstdint>

namespace ahdi {

constexpr std::uint32_t WINDOW_BYTES = 20 * 1024 * 1024;
constexpr std::uint32_t HEAD_BYTES = 1024;
constexpr std::uint32_t WINDOW_FILE_OFFSET = 65127424;
// Buffer offsets from HEAD_BYTES on hold file offset + WINDOW_SHIFT.
constexpr std::uint64_t WINDOW_SHIFT = WINDOW_FILE_OFFSET - HEAD_BYTES;
// The first file byte past the window.
constexpr std::uint64_t WINDOW_FILE_END = WINDOW_SHIFT + WINDOW_BYTES;
// A partition entry starting at this 512-byte sector puts the boot sector at
// the window's first file byte, which is this file sector.
constexpr std::uint32_t SERVED_START_SECTOR = HEAD_BYTES / 512;
constexpr std::uint32_t SERVED_FILE_SECTOR = WINDOW_FILE_OFFSET / 512;

// The file offset that a buffer offset shows (for offsets inside the window).
constexpr std::uint64_t fileOffsetOfBuffer(std::uint64_t bufferOffset) {
    return bufferOffset < HEAD_BYTES ? bufferOffset : bufferOffset + WINDOW_SHIFT;
}

}  // namespace ahdi
