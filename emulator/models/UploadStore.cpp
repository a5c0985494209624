#include "UploadStore.h"

#include <cstring>
#include <filesystem>

#include "CartridgeCommands.h"
#include "EmulatorText.h"

std::string UploadStore::begin(std::uint8_t command, std::uint16_t length, std::uint64_t payload) {
    close();
    command_ = command;
    length_ = length;
    lastNonZero_ = 0;
    dataTrailer_ = 0;
    std::memset(prgHeader_, 0, sizeof prgHeader_);
    std::string name;
    if (command == cmdUploadFirmware) {
        ++firmwareCount_;
        name = firmwareCount_ > 1 ? formatText("firmware-%u.bin", firmwareCount_) : "firmware.bin";
    } else if (command == cmdUploadPrg) {
        ++prgCount_;
        name = formatText("prg-%u.bin", prgCount_);
    } else {
        ++dataCount_;
        name = dataCount_ > 1 ? formatText("data-%u.bin", dataCount_) : "data.bin";
    }
    std::string problem;
    std::error_code ec;
    std::filesystem::create_directories(outDir_, ec);
    const std::string path = (std::filesystem::path(outDir_) / name).string();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        problem = "cannot create " + path + ": the upload is received but not saved";
    }
    SavedUpload saved;
    saved.command = command;
    saved.fileName = name;
    saved.bytes = payload;
    uploads_.push_back(saved);
    return problem;
}

void UploadStore::bytes(const std::uint8_t* data, std::size_t count, std::uint64_t offset, bool last) {
    if (count == 0) {
        return;
    }
    if (command_ == cmdUploadData) {
        // The n data bytes are saved; the byte behind them only logged.
        std::size_t keep = count;
        if (last) {
            dataTrailer_ = data[count - 1];
            --keep;
        }
        if (file_ != nullptr && keep != 0) {
            std::fwrite(data, 1, keep, file_);
        }
        return;
    }
    for (std::size_t k = 0; k < count && offset + k < sizeof prgHeader_; ++k) {
        prgHeader_[offset + k] = data[k];
    }
    for (std::size_t k = count; k > 0; --k) {
        if (data[k - 1] != 0) {
            lastNonZero_ = offset + k;
            break;
        }
    }
    if (file_ != nullptr) {
        std::fwrite(data, 1, count, file_);
    }
}

std::string UploadStore::complete() {
    close();
    if (uploads_.empty()) {
        return "";
    }
    SavedUpload& upload = uploads_.back();
    upload.complete = true;
    const char* name = upload.fileName.c_str();
    if (command_ == cmdUploadFirmware) {
        return formatText("cmdUploadFirmware complete: %u bytes saved as %s", UPLOAD_WINDOW_BYTES, name);
    }
    if (command_ == cmdUploadData) {
        return formatText("cmdUploadData complete: %u bytes saved as %s; the byte behind them is 0x%02x", length_,
                          name, dataTrailer_);
    }
    const std::uint64_t area = static_cast<std::uint64_t>(length_) * PRG_BLOCK_BYTES;
    std::size_t textLength = 0;
    while (textLength < PRG_HEADER_BYTES && prgHeader_[textLength] != 0) {
        ++textLength;
    }
    std::string program;
    if (lastNonZero_ <= PRG_HEADER_BYTES) {
        program = "the program area is all zero";
    } else if (lastNonZero_ > PRG_HEADER_BYTES + area) {
        program = formatText("nonzero bytes in the %u-byte tail, up to offset %llu", PRG_TAIL_BYTES,
                             static_cast<unsigned long long>(lastNonZero_ - 1));
    } else {
        program = formatText("program bytes up to the last nonzero one: %llu",
                             static_cast<unsigned long long>(lastNonZero_ - PRG_HEADER_BYTES));
    }
    // Built piecewise: the line can be longer than formatText's buffer.
    return "cmdUploadPrg complete: command string \"" + printable(prgHeader_, textLength) + "\", " +
           std::to_string(length_) + " blocks of program area, " + program + "; saved as " + upload.fileName +
           " (the program starts at offset " + std::to_string(PRG_HEADER_BYTES) + ")";
}

void UploadStore::close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}
