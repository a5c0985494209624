#include "AtariVolume.h"

#include <algorithm>

#include "BootSector.h"

namespace atari_disk {
namespace {

bool powerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::uint32_t fatEntry(const Volume& vol, std::uint32_t cluster) {
    if (vol.fatBits == 16) return le16(&vol.fat[cluster * 2]);
    const std::uint32_t pair = le16(&vol.fat[cluster + cluster / 2]);
    return (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
}

// How many FAT entries, read with the given width, link to a cluster that
// does not exist or is free: few for the width the FAT was written with.
std::uint32_t brokenLinks(Volume& vol, int bits) {
    vol.fatBits = bits;
    const std::uint32_t bad = bits == 16 ? 0xFFF7 : 0xFF7;
    std::uint32_t broken = 0;
    for (std::uint32_t cluster = 2; cluster < vol.clusterCount + 2; ++cluster) {
        const std::uint32_t next = fatEntry(vol, cluster);
        if (next == 0 || next >= bad) continue;
        if (next < 2 || next >= vol.clusterCount + 2 || fatEntry(vol, next) == 0) ++broken;
    }
    return broken;
}

}  // namespace

bool readSectors(Disk& disk, std::uint32_t first, std::uint32_t count, std::vector<std::uint8_t>& out,
                 std::string& error) {
    const std::uint32_t bps = disk.vol.bytesPerSector;
    if (count != 0 && first + count - 1 > 0xFFFF) {
        error = format("sector %u is beyond the 16-bit sector numbers of a request", first + count - 1);
        return false;
    }
    out.clear();
    out.reserve(static_cast<std::size_t>(count) * bps);
    std::vector<std::uint8_t> reply;
    while (count > 0) {
        const std::uint32_t n = std::min(count, disk.vol.maxPerRequest);
        reply.clear();
        std::string why;
        ++disk.requests;
        if (!(*disk.request)(static_cast<std::uint16_t>(first), static_cast<std::uint8_t>(n), reply, why)) {
            error = format("request for sector %u count %u failed: %s", first, n, why.c_str());
            return false;
        }
        if (reply.size() != static_cast<std::size_t>(n) * bps) {
            error = format("request for sector %u count %u: got %zu bytes, expected %u", first, n, reply.size(),
                           n * bps);
            return false;
        }
        out.insert(out.end(), reply.begin(), reply.end());
        first += n;
        count -= n;
    }
    return true;
}

// The clusters of a chain. A chain longer than the number of clusters on the
// disk can only be a cycle, so that bound ends every walk.
bool clusterChain(const Volume& vol, std::uint32_t first, std::vector<std::uint32_t>& chain, std::string& error) {
    chain.clear();
    const std::uint32_t endMark = vol.fatBits == 16 ? 0xFFF8 : 0xFF8;
    const std::uint32_t badMark = vol.fatBits == 16 ? 0xFFF7 : 0xFF7;
    std::uint32_t cluster = first;
    for (;;) {
        if (cluster < 2 || cluster >= vol.clusterCount + 2) {
            error = format("broken cluster chain: cluster %u is outside the disk (clusters 2-%u)", cluster,
                           vol.clusterCount + 1);
            return false;
        }
        if (chain.size() >= vol.clusterCount) {
            error = format("cluster chain from %u loops (cycle in the FAT)", first);
            return false;
        }
        chain.push_back(cluster);
        const std::uint32_t next = fatEntry(vol, cluster);
        if (next >= endMark) return true;
        if (next == badMark) {
            error = format("broken cluster chain: cluster %u is marked bad", cluster);
            return false;
        }
        if (next == 0) {
            error = format("broken cluster chain: cluster %u points to a free cluster", cluster);
            return false;
        }
        cluster = next;
    }
}

// Reads the given clusters, merging runs of consecutive ones into larger requests.
bool readClusters(Disk& disk, const std::vector<std::uint32_t>& clusters, std::vector<std::uint8_t>& out,
                  std::string& error) {
    const Volume& vol = disk.vol;
    out.clear();
    std::vector<std::uint8_t> part;
    std::size_t i = 0;
    while (i < clusters.size()) {
        std::size_t j = i + 1;
        while (j < clusters.size() && clusters[j] == clusters[j - 1] + 1) ++j;
        const std::uint32_t first = vol.dataStart + (clusters[i] - 2) * vol.sectorsPerCluster;
        const std::uint32_t count = static_cast<std::uint32_t>(j - i) * vol.sectorsPerCluster;
        if (!readSectors(disk, first, count, part, error)) return false;
        out.insert(out.end(), part.begin(), part.end());
        i = j;
    }
    return true;
}

bool readBootSector(Disk& disk, std::string& error) {
    std::vector<std::uint8_t> boot;
    std::string why;
    ++disk.requests;
    if (!(*disk.request)(0, 1, boot, why)) {
        error = "boot sector request failed: " + why;
        return false;
    }
    if (boot.size() < fat::BOOT_SECTOR_BYTES) {
        error = format("boot sector reply of %zu bytes is shorter than 512", boot.size());
        return false;
    }
    const std::uint8_t* b = boot.data();
    Volume& vol = disk.vol;
    vol.bytesPerSector = le16(b + fat::BYTES_PER_SECTOR_AT);
    vol.sectorsPerCluster = b[fat::SECTORS_PER_CLUSTER_AT];
    vol.reservedSectors = le16(b + fat::RESERVED_SECTORS_AT);
    vol.fatCount = b[fat::FAT_COUNT_AT];
    vol.rootEntries = le16(b + fat::ROOT_ENTRIES_AT);
    vol.totalSectors = le16(b + fat::TOTAL_SECTORS_AT);
    if (vol.totalSectors == 0) vol.totalSectors = le32(b + fat::TOTAL_SECTORS_32_AT);
    vol.sectorsPerFat = le16(b + fat::SECTORS_PER_FAT_AT);

    const std::uint32_t bps = vol.bytesPerSector;
    if (!powerOfTwo(bps) || bps < 512 || bps > SECTOR_REPLY_MOST_DATA) {
        error = format("bad BPB: %u bytes per sector", bps);
        return false;
    }
    if (boot.size() != bps) {
        error = format("boot sector reply of %zu bytes, but the BPB says %u bytes per sector", boot.size(), bps);
        return false;
    }
    if (!powerOfTwo(vol.sectorsPerCluster)) {
        error = format("bad BPB: %u sectors per cluster", vol.sectorsPerCluster);
        return false;
    }
    if (vol.reservedSectors == 0 || vol.fatCount == 0 || vol.sectorsPerFat == 0 || vol.rootEntries == 0) {
        error = format("bad BPB: %u reserved sectors, %u FATs of %u sectors, %u root entries", vol.reservedSectors,
                       vol.fatCount, vol.sectorsPerFat, vol.rootEntries);
        return false;
    }
    vol.rootStart = vol.reservedSectors + vol.fatCount * vol.sectorsPerFat;
    vol.rootSectors = (vol.rootEntries * fat::ENTRY_BYTES + bps - 1) / bps;
    vol.dataStart = vol.rootStart + vol.rootSectors;
    if (vol.totalSectors <= vol.dataStart) {
        error = format("bad BPB: %u sectors leave no room for data after sector %u", vol.totalSectors,
                       vol.dataStart);
        return false;
    }
    vol.clusterCount = (vol.totalSectors - vol.dataStart) / vol.sectorsPerCluster;
    if (vol.clusterCount == 0 || vol.clusterCount > 0xFFF4) {
        error = format("bad BPB: %u clusters is not a FAT12/FAT16 volume", vol.clusterCount);
        return false;
    }

    // The FAT width. An extended BPB may state it; Atari boot sectors have
    // none. Beyond 4084 clusters only 16 bits can be meant, and a FAT too
    // small for 16-bit entries must be 12-bit. Below that both widths fit
    // and Atari hard disks use 16 bits even with few clusters, while the
    // usual rule takes 12: the FAT's own contents decide.
    const std::uint64_t fatBytes = static_cast<std::uint64_t>(vol.sectorsPerFat) * bps;
    const std::uint64_t entries = vol.clusterCount + 2;
    const bool fits16 = fatBytes >= entries * 2;
    const bool fits12 = fatBytes >= (entries * 3 + 1) / 2 && vol.clusterCount <= 0xFF4;
    const std::string typeText(reinterpret_cast<const char*>(b + fat::FAT_TYPE_TEXT_AT), 8);
    const bool extended = b[fat::EXTENDED_SIGNATURE_AT] == fat::EXTENDED_SIGNATURE;
    int stated = 0;
    if (extended && typeText == "FAT12   ") stated = 12;
    if (extended && typeText == "FAT16   ") stated = 16;
    if ((!fits12 && !fits16) || (stated == 12 && !fits12) || (stated == 16 && !fits16)) {
        error = format("bad BPB: a FAT of %u sectors cannot hold %u clusters", vol.sectorsPerFat, vol.clusterCount);
        return false;
    }
    vol.maxPerRequest = std::min<std::uint32_t>(SECTOR_REPLY_MOST_DATA / bps, 255);
    if (!readSectors(disk, vol.reservedSectors, vol.sectorsPerFat, vol.fat, error)) {
        error = "reading the FAT: " + error;
        return false;
    }
    if (stated != 0) {
        vol.fatBits = stated;
    } else if (!fits12 || !fits16) {
        vol.fatBits = fits16 ? 16 : 12;
    } else {
        vol.fatBits = brokenLinks(vol, 12) < brokenLinks(vol, 16) ? 12 : 16;
    }
    (*disk.log)(format("boot sector: %u bytes per sector, %u per cluster, %u reserved, %u FAT%d of %u sectors, "
                       "%u root entries, %u sectors, %u clusters",
                       bps, vol.sectorsPerCluster, vol.reservedSectors, vol.fatCount, vol.fatBits,
                       vol.sectorsPerFat, vol.rootEntries, vol.totalSectors, vol.clusterCount));
    return true;
}

}  // namespace atari_disk
