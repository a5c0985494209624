#include "AtariDisk.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "AhdiRootSector.h"
#include "BootSector.h"

// The emulated Atari reads disks on its own, sharing no reading code with
// the server or vexlo-image: in the tests it is their independent referee.
namespace {

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

struct Entry {
    std::string name;  // 8.3 name as stored, "NAME.EXT"
    bool folder = false;
    std::uint32_t size = 0;
    std::uint32_t firstCluster = 0;
};

constexpr std::uint32_t ENTRY_SIZE = fat::ENTRY_BYTES;
using fat::ATTR_FOLDER;
using fat::ATTR_LONG_NAME;
using fat::ATTR_VOLUME;

std::string format(const char* fmt, auto... args) {
    const int length = std::snprintf(nullptr, 0, fmt, args...);
    if (length <= 0) return "";
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), fmt, args...);
    text.pop_back();
    return text;
}

std::uint32_t le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) {
    return le16(p) | (static_cast<std::uint32_t>(le16(p + 2)) << 16);
}
bool powerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Reads `count` sectors from `first` on into `out`, in requests no larger
// than one reply carries. Sector numbers must fit the request's 16 bits.
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
    vol.rootSectors = (vol.rootEntries * ENTRY_SIZE + bps - 1) / bps;
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

// A disk name as a safe file name: no separators, drive colons or control
// characters reach the output folder.
std::string safeName(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '/' || c == '\\' || c == ':' || u == 0x7F) c = '_';
    }
    if (out == "." || out == "..") out = "_";
    return out;
}

std::string entryName(const std::uint8_t* e) {
    std::string base(reinterpret_cast<const char*>(e), fat::ENTRY_EXTENSION_AT);
    std::string ext(reinterpret_cast<const char*>(e + fat::ENTRY_EXTENSION_AT),
                    fat::ENTRY_NAME_BYTES - fat::ENTRY_EXTENSION_AT);
    if (static_cast<std::uint8_t>(base[0]) == fat::ENTRY_E5_NAME) {
        base[0] = static_cast<char>(fat::ENTRY_DELETED);  // a real 0xE5 first byte
    }
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    return ext.empty() ? base : base + "." + ext;
}

void parseEntries(const std::vector<std::uint8_t>& raw, std::vector<Entry>& entries) {
    entries.clear();
    for (std::size_t off = 0; off + ENTRY_SIZE <= raw.size(); off += ENTRY_SIZE) {
        const std::uint8_t* e = &raw[off];
        if (e[0] == fat::ENTRY_END) break;  // no entries after this one
        if (e[0] == fat::ENTRY_DELETED) continue;
        const std::uint8_t attr = e[fat::ENTRY_ATTRIBUTES_AT];
        if ((attr & ATTR_LONG_NAME) == ATTR_LONG_NAME || (attr & ATTR_VOLUME)) continue;
        Entry entry;
        entry.name = entryName(e);
        if (entry.name == "." || entry.name == "..") continue;
        entry.folder = (attr & ATTR_FOLDER) != 0;
        entry.firstCluster = le16(e + fat::ENTRY_CLUSTER_AT);
        entry.size = le32(e + fat::ENTRY_SIZE_AT);
        entries.push_back(entry);
    }
}

// The entries of the root (firstCluster 0) or of a folder.
bool readFolder(Disk& disk, std::uint32_t firstCluster, std::vector<Entry>& entries, std::string& error) {
    std::vector<std::uint8_t> raw;
    if (firstCluster == 0) {
        if (!readSectors(disk, disk.vol.rootStart, disk.vol.rootSectors, raw, error)) return false;
        raw.resize(static_cast<std::size_t>(disk.vol.rootEntries) * ENTRY_SIZE);
    } else {
        std::vector<std::uint32_t> chain;
        if (!clusterChain(disk.vol, firstCluster, chain, error)) return false;
        if (!readClusters(disk, chain, raw, error)) return false;
    }
    parseEntries(raw, entries);
    return true;
}

bool readFile(Disk& disk, const Entry& file, std::vector<std::uint8_t>& data, std::string& error) {
    data.clear();
    if (file.size == 0) return true;
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(disk.vol.sectorsPerCluster) * disk.vol.bytesPerSector;
    const std::uint64_t needed = (file.size + clusterBytes - 1) / clusterBytes;
    if (needed > disk.vol.clusterCount) {
        error = format("size %u does not fit the disk", file.size);
        return false;
    }
    std::vector<std::uint32_t> chain;
    if (!clusterChain(disk.vol, file.firstCluster, chain, error)) return false;
    if (chain.size() < needed) {
        error = format("cluster chain of %zu clusters is too short for %u bytes", chain.size(), file.size);
        return false;
    }
    chain.resize(needed);  // clusters past the size hold nothing of the file
    if (!readClusters(disk, chain, data, error)) return false;
    data.resize(file.size);
    return true;
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "/") {
        if (c == '/' || c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    return parts;
}

bool saveFile(const std::filesystem::path& target, const std::vector<std::uint8_t>& data, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        error = "cannot write " + target.string();
        return false;
    }
    return true;
}

