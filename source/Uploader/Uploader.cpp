#include "Uploader.h"

#include <cstring>

Uploader::Uploader(CartridgeLink* l) : link(l) {
    std::memset(commands, 0, sizeof commands);
    std::memcpy(commands, "le:", 3);
}
int Uploader::UploadFile(const char*, std::uint8_t) { return -2; }
int Uploader::UploadPrgFile(const char*) { return -2; }
