// Sends firmware, data and program files to the cartridge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CartridgeCommands.h"
#include "CartridgeLink.h"

class Uploader {
public:
    explicit Uploader(CartridgeLink* link);

    // cmdUploadFirmware or cmdUploadData. 1, or -2 (write failed), -3 (no file).
    int UploadFile(const char* path, std::uint8_t command);
    // cmdUploadPrg with `commands` in its header. 1, -2, -3 or -4 (no memory).
    int UploadPrgFile(const char* path);

    CartridgeLink* link;   // not owned
    char commands[256];    // "le:" plus at most 60 characters of -cmd
};

// Layout of the image UploadPrgFile sends for a program file of `fileSize`
// bytes: the file area (whole 8 KB blocks, always at least one byte more than
// the file), the bytes sent after the block count, and the bytes allocated.
struct ProgramImageSize {
    std::size_t fileArea;
    std::size_t streamBytes;
    std::size_t allocBytes;
};

// The block count of cmdUploadPrg has 16 bits and counts one block more than
// the file fills: programs of this size (512 MiB - 8 KiB) or more are refused.
constexpr std::uint64_t PROGRAM_SIZE_LIMIT = std::uint64_t(0xFFFF) * PRG_BLOCK_BYTES;

// False when the sizes do not fit the platform's size type; the upload then
// fails as out of memory.
bool programImageSize(std::uint64_t fileSize, ProgramImageSize* size);
