// Writes sparse Atari hard-disk image files for tests: an AHDI root sector
// with a chosen word sum and partition entry 0, the partition's boot sector
// with its BPB, and any further bytes. Only the bytes asked for are written;
// the rest of the file is a hole.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AhdiRoot.h"
#include "ServedWindow.h"

namespace ahdi {

struct Bpb {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 2;
    std::uint16_t reservedSectors = 1;
    std::uint8_t fatCount = 2;
    std::uint16_t rootEntries = 256;
    std::uint16_t totalSectors = 20000;
    std::uint8_t media = 0xF8;
    std::uint16_t sectorsPerFat = 5;
    std::uint16_t sectorsPerTrack = 32;
    std::uint16_t sideCount = 2;
};

struct AhdiImage {
    // Root sector (big-endian fields).
    std::uint32_t diskSectors = 168160;
    std::uint8_t partitionFlags = 0x01;  // bit 0: active
    char partitionId[3] = {'B', 'G', 'M'};
    std::uint32_t partitionStart = 2;
    std::uint32_t partitionSectors = 40000;
    // The 256 big-endian words of the root sector add up to this; bytes
    // 510-511 are adjusted to get it.
    std::uint16_t rootWordSum = 0x1234;

    bool writeBootSector = true;  // at the partition's boot sector, through the window
    Bpb bpb;

    // Final file length: sparse extension or truncation.
    std::uint64_t fileBytes = WINDOW_FILE_END;

    // Further bytes, written after the root and boot sectors in this order.
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> extra;

    void put(std::uint64_t fileOffset, std::vector<std::uint8_t> data);
    // File offset of logical sector `sector` of the partition (bpb.bytesPerSector each).
    std::uint64_t sectorFileOffset(std::uint32_t sector) const;
    void putSector(std::uint32_t sector, std::vector<std::uint8_t> data);

    std::vector<std::uint8_t> bootSector() const;  // 512 bytes holding the BPB
    // Returns false when the file could not be written.
    bool write(const std::string& path) const;
};

// A distinct, recognisable block of `length` bytes for `seed`.
std::vector<std::uint8_t> pattern(std::uint32_t seed, std::size_t length);

// A fresh path in a temporary folder of this process, removed at exit.
std::string tempImagePath(const std::string& name);

}  // namespace ahdi
