// The uploads the cartridge receives, each kept as a file in the output
// folder: firmware.bin, prg-1.bin, data.bin, with a number from the second
// of a kind on (programs are always numbered).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "CartridgeCommands.h"

// What one upload left in the output folder.
struct SavedUpload {
    std::uint8_t command = 0;
    std::string fileName;        // relative to the output folder
    std::uint64_t bytes = 0;     // bytes saved
    bool complete = false;       // the whole payload arrived
};

class UploadStore {
public:
    explicit UploadStore(std::string outDir) : outDir_(std::move(outDir)) {}
    ~UploadStore() { close(); }
    UploadStore(const UploadStore&) = delete;
    UploadStore& operator=(const UploadStore&) = delete;

    // Starts the file of a cmdUploadFirmware, cmdUploadPrg or cmdUploadData
    // whose payload is `payload` bytes (for a data upload: n, its count in
    // the length word). `length` is the frame's length word (0 for firmware).
    // Returns a line for the log when the file cannot be created.
    std::string begin(std::uint8_t command, std::uint16_t length, std::uint64_t payload);
    // Payload bytes `offset` bytes into the payload; `last` when no more
    // follow. Of a data upload, the byte behind the n data bytes is kept
    // apart, not saved.
    void bytes(const std::uint8_t* data, std::size_t count, std::uint64_t offset, bool last);
    // The payload is complete: closes the file; the line for the log.
    std::string complete();
    // Closes the file of an upload that did not complete.
    void close();

    const std::vector<SavedUpload>& uploads() const { return uploads_; }

private:
    std::string outDir_;
    std::FILE* file_ = nullptr;
    std::uint8_t command_ = 0;
    std::uint16_t length_ = 0;
    std::uint8_t prgHeader_[PRG_HEADER_BYTES] = {};
    std::uint64_t lastNonZero_ = 0;  // 1 + offset of the last nonzero payload byte
    std::uint8_t dataTrailer_ = 0;
    std::uint32_t firmwareCount_ = 0, prgCount_ = 0, dataCount_ = 0;
    std::vector<SavedUpload> uploads_;
};
