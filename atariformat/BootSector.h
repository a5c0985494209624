// The FAT file system of an Atari partition: the boot sector's parameter
// block and the 32-byte folder entries. Numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fat {

constexpr std::size_t BOOT_SECTOR_BYTES = 512;

// Where each field of the parameter block stands in the boot sector.
constexpr std::size_t BYTES_PER_SECTOR_AT = 11;     // 16 bits
constexpr std::size_t SECTORS_PER_CLUSTER_AT = 13;  // 8 bits
constexpr std::size_t RESERVED_SECTORS_AT = 14;     // 16 bits
constexpr std::size_t FAT_COUNT_AT = 16;            // 8 bits
constexpr std::size_t ROOT_ENTRIES_AT = 17;         // 16 bits
constexpr std::size_t TOTAL_SECTORS_AT = 19;        // 16 bits
constexpr std::size_t MEDIA_AT = 21;                // 8 bits
constexpr std::size_t SECTORS_PER_FAT_AT = 22;      // 16 bits
constexpr std::size_t SECTORS_PER_TRACK_AT = 24;    // 16 bits
constexpr std::size_t SIDES_AT = 26;                // 16 bits
constexpr std::size_t TOTAL_SECTORS_32_AT = 32;     // 32 bits, when the 16-bit count is 0
// The extended parameter block, which Atari boot sectors need not have.
constexpr std::size_t EXTENDED_SIGNATURE_AT = 38;   // EXTENDED_SIGNATURE when present
constexpr std::uint8_t EXTENDED_SIGNATURE = 0x29;
constexpr std::size_t FAT_TYPE_TEXT_AT = 54;        // 8 characters: "FAT12   ", "FAT16   "

// A folder entry.
constexpr std::uint32_t ENTRY_BYTES = 32;
constexpr std::size_t ENTRY_NAME_BYTES = 11;       // 8 name and 3 extension characters, blank-padded
constexpr std::size_t ENTRY_EXTENSION_AT = 8;
constexpr std::size_t ENTRY_ATTRIBUTES_AT = 11;
constexpr std::size_t ENTRY_TIME_AT = 22;          // 16 bits
constexpr std::size_t ENTRY_DATE_AT = 24;          // 16 bits
constexpr std::size_t ENTRY_CLUSTER_AT = 26;       // 16 bits
constexpr std::size_t ENTRY_SIZE_AT = 28;          // 32 bits
// First name bytes with a meaning of their own.
constexpr std::uint8_t ENTRY_END = 0x00;           // no entries from here on
constexpr std::uint8_t ENTRY_DELETED = 0xE5;
constexpr std::uint8_t ENTRY_E5_NAME = 0x05;       // stands for a name starting with 0xE5
constexpr std::uint8_t ATTR_VOLUME = 0x08;
constexpr std::uint8_t ATTR_FOLDER = 0x10;
constexpr std::uint8_t ATTR_LONG_NAME = 0x0F;

}  // namespace fat
