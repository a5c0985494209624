#include "DriveImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "AhdiRootSector.h"
#include "BootSector.h"
#include "ByteOrder.h"
#include "Console.h"

namespace {

// Reports a failed condition on standard error and carries on: the caller
// decides what a failure means.
bool reportUnless(bool holds, const char* text, const char* file, int line) {
    if (!holds) {
        consoleFprintf(stderr, "Assertion '%s' failed, file '%s' line '%d'.\n", text, file, line);
    }
    return holds;
}
#define REPORT_UNLESS(condition) reportUnless((condition) != 0, #condition, __FILE__, __LINE__)

// Reads up to `count` bytes to `destination` and zero-fills what the file
// did not supply, so a short image never exposes stale heap memory. Returns
// the bytes the file supplied.
std::size_t readOrZero(std::FILE* file, std::uint8_t* destination, std::size_t count) {
    std::size_t got = std::fread(destination, 1, count, file);
    if (got < count) {
        std::memset(destination + got, 0, count - got);
    }
    return got;
}

}  // namespace

DriveImage::~DriveImage() { release(); }

void DriveImage::release() {
    delete[] pImage;
    pImage = nullptr;
}

int DriveImage::Load(const char* path) {
    release();
    std::FILE* pFile = std::fopen(path, "rb");
    if (!REPORT_UNLESS(pFile)) {
        return -5;
    }
    pImage = new (std::nothrow) std::uint8_t[IMAGE_BYTES];
    if (!REPORT_UNLESS(pImage)) {
        std::fclose(pFile);
        return -5;
    }
    // Large reads go straight into the buffer; the stream's own buffer would
    // only add a copy.
    std::setvbuf(pFile, nullptr, _IONBF, 0);
    std::size_t filled = readOrZero(pFile, pImage, HEAD_BYTES);
    std::size_t windowGot = 0;
    if (std::fseek(pFile, long(WINDOW_FILE_OFFSET), SEEK_SET) == 0) {
        windowGot = readOrZero(pFile, pImage + HEAD_BYTES, IMAGE_BYTES - HEAD_BYTES);
    } else {
        std::memset(pImage + HEAD_BYTES, 0, IMAGE_BYTES - HEAD_BYTES);
    }
    std::fclose(pFile);
    if (windowGot > 0) {
        filled = HEAD_BYTES + windowGot;
    }
    return checkLoaded(path, filled);
}

int DriveImage::LoadWindow(std::unique_ptr<std::uint8_t[]> window, const char* name) {
    release();
    if (!REPORT_UNLESS(window)) {
        return -5;
    }
    pImage = window.release();
    return checkLoaded(name, IMAGE_BYTES);
}

int DriveImage::checkLoaded(const char* path, std::size_t filled) {
    if (ahdi::rootWordSum(pImage) != ahdi::ROOT_WORD_SUM) {
        consoleFprintf(stderr, "Bad root checksum (%s)\n", path);
        release();
        return -5;
    }
    diskSectors = bigEndian32(pImage + ahdi::DISK_SECTORS_AT);
    if ((pImage[ahdi::PARTITION_FLAGS_AT] & 0x01) == 0) {
        consoleFprintf(stderr, "First partition not active (%s)\n", path);
        release();
        return -5;
    }
    std::memcpy(partitionId, pImage + ahdi::PARTITION_ID_AT, sizeof partitionId);
    partitionStart = bigEndian32(pImage + ahdi::PARTITION_START_AT);
    partitionSectors = bigEndian32(pImage + ahdi::PARTITION_SECTORS_AT);
    partitionOffset = partitionStart * 512;
    // The boot sector must lie inside the window, or its BPB would be read
    // from outside the buffer.
    if (std::uint64_t(partitionStart) * 512 + fat::BOOT_SECTOR_BYTES > IMAGE_BYTES) {
        consoleFprintf(stderr, "Partition outside drive image window (%s)\n", path);
        release();
        return -5;
    }
    // Served all the same, as it always was, but the Atari would read zeros
    // where the file stops short of the partition's end (in the window).
    const std::uint64_t partitionEnd =
        std::min<std::uint64_t>(partitionOffset + std::uint64_t(partitionSectors) * 512, IMAGE_BYTES);
    const std::uint64_t present = std::max<std::uint64_t>(filled, partitionOffset);
    if (present < partitionEnd) {
        consoleFprintf(stderr,
                       "Warning: %s ends %llu sectors before its partition does; the Atari reads them as zeros.\n",
                       path, static_cast<unsigned long long>((partitionEnd - present + 511) / 512));
    }
    ReadBootSector();
    return 1;
}

void DriveImage::ReadBootSector() {
    const std::uint8_t* boot = pImage + partitionOffset;
    bytesPerSector = littleEndian16(boot + fat::BYTES_PER_SECTOR_AT);
    sectorsPerCluster = boot[fat::SECTORS_PER_CLUSTER_AT];
    reservedSectors = littleEndian16(boot + fat::RESERVED_SECTORS_AT);
    fatCount = std::int16_t(boot[fat::FAT_COUNT_AT]);
    rootEntries = littleEndian16(boot + fat::ROOT_ENTRIES_AT);
    totalSectors = littleEndian16(boot + fat::TOTAL_SECTORS_AT);
    sectorsPerFat = std::int16_t(littleEndian16(boot + fat::SECTORS_PER_FAT_AT));
    sectorsPerTrack = littleEndian16(boot + fat::SECTORS_PER_TRACK_AT);
    sideCount = littleEndian16(boot + fat::SIDES_AT);
}

bool DriveImage::ReadSectors(std::uint16_t first, std::uint8_t count, std::uint8_t* destination) {
    if (!REPORT_UNLESS(pImage)) {
        return false;
    }
    const std::uint32_t length = std::uint32_t(bytesPerSector) * count;
    const std::uint64_t start = partitionOffset + std::uint64_t(first) * bytesPerSector;
    if (start + length > IMAGE_BYTES) {
        return false;
    }
    std::memcpy(destination, pImage + start, length);
    return true;
}
