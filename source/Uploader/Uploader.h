// Sends firmware, data and program files to the cartridge.
#pragma once

#include <cstdint>

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
