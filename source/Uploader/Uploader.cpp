#include "Uploader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "CartridgeCommands.h"
#include "Console.h"

namespace {

constexpr std::size_t WINDOW_BYTES = UPLOAD_WINDOW_BYTES;
constexpr std::size_t BLOCK_BYTES = PRG_BLOCK_BYTES;
constexpr std::size_t HEADER_BYTES = PRG_HEADER_BYTES;
constexpr std::size_t IMAGE_SLACK = 32768;   // room behind the file area, only 8128 bytes of it sent

// Size by seeking to the end. A size that cannot be determined reads as the
// largest value, as the unsigned comparisons of the callers expect.
std::uint64_t fileSizeOf(FILE* file) {
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    std::fseek(file, 0, SEEK_SET);
    return size < 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(size);
}

struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
};

}  // namespace

bool programImageSize(std::uint64_t fileSize, ProgramImageSize* size) {
    constexpr std::uint64_t maxSize = std::numeric_limits<std::size_t>::max();
    const std::uint64_t blocks = fileSize / BLOCK_BYTES + 1;
    if (blocks > (maxSize - IMAGE_SLACK - HEADER_BYTES) / BLOCK_BYTES) {
        return false;
    }
    size->fileArea = static_cast<std::size_t>(blocks * BLOCK_BYTES);
    size->streamBytes = size->fileArea + BLOCK_BYTES;
    size->allocBytes = size->fileArea + IMAGE_SLACK + HEADER_BYTES;
    return true;
}

Uploader::Uploader(CartridgeLink* l) : link(l) {
    std::memset(commands, 0, sizeof commands);
    std::memcpy(commands, "le:", 3);
}

int Uploader::UploadFile(const char* path, std::uint8_t command) {
    const bool firmware = command == cmdUploadFirmware;
    consolePrintf(firmware ? "Uploading firmare %s.\n" : "Uploading data %s.\n", path);

    // One byte more than the window: a full data upload sends the byte behind
    // the data too, and it must come from here, zero.
    std::uint8_t buffer[WINDOW_BYTES + 1] = {};
    int code = -3;
    if (FILE* file = std::fopen(path, "rb")) {
        const std::uint64_t size = fileSizeOf(file);
        const DWORD n = static_cast<DWORD>(std::min<std::uint64_t>(size, WINDOW_BYTES));
        if (size > WINDOW_BYTES && size != std::numeric_limits<std::uint64_t>::max()) {
            consoleFprintf(stderr, "Warning: %s is %llu bytes long; only its first %lu bytes are sent.\n", path,
                           static_cast<unsigned long long>(size), static_cast<unsigned long>(WINDOW_BYTES));
        }
        // One item of the window's size: a shorter file fills only the front.
        if (std::fread(buffer, WINDOW_BYTES, 1, file) != 1) {
            // Expected for every file shorter than the window; the zeros stay.
        }
        std::fclose(file);

        code = -2;
        if (link->WriteHeader(command)) {
            DWORD written = 0;
            if (firmware) {
                // Every byte of the window goes out, also for a shorter file.
                if (link->Write(buffer, WINDOW_BYTES, &written).ok() && written == WINDOW_BYTES) {
                    code = 1;
                }
            } else {
                const std::uint8_t length[2] = {static_cast<std::uint8_t>(n & 0xFF),
                                                static_cast<std::uint8_t>(n >> 8)};
                link->Write(length, sizeof length, &written);  // outcome not examined
                written = 0;
                if (link->Write(buffer, n + 1, &written).ok() && written == n + 1) {
                    code = 1;
                }
            }
        }
    }

    if (code == 1) {
        WaitAck(*link);
        return 1;
    }
    consolePrintf(firmware ? "Error: Upload firmware failed (%d)\n" : "Error: Upload data failed (%d)\n", code);
    return code;
}

int Uploader::UploadPrgFile(const char* path) {
    consolePrintf("Uploading prg-file %s.\n", path);
    const int code = [&]() -> int {
        FILE* file = std::fopen(path, "rb");
        if (file == nullptr) {
            return -3;
        }
        const std::uint64_t fileSize = fileSizeOf(file);
        if (fileSize >= PROGRAM_SIZE_LIMIT && fileSize != std::numeric_limits<std::uint64_t>::max()) {
            // Its block count would not fit the 16 bits that carry it: the
            // cartridge would take a fraction of the file as the whole.
            std::fclose(file);
            consoleFprintf(stderr, "Error: %s is too large for the cartridge: a program must be under %llu bytes.\n",
                           path, static_cast<unsigned long long>(PROGRAM_SIZE_LIMIT));
            return -4;
        }
        ProgramImageSize size{};
        std::unique_ptr<std::uint8_t, FreeDeleter> image;
        if (programImageSize(fileSize, &size)) {
            image.reset(static_cast<std::uint8_t*>(std::calloc(size.allocBytes, 1)));
        }
        if (!image) {
            std::fclose(file);
            return -4;
        }
        std::uint8_t* const bytes = image.get();
        if (std::fread(bytes + HEADER_BYTES, 1, size.fileArea, file) < size.fileArea) {
            // The file area is larger than the file by construction.
        }
        std::fclose(file);
        const char* end = std::find(commands, commands + PRG_COMMAND_CHARS, '\0');
        std::memcpy(bytes, commands, static_cast<std::size_t>(end - commands));

        if (!link->WriteHeader(cmdUploadPrg)) {
            return -2;
        }
        const std::size_t blocks = size.fileArea / BLOCK_BYTES;
        const std::uint8_t count[2] = {static_cast<std::uint8_t>(blocks & 0xFF),
                                       static_cast<std::uint8_t>((blocks >> 8) & 0xFF)};
        DWORD written = 0;
        if (!link->Write(count, sizeof count, &written).ok() || written != sizeof count) {
            // Without its block count the cartridge cannot take the body.
            return -2;
        }
        link->Purge(FT_PURGE_RX);

        std::size_t position = 0;
        std::size_t remaining = size.streamBytes;
        while (remaining > 0) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(remaining, std::numeric_limits<DWORD>::max()));
            written = 0;
            link->Write(bytes + position, chunk, &written);  // only the count matters
            if (written == 0) {
                // Stalled past the write time-out: start the device afresh and
                // go on with the bytes not yet sent.
                link->Close();
                link->OpenCartridge();
                link->Purge(FT_PURGE_RX);
            }
            const std::size_t sent = std::min<std::size_t>(written, chunk);
            position += sent;
            remaining -= sent;
        }
        WaitAck(*link);
        return 1;
    }();
    if (code != 1) {
        consolePrintf("Error: UploadPrgFile failed (%d)\n", code);
    }
    return code;
}
