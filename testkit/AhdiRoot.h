// The AHDI root sector of an Atari hard-disk image, as the tests, the
// benchmarks and the fuzz targets build it: partition entry 0 and the word
// sum that makes the drive image loader accept it. The layout and the word
// sum are the server's own (AhdiRootSector.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "AhdiRootSector.h"

namespace ahdi {

struct RootSector {
    std::uint32_t diskSectors = 0;
    std::uint8_t partitionFlags = 0x01;  // bit 0: active
    char partitionId[3] = {0, 0, 0};
    std::uint32_t partitionStart = 2;    // in 512-byte sectors
    std::uint32_t partitionSectors = 0;
};

// Fills `sector` (512 bytes): zeros, the fields of `root` (big-endian) and
// the word sum `sum`.
void writeRootSector(std::uint8_t* sector, const RootSector& root, std::uint16_t sum = ROOT_WORD_SUM);

}  // namespace ahdi