// Reads one file into outDir/<diskPath> and logs it.
bool fetchFile(Disk& disk, const Entry& file, const std::string& diskPath, const std::filesystem::path& target) {
    std::vector<std::uint8_t> data;
    std::string error;
    const std::uint32_t before = disk.requests;
    if (!readFile(disk, file, data, error) || !saveFile(target, data, error)) {
        (*disk.log)("read " + diskPath + " failed: " + error);
        return false;
    }
    (*disk.log)(format("read %s: %u bytes in %u requests -> %s", diskPath.c_str(), file.size,
                       disk.requests - before, target.string().c_str()));
    return true;
}

// Walks the tree below a folder. `visited` marks folders already entered, so
// a folder that points back at another one is not walked twice.
struct Walk {
    Disk* disk;
    bool list;
    bool read;
    std::filesystem::path outDir;
    std::vector<bool> visited;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

bool walkFolder(Walk& walk, std::uint32_t firstCluster, const std::string& diskPath,
                const std::filesystem::path& target) {
    Disk& disk = *walk.disk;
    std::vector<Entry> entries;
    std::string error;
    if (!readFolder(disk, firstCluster, entries, error)) {
        (*disk.log)("folder " + diskPath + " failed: " + error);
        return false;
    }
    if (walk.list) {
        (*disk.log)("Directory of " + diskPath);
        for (const Entry& e : entries) {
            (*disk.log)(e.folder ? format("  %-12s      <DIR>", e.name.c_str())
                                 : format("  %-12s %10u", e.name.c_str(), e.size));
        }
    }
    bool ok = true;
    for (const Entry& e : entries) {
        const std::string childPath = (diskPath == "/" ? "/" : diskPath + "/") + e.name;
        const std::filesystem::path childTarget = target / safeName(e.name);
        if (!e.folder) {
            ++walk.files;
            walk.bytes += e.size;
            if (walk.read) ok = fetchFile(disk, e, childPath, childTarget) && ok;
            continue;
        }
        if (e.firstCluster < 2 || e.firstCluster >= disk.vol.clusterCount + 2 || walk.visited[e.firstCluster]) {
            (*disk.log)(format("folder %s skipped: it starts at cluster %u, not a new folder", childPath.c_str(),
                               e.firstCluster));
            ok = false;
            continue;
        }
        walk.visited[e.firstCluster] = true;
        if (walk.read) {
            std::error_code ec;
            std::filesystem::create_directories(childTarget, ec);
        }
        ok = walkFolder(walk, e.firstCluster, childPath, childTarget) && ok;
    }
    return ok;
}

bool runWalk(Disk& disk, const std::string& outDir, bool list, bool read) {
    Walk walk{&disk, list, read, std::filesystem::path(outDir), std::vector<bool>(disk.vol.clusterCount + 2)};
    const bool ok = walkFolder(walk, 0, "/", walk.outDir);
    (*disk.log)(format("%llu files, %llu bytes%s", static_cast<unsigned long long>(walk.files),
                       static_cast<unsigned long long>(walk.bytes), ok ? "" : " (with errors)"));
    return ok;
}

bool readOne(Disk& disk, const std::string& path, const std::string& outDir) {
    const std::vector<std::string> parts = splitPath(path);
    if (parts.empty()) {
        (*disk.log)("read " + path + " failed: no file named");
        return false;
    }
    std::uint32_t folder = 0;
    std::string diskPath;
    std::filesystem::path target(outDir);
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string error;
        if (!readFolder(disk, folder, entries, error)) {
            (*disk.log)("read " + path + " failed: " + error);
            return false;
        }
        const auto found = std::find_if(entries.begin(), entries.end(),
                                         [&](const Entry& e) { return sameName(e.name, parts[i]); });
        if (found == entries.end()) {
            (*disk.log)("read " + path + " failed: not found");
            return false;
        }
        diskPath += "/" + found->name;
        target /= safeName(found->name);
        const bool last = i + 1 == parts.size();
        if (last && found->folder) {
            (*disk.log)("read " + path + " failed: it is a folder");
            return false;
        }
        if (!last && !found->folder) {
            (*disk.log)("read " + path + " failed: " + diskPath + " is not a folder");
            return false;
        }
        if (last) return fetchFile(disk, *found, diskPath, target);
        folder = found->firstCluster;
        if (folder == 0) {
            (*disk.log)("read " + path + " failed: " + diskPath + " has no clusters");
            return false;
        }
    }
    return false;
}

