// The AHDI root sector of an Atari hard-disk image, sector 0 of the file:
// where partition entry 0 stands, and the word sum that makes the disk one
// the drive image server (and TOS) takes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteOrder.h"

namespace ahdi {

constexpr std::size_t ROOT_BYTES = 512;
// What the 256 big-endian words of a valid root sector add up to.
constexpr std::uint16_t ROOT_WORD_SUM = 0x1234;

// Partition entry 0; numbers big-endian, sectors of 512 bytes.
constexpr std::size_t DISK_SECTORS_AT = 0x1C2;       // 32 bits: the whole disk
constexpr std::size_t PARTITION_FLAGS_AT = 0x1C6;    // bit 0: active
constexpr std::size_t PARTITION_ID_AT = 0x1C7;       // 3 characters: "GEM", "BGM"
constexpr std::size_t PARTITION_START_AT = 0x1CA;    // 32 bits
constexpr std::size_t PARTITION_SECTORS_AT = 0x1CE;  // 32 bits
// Entries 1 to 3 follow entry 0, each as long, in the same layout.
constexpr int PARTITION_ENTRIES = 4;
constexpr std::size_t PARTITION_ENTRY_BYTES = 12;
// Partitions of this many sectors (16 MB) and more are "big" ones ("BGM"),
// smaller ones "GEM".
constexpr std::uint32_t BIG_PARTITION_SECTORS = 32768;
// The partition id a builder gives a partition of `sectors` 512-byte sectors.
inline const char* partitionIdFor(std::uint32_t sectors) { return sectors >= BIG_PARTITION_SECTORS ? "BGM" : "GEM"; }
// The word a builder sets to bring the sum where it wants it.
constexpr std::size_t WORD_SUM_FIX_AT = 510;

// The sum of the 256 big-endian words of `sector` (ROOT_BYTES).
inline std::uint16_t rootWordSum(const std::uint8_t* sector) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < ROOT_BYTES; i += 2) {
        sum = std::uint16_t(sum + bigEndian16(sector + i));
    }
    return sum;
}

// Sets the word at WORD_SUM_FIX_AT so that the words of `sector` add up to `sum`.
inline void setRootWordSum(std::uint8_t* sector, std::uint16_t sum = ROOT_WORD_SUM) {
    putBigEndian16(sector + WORD_SUM_FIX_AT, 0);
    putBigEndian16(sector + WORD_SUM_FIX_AT, std::uint16_t(sum - rootWordSum(sector)));
}

}  // namespace ahdi
