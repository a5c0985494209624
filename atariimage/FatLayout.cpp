#include "FatLayout.h"

#include <algorithm>

#include "AtariImage.h"
#include "Text.h"

namespace atari {
namespace {

constexpr std::uint32_t MIN_ROOT_ENTRIES = 512;
// Fewer clusters and other FAT tools take the FAT for a 12-bit one.
constexpr std::uint32_t MIN_FAT16_CLUSTERS = 4085;
// TOS numbers clusters and logical sectors with signed 16-bit words.
constexpr std::uint32_t MAX_TOS_CLUSTERS = 32765;
constexpr std::uint32_t MAX_TOS_SECTORS = 32767;

bool validSectorSize(std::uint32_t sectorSize) {
    return sectorSize == 512 || sectorSize == 1024 || sectorSize == 2048 || sectorSize == 4096;
}

}  // namespace

std::uint32_t defaultSectorSize(std::uint32_t sizeKb) {
    std::uint32_t bps = 512;
    while (bps < 4096 && std::uint64_t(sizeKb) * 1024 / bps > MAX_TOS_SECTORS) bps *= 2;
    return bps;
}

bool layOut(std::uint32_t sizeKb, std::uint32_t bps, std::uint32_t rootNames, Geometry& g, std::string& error) {
    g = Geometry{};
    g.bytesPerSector = bps;
    g.totalSectors = std::uint32_t(std::uint64_t(sizeKb) * 1024 / bps);
    const std::uint32_t perSector = bps / ENTRY_BYTES;
    g.rootEntries = std::max(MIN_ROOT_ENTRIES, (rootNames + perSector - 1) / perSector * perSector);
    g.rootSectors = g.rootEntries / perSector;
    // Atari hard disks use two sectors a cluster; one when two leave too
    // few clusters for a 16-bit FAT.
    for (std::uint32_t spc : {2u, 1u}) {
        g.sectorsPerCluster = spc;
        g.sectorsPerFat = 1;
        for (;;) {
            const std::int64_t data = std::int64_t(g.totalSectors) - RESERVED_SECTORS -
                                      std::int64_t(FAT_COUNT) * g.sectorsPerFat - g.rootSectors;
            g.clusterCount = data > 0 ? std::uint32_t(data) / spc : 0;
            const std::uint32_t needed = ((g.clusterCount + 2) * 2 + bps - 1) / bps;
            if (needed <= g.sectorsPerFat) break;
            g.sectorsPerFat = needed;
        }
        g.dataStart = RESERVED_SECTORS + FAT_COUNT * g.sectorsPerFat + g.rootSectors;
        if (g.clusterCount >= MIN_FAT16_CLUSTERS) break;
    }
    if (g.clusterCount < MIN_FAT16_CLUSTERS) {
        error = format("%u KB with %u-byte sectors gives %u clusters, too few for a 16-bit FAT (at least %u): "
                       "use a larger --size-mb or --size-kb, or a smaller --sector-size",
                       sizeKb, bps, g.clusterCount, MIN_FAT16_CLUSTERS);
        return false;
    }
    if (g.clusterCount > MAX_TOS_CLUSTERS) {
        error = format("%u KB with %u-byte sectors gives %u clusters, more than TOS can number (%u): "
                       "use a larger --sector-size",
                       sizeKb, bps, g.clusterCount, MAX_TOS_CLUSTERS);
        return false;
    }
    return true;
}

void sizeRangeKb(std::uint32_t sectorSize, std::uint32_t& minKb, std::uint32_t& maxKb) {
    minKb = maxKb = 0;
    for (std::uint32_t kb = 1; kb <= MAX_SIZE_KB; ++kb) {
        Geometry g;
        std::string why;
        if (layOut(kb, sectorSize != 0 ? sectorSize : defaultSectorSize(kb), 0, g, why)) {
            if (minKb == 0) minKb = kb;
            maxKb = kb;
        }
    }
}

bool checkOptions(const BuildOptions& options, std::string& error) {
    if (options.sectorSize != 0 && !validSectorSize(options.sectorSize)) {
        error = format("bad --sector-size %u: use 512, 1024, 2048 or 4096", options.sectorSize);
        return false;
    }
    if (options.sizeKb == 0) return true;
    std::uint32_t minKb = 0;
    std::uint32_t maxKb = 0;
    sizeRangeKb(options.sectorSize, minKb, maxKb);
    if (options.sizeKb < minKb || options.sizeKb > maxKb) {
        const std::string given = options.sizeOption.empty() ? format("a partition of %u KB", options.sizeKb)
                                                             : "bad " + options.sizeOption + " " + options.sizeValue;
        const std::string with = options.sectorSize != 0 ? format(" with %u-byte sectors", options.sectorSize) : "";
        error = format("%s: the size must be %u to %u KB%s", given.c_str(), minKb, maxKb, with.c_str());
        return false;
    }
    return true;
}
}  // namespace atari