// Where partition 0 of a dumped image starts, in 512-byte sectors: behind
// the root sector and one empty sector, as AHDI lays out a disk.
constexpr std::uint32_t DUMP_PARTITION_START = 2;

bool dumpPartition(Disk& disk, const std::string& file) {
    const Volume& vol = disk.vol;
    const std::uint64_t bytes = static_cast<std::uint64_t>(vol.totalSectors) * vol.bytesPerSector;
    const auto fail = [&](const std::string& why) {
        (*disk.log)("dump " + file + " failed: " + why);
        return false;
    };
    if (vol.totalSectors > 0x10000) {
        return fail(format("the partition has %u sectors; requests address at most 65536", vol.totalSectors));
    }
    const std::uint32_t sectors512 = static_cast<std::uint32_t>(bytes / 512);
    std::uint8_t root[ahdi::ROOT_BYTES] = {};
    putBigEndian32(root + ahdi::DISK_SECTORS_AT, DUMP_PARTITION_START + sectors512);
    root[ahdi::PARTITION_FLAGS_AT] = 1;
    std::copy_n(ahdi::partitionIdFor(sectors512), 3, root + ahdi::PARTITION_ID_AT);
    putBigEndian32(root + ahdi::PARTITION_START_AT, DUMP_PARTITION_START);
    putBigEndian32(root + ahdi::PARTITION_SECTORS_AT, sectors512);
    ahdi::setRootWordSum(root);

    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot create the file");
    const std::vector<char> head(DUMP_PARTITION_START * 512, 0);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    out.seekp(0);
    out.write(reinterpret_cast<const char*>(root), sizeof root);
    out.seekp(static_cast<std::streamoff>(head.size()));
    // In pieces of a few requests, so a dump needs no partition-sized buffer.
    const std::uint32_t piece = vol.maxPerRequest * 16;
    const std::uint32_t before = disk.requests;
    std::vector<std::uint8_t> data;
    for (std::uint32_t first = 0; first < vol.totalSectors; first += piece) {
        std::string error;
        if (!readSectors(disk, first, std::min(piece, vol.totalSectors - first), data, error)) return fail(error);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    out.close();
    if (!out) return fail("cannot write the file");
    (*disk.log)(format("dump: %u sectors of %u bytes in %u requests -> %s (plain image, partition at sector %u)",
                       vol.totalSectors, vol.bytesPerSector, disk.requests - before, file.c_str(),
                       DUMP_PARTITION_START));
    return true;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool parseAtariTasks(const std::string& config, std::vector<AtariTask>& tasks, std::string& error) {
    tasks.clear();
    std::size_t start = 0;
    while (start <= config.size()) {
        std::size_t end = config.find(';', start);
        if (end == std::string::npos) end = config.size();
        const std::string item = trim(config.substr(start, end - start));
        start = end + 1;
        if (item.empty()) continue;
        const std::size_t colon = item.find(':');
        std::string word = trim(item.substr(0, colon));
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string arg = colon == std::string::npos ? "" : trim(item.substr(colon + 1));
        AtariTask task;
        if (word == "list" && colon == std::string::npos) {
            task.kind = AtariTaskKind::list;
        } else if (word == "readall" && colon == std::string::npos) {
            task.kind = AtariTaskKind::readAll;
        } else if (word == "read" && !arg.empty()) {
            task.kind = AtariTaskKind::read;
            task.path = arg;
        } else if (word == "dump" && !arg.empty()) {
            task.kind = AtariTaskKind::dump;
            task.path = arg;
        } else {
            error = "unknown Atari task \"" + item + "\" (use list, read:/PATH, readall or dump:FILE)";
            tasks.clear();
            return false;
        }
        tasks.push_back(task);
    }
    return true;
}

bool runAtariTasks(const std::vector<AtariTask>& tasks, const RequestSectors& request, const std::string& outDir,
                   const AtariLog& log) {
    Disk disk;
    disk.request = &request;
    disk.log = &log;
    std::string error;
    if (!readBootSector(disk, error)) {
        log("disk unreadable: " + error);
        return false;
    }
    bool ok = true;
    for (const AtariTask& task : tasks) {
        switch (task.kind) {
            case AtariTaskKind::list:
                ok = runWalk(disk, outDir, true, false) && ok;
                break;
            case AtariTaskKind::readAll:
                ok = runWalk(disk, outDir, false, true) && ok;
                break;
            case AtariTaskKind::read:
                ok = readOne(disk, task.path, outDir) && ok;
                break;
            case AtariTaskKind::dump:
                ok = dumpPartition(disk, task.path) && ok;
                break;
        }
    }
    log(format("%u sector requests in all", disk.requests));
    return ok;
}
