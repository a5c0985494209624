// The AHDI root sector of an Atari hard-disk image, as the tests, the
// benchmarks and the fuzz targets build it: partition entry 0 and the word
// sum that makes the drive image loader accept it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ahdi {

constexpr std::size_t ROOT_BYTES = 512;
// What the 256 big-endian words of a valid root sector add up to.
constexpr std::uint16_t ROOT_WORD_SUM = 0x1234;

struct RootSector {
    std::uint32_t diskSectors = 0;
    std::uint8_t partitionFlags = 0x01;  // bit 0: active
    char partitionId[3] = {0, 0, 0};
    std::uint32_t partitionStart = 2;    // in 512-byte sectors
    std::uint32_t partitionSectors = 0;
};

// The sum of the 256 big-endian words of `sector` (512 bytes).
std::uint16_t rootWordSum(const std::uint8_t* sector);

// Sets bytes 510-511 of `sector` so that its words add up to `sum`.
void setRootWordSum(std::uint8_t* sector, std::uint16_t sum = ROOT_WORD_SUM);

// Fills `sector` (512 bytes): zeros, the fields of `root` (big-endian) and
// the word sum `sum`.
void writeRootSector(std::uint8_t* sector, const RootSector& root, std::uint16_t sum = ROOT_WORD_SUM);

}  // namespace ahdi
