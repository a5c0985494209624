// An Atari hard-disk image held in memory through a fixed 20 MB window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ServedWindow.h"

class DriveImage {
public:
    // The window's geometry, as the format lays it out.
    static constexpr std::uint32_t IMAGE_BYTES = ahdi::WINDOW_BYTES;
    static constexpr std::uint32_t HEAD_BYTES = ahdi::HEAD_BYTES;
    static constexpr std::uint32_t WINDOW_FILE_OFFSET = ahdi::WINDOW_FILE_OFFSET;

    DriveImage() = default;
    ~DriveImage();
    DriveImage(const DriveImage&) = delete;
    DriveImage& operator=(const DriveImage&) = delete;

    // 1 when loaded, -5 on any failure (pImage is then null).
    int Load(const char* path);
    // Takes over a buffer of IMAGE_BYTES already laid out as Load lays out a
    // file's window, and checks it the same way; `name` stands for the path
    // in messages.
    int LoadWindow(std::unique_ptr<std::uint8_t[]> window, const char* name);
    void ReadBootSector();
    // Copies `count` logical sectors from `first` on; false when nothing was
    // copied (no image, or the sectors reach past the end of the buffer).
    bool ReadSectors(std::uint16_t first, std::uint8_t count, std::uint8_t* destination);

    std::uint8_t* pImage = nullptr;
    std::uint32_t diskSectors = 0;
    std::uint8_t partitionId[3] = {};
    std::uint32_t partitionStart = 0;
    std::uint32_t partitionSectors = 0;
    std::uint32_t partitionOffset = 0;
    std::uint16_t bytesPerSector = 0;
    std::uint16_t sectorsPerCluster = 0;
    std::uint16_t reservedSectors = 0;
    std::int16_t fatCount = 0;
    std::uint16_t rootEntries = 0;
    std::uint16_t totalSectors = 0;
    std::int16_t sectorsPerFat = 0;
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t sideCount = 0;

private:
    void release();
    // The root sector and boot sector checks of a filled buffer, whose
    // first `filled` bytes came from the file.
    int checkLoaded(const char* path, std::size_t filled);
};
