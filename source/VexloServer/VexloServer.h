// Answers the cartridge's sector requests from a drive image.
#pragma once

#include <cstdint>

#include "CartridgeLink.h"
#include "DriveImage.h"

class Uploader;

class VexloServer {
public:
    VexloServer(CartridgeLink* link, Uploader* uploader);

    // Loads the image and serves for ever.
    [[noreturn]] void Serve(const char* imagePath);
    // One framed command from the cartridge.
    void Handle(std::uint8_t command);

    CartridgeLink* link;   // not owned
    Uploader* uploader;    // not owned, never used
    DriveImage image;
};
