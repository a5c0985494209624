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

    // The two halves of Serve, callable on their own by tests: the banner and
    // the image load, then one pass of the poll-sync-handle loop.
    void Start(const char* imagePath);
    void ServeOnce();

    CartridgeLink* link;   // not owned
    Uploader* uploader;    // not owned, never used
    DriveImage image;
};
