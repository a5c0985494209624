// Answers the cartridge's sector requests from a drive image.
#pragma once

#include <cstdint>
#include <memory>

#include "CartridgeLink.h"
#include "DriveImage.h"

class Uploader;

class VexloServer {
public:
    VexloServer(CartridgeLink* link, Uploader* uploader);

    // Loads the image and serves for ever. With `window`, an image already
    // in memory (a folder built into one) is served under the name imagePath.
    // Returns only when the image cannot be served: -5.
    int Serve(const char* imagePath, std::unique_ptr<std::uint8_t[]> window = nullptr);
    // One framed command from the cartridge.
    void Handle(std::uint8_t command);

    // The two halves of Serve, callable on their own by tests: the banner and
    // the image load, then one pass of the poll-sync-handle loop. Start
    // returns 1, or -5 when the image given cannot be served.
    int Start(const char* imagePath, std::unique_ptr<std::uint8_t[]> window = nullptr);
    void ServeOnce();

    CartridgeLink* link;   // not owned
    Uploader* uploader;    // not owned, never used
    DriveImage image;
};
