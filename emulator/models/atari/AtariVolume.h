// The emulated Atari's view of the partition: its layout from the boot
// sector, the first FAT, and reading sectors and cluster chains through
// sector requests. Shared by the folder walk and the script's steps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "AtariDisk.h"

// The emulated Atari reads disks on its own, sharing no reading code with
// the server or vexlo-image: in the tests it is their independent referee.
namespace atari_disk {

// Layout of the partition, from its boot sector.
struct Volume {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t rootStart = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t clusterCount = 0;  // clusters 2 .. clusterCount + 1 exist
    int fatBits = 0;
    std::uint32_t maxPerRequest = 0;
    std::vector<std::uint8_t> fat;  // the first FAT, whole
};

struct Disk {
    const RequestSectors* request = nullptr;
    const AtariLog* log = nullptr;
    Volume vol;
    std::uint32_t requests = 0;  // sector requests sent so far
};

// printf into a std::string of any length.
std::string format(const char* fmt, auto... args) {
    const int length = std::snprintf(nullptr, 0, fmt, args...);
    if (length <= 0) return "";
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), fmt, args...);
    text.pop_back();
    return text;
}

inline std::uint32_t le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
inline std::uint32_t le32(const std::uint8_t* p) {
    return le16(p) | (static_cast<std::uint32_t>(le16(p + 2)) << 16);
}

// Reads `count` sectors from `first` on into `out`, in requests no larger
// than one reply carries. Sector numbers must fit the request's 16 bits.
bool readSectors(Disk& disk, std::uint32_t first, std::uint32_t count, std::vector<std::uint8_t>& out,
                 std::string& error);
// The clusters of a chain; a cycle or a link off the disk is an error.
bool clusterChain(const Volume& vol, std::uint32_t first, std::vector<std::uint32_t>& chain, std::string& error);
// Reads the given clusters, merging runs of consecutive ones into larger requests.
bool readClusters(Disk& disk, const std::vector<std::uint32_t>& clusters, std::vector<std::uint8_t>& out,
                  std::string& error);
// Fills disk.vol from the boot sector and reads the first FAT; logs the layout.
bool readBootSector(Disk& disk, std::string& error);

}  // namespace atari_disk
