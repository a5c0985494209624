// The FAT16 layout of a partition the builder makes: how many sectors,
// clusters, root entries and FAT sectors a size and a sector size give.
#pragma once

#include <cstdint>
#include <string>

#include "BootSector.h"

namespace atari {

using fat::ENTRY_BYTES;
constexpr std::uint32_t RESERVED_SECTORS = 1;
constexpr std::uint32_t FAT_COUNT = 2;
constexpr std::uint8_t MEDIA = 0xF8;

struct Geometry {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t clusterCount = 0;
    std::uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
};

// The smallest logical sector that keeps the sector count within TOS's
// reach: 512 bytes below 16 MB, larger for big partitions.
std::uint32_t defaultSectorSize(std::uint32_t sizeKb);
// The layout of `sizeKb` with `bps`-byte sectors and room for `rootNames`
// names in the root folder; false, with the reason, when it makes no 16-bit
// FAT TOS can number.
bool layOut(std::uint32_t sizeKb, std::uint32_t bps, std::uint32_t rootNames, Geometry& g, std::string& error);

}  // namespace atari
