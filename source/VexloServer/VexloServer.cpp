#include "VexloServer.h"

#include <cstring>
#include <utility>

#include "CartridgeCommands.h"
#include "Console.h"
#include "platform/Platform.h"

VexloServer::VexloServer(CartridgeLink* l, Uploader* u) : link(l), uploader(u) {}

namespace {
// Empty polls in a row before the loop starts pausing between them: a few
// milliseconds of busy polling, so requests in a burst are answered at once.
constexpr unsigned BUSY_POLLS = 1000;
}  // namespace

int VexloServer::Serve(const char* imagePath, std::unique_ptr<std::uint8_t[]> window) {
    const int loaded = Start(imagePath, std::move(window));
    if (loaded != 1) {
        return loaded;
    }
    for (;;) {
        ServeOnce();
    }
}

int VexloServer::Start(const char* imagePath, std::unique_ptr<std::uint8_t[]> window) {
    consolePrintf("starting VexloServer\n\n");
    if (imagePath != nullptr && imagePath[0] != '\0') {
        consolePrintf("using drive image: %s\n\n", imagePath);
        const int loaded = window ? image.LoadWindow(std::move(window), imagePath) : image.Load(imagePath);
        if (loaded != 1) {
            // The image said why. Serving without it would leave every
            // request of the Atari unanswered.
            consoleFprintf(stderr, "Vexlo: %s cannot be served; vexlo-image info %s shows what it holds.\n",
                           imagePath, imagePath);
            consoleFlush();
            return loaded;
        }
    }
    consolePrintf("running...\n");
    // The server only ends when it is stopped from outside: what was printed
    // so far must not wait in a buffer for an exit that flushes it.
    consoleFlush();
    return 1;
}

void VexloServer::ServeOnce() {
    // Busy poll at first: the cartridge expects its answer as soon as
    // possible. A server left idle pauses about a millisecond between polls
    // instead of taking a whole core.
    for (unsigned empty = 0;; ++empty) {
        DWORD queued = 0;
        DWORD transmit = 0;
        DWORD events = 0;
        if (!link->GetStatus(&queued, &transmit, &events).called || queued != 0) {
            break;
        }
        if (empty >= BUSY_POLLS) {
            platform::idlePause();
        }
    }

    std::uint8_t byte = 0;
    DWORD got = 0;
    if (!link->Read(&byte, 1, &got).ok() || got != 1) {
        LOCATED_ERROR("VexloServer::Serve sync1 read failed");
        return;
    }
    if (byte != SYNC1) {
        return;
    }
    got = 0;
    if (!link->Read(&byte, 1, &got).ok() || got != 1) {
        LOCATED_ERROR("VexloServer::Serve sync2 read failed");
        return;
    }
    if (byte != SYNC2) {
        // Not a frame; this byte is not looked at as a new "S".
        return;
    }
    got = 0;
    const CallResult command = link->Read(&byte, 1, &got);
    if (!command.ok()) {
        return;
    }
    if (got != 1) {
        LOCATED_ERROR("VexloServer::Serve cmd read failed");
        return;
    }
    Handle(byte);
}

void VexloServer::Handle(std::uint8_t command) {
    if (command != cmdReadSector) {
        consoleFprintf(stderr, "Error: %d: %s %d (%s %d) \n", -1, "VexloServer::Handle unknown cmd", command,
                       __FILE__, __LINE__);
        return;
    }
    std::uint8_t number[2] = {};
    DWORD got = 0;
    if (!link->Read(number, 2, &got).ok() || got != 2) {
        LOCATED_ERROR("VexloServer::Handle cmdReadSector get sector number failed");
        return;
    }
    std::uint8_t count = 0;
    got = 0;
    if (!link->Read(&count, 1, &got).ok() || got != 1) {
        LOCATED_ERROR("VexloServer::Handle cmdReadSector get sector count failed");
        return;
    }
    const int first = number[0] | number[1] << 8;
    const std::uint32_t fullLength = std::uint32_t(image.bytesPerSector) * count;
    const std::uint16_t length = std::uint16_t(fullLength);

    if (count == 1) {
        consolePrintf("read sector %d ", first);
    } else {
        consolePrintf("read sector %d-%d ", first, first + count);
    }
    const int fatSectors = std::int16_t(image.fatCount * image.sectorsPerFat);
    const int dirSectors = (image.rootEntries * 32) / 1024;
    if (first == 0) {
        consolePrintf("boot \n");
    } else if (first < fatSectors + 1) {
        consolePrintf("fat \n");
    } else if (first < fatSectors + 1 + dirSectors) {
        consolePrintf("dir \n");
    } else {
        consolePrintf("data \n");
    }
    consoleFlush();  // one line per request, seen as it happens even through a pipe

    std::uint8_t reply[SECTOR_REPLY_BUFFER];
    // A reply that would not fit the buffer, or whose length field cannot
    // carry the byte count, is refused rather than cut or overrun.
    const bool fits = fullLength == length && length + SECTOR_REPLY_OVERHEAD <= SECTOR_REPLY_BUFFER;
    if (!fits || !image.ReadSectors(std::uint16_t(first), count, reply + SECTOR_REPLY_HEAD)) {
        LOCATED_ERROR("VexloServer::Handle read sector failed");
        return;
    }
    reply[0] = SYNC1;
    reply[1] = SYNC2;
    reply[2] = cmdUploadData;
    reply[3] = std::uint8_t(length & 0xFF);
    reply[4] = std::uint8_t(length >> 8);
    std::uint8_t* tail = reply + SECTOR_REPLY_HEAD + length;
    const std::uint8_t trailer[SECTOR_REPLY_OVERHEAD - SECTOR_REPLY_HEAD] = {
        SYNC1, SYNC2, cmdEndTransfer, SYNC1, SYNC2, cmdEndTransfer, 0, 0, 0};
    std::memcpy(tail, trailer, sizeof trailer);

    DWORD written = 0;
    if (!link->Write(reply, length + SECTOR_REPLY_OVERHEAD, &written).ok()) {
        LOCATED_ERROR("VexloServer::Handle upload sector failed");
    }
}
