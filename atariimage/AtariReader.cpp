// Reading an image through the server's window.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "AtariImage.h"
#include "BootSector.h"
#include "ByteOrder.h"
#include "CartridgeCommands.h"
#include "Text.h"
#include "platform/Platform.h"

namespace atari {
namespace {

std::uint32_t le16(const std::uint8_t* p) { return littleEndian16(p); }
bool powerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Copies buffer bytes [offset, offset + count) with zeros where the file ended.
void copyWindow(const Window& window, std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    std::size_t have = 0;
    if (offset < window.size) {
        have = std::size_t(std::min<std::uint64_t>(count, window.size - offset));
        std::memcpy(out, window.data + offset, have);
    }
    std::memset(out + have, 0, count - have);
}

using fat::ATTR_LONG_NAME;
using fat::ATTR_VOLUME;
using fat::ENTRY_BYTES;
constexpr std::size_t MAX_FOLDER_DEPTH = 64;

std::uint32_t fatEntry(const Volume& v, std::uint32_t cluster) {
    if (v.fatBits == 16) {
        return le16(&v.fat[std::size_t(cluster) * 2]);
    }
    const std::uint32_t pair = le16(&v.fat[cluster + cluster / 2]);
    return (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
}

}  // namespace

std::string unsafeNameReason(const std::string& name) {
    if (name == "." || name == "..") return "names a folder itself or its parent";
    if (name[0] == '.') return "starts with '.' (kept for a folder's own entries)";
    for (unsigned char c : name) {
        if (c == 0) return "holds a NUL byte";
        if (c < 0x20 || c == 0x7F) return format("holds the control byte 0x%02X", c);
        if (c == '/' || c == '\\') return format("holds '%c', a path separator", c);
        // Not in FAT names; on Windows ':' would name a drive or a stream.
        if (std::strchr(":*?\"<>|", c) != nullptr) return format("holds '%c', which FAT names never hold", c);
    }
    return "";
}

bool loadWindow(const std::string& path, Bytes& buffer, std::uint64_t& fileSize, std::string& error) {
    const int fd = platform::openRegularFile(path, error);
    if (fd < 0) {
        error = printable(error);
        return false;
    }
    bool ok = platform::fileLength(fd, fileSize);
    if (ok) {
        // Only what the file supplies is kept; the rest of the window reads as zeros.
        const std::size_t head = std::size_t(std::min<std::uint64_t>(fileSize, ahdi::HEAD_BYTES));
        std::size_t tail = 0;
        if (fileSize > ahdi::WINDOW_FILE_OFFSET) {
            tail = std::size_t(std::min<std::uint64_t>(fileSize - ahdi::WINDOW_FILE_OFFSET,
                                                       ahdi::WINDOW_BYTES - ahdi::HEAD_BYTES));
        }
        buffer.assign(tail != 0 ? ahdi::HEAD_BYTES + tail : head, 0);
        ok = platform::readFileAt(fd, 0, buffer.data(), head) &&
             (tail == 0 ||
              platform::readFileAt(fd, ahdi::WINDOW_FILE_OFFSET, buffer.data() + ahdi::HEAD_BYTES, tail));
    }
    platform::closeFile(fd);
    if (!ok) error = "cannot read " + printable(path);
    return ok;
}

bool readFileBytes(const std::string& path, std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    std::string error;
    const int fd = platform::openRegularFile(path, error);
    if (fd < 0) return false;
    const bool ok = platform::readFileAt(fd, offset, data, size);
    platform::closeFile(fd);
    return ok;
}

Window windowOf(const Bytes& buffer) { return Window{buffer.data(), buffer.size()}; }

void fixRootChecksum(std::uint8_t* sector) { ahdi::setRootWordSum(sector, ROOT_CHECKSUM); }

RootSector readRootSector(const Window& window) {
    std::uint8_t sector[ahdi::ROOT_BYTES];
    copyWindow(window, 0, sizeof sector, sector);
    RootSector root;
    root.wordSum = rootWordSum(sector);
    root.diskSectors = bigEndian32(sector + ahdi::DISK_SECTORS_AT);
    root.flags = sector[ahdi::PARTITION_FLAGS_AT];
    std::memcpy(root.id, sector + ahdi::PARTITION_ID_AT, 3);
    root.start = bigEndian32(sector + ahdi::PARTITION_START_AT);
    root.sectors = bigEndian32(sector + ahdi::PARTITION_SECTORS_AT);
    return root;
}

bool openVolume(const Window& window, std::uint64_t partitionOffset, Volume& v, std::string& error) {
    v = Volume{};
    v.window = window;
    v.partitionOffset = partitionOffset;
    if (partitionOffset + 512 > ahdi::WINDOW_BYTES) {
        error = "the partition's boot sector lies outside the window";
        return false;
    }
    if (partitionOffset + 512 > window.size) {
        error = format("the image file ends before the partition's boot sector (file offset %llu)",
                       static_cast<unsigned long long>(fileOffsetOfBuffer(partitionOffset)));
        return false;
    }
    std::uint8_t b[fat::BOOT_SECTOR_BYTES];
    copyWindow(window, partitionOffset, sizeof b, b);
    v.bytesPerSector = le16(b + fat::BYTES_PER_SECTOR_AT);
    v.sectorsPerCluster = b[fat::SECTORS_PER_CLUSTER_AT];
    v.reservedSectors = le16(b + fat::RESERVED_SECTORS_AT);
    v.fatCount = b[fat::FAT_COUNT_AT];
    v.rootEntries = le16(b + fat::ROOT_ENTRIES_AT);
    v.totalSectors = le16(b + fat::TOTAL_SECTORS_AT);
    v.media = b[fat::MEDIA_AT];
    v.sectorsPerFat = le16(b + fat::SECTORS_PER_FAT_AT);
    v.sectorsPerTrack = le16(b + fat::SECTORS_PER_TRACK_AT);
    v.sides = le16(b + fat::SIDES_AT);

    const std::uint32_t bps = v.bytesPerSector;
    if (!powerOfTwo(bps) || bps < 512 || bps > SECTOR_REPLY_MOST_DATA) {
        error = format("bad boot sector: %u bytes per sector (the server hands out 512 to 8192)", bps);
        return false;
    }
    if (!powerOfTwo(v.sectorsPerCluster)) {
        error = format("bad boot sector: %u sectors per cluster", v.sectorsPerCluster);
        return false;
    }
    if (v.reservedSectors == 0 || v.fatCount == 0 || v.sectorsPerFat == 0 || v.rootEntries == 0) {
        error = format("bad boot sector: %u reserved sectors, %u FATs of %u sectors, %u root entries",
                       v.reservedSectors, v.fatCount, v.sectorsPerFat, v.rootEntries);
        return false;
    }
    if (v.totalSectors == 0) {
        error = "bad boot sector: 0 sectors (larger partitions do not fit the window)";
        return false;
    }
    v.rootStart = v.reservedSectors + v.fatCount * v.sectorsPerFat;
    v.rootSectors = (v.rootEntries * ENTRY_BYTES + bps - 1) / bps;
    v.dataStart = v.rootStart + v.rootSectors;
    if (v.totalSectors <= v.dataStart) {
        error = format("bad boot sector: %u sectors leave no room for data after sector %u", v.totalSectors,
                       v.dataStart);
        return false;
    }
    v.clusterCount = (v.totalSectors - v.dataStart) / v.sectorsPerCluster;
    if (v.clusterCount == 0 || v.clusterCount > 0xFFF4) {
        error = format("bad boot sector: %u clusters is no FAT12 or FAT16 file system", v.clusterCount);
        return false;
    }
    // The width follows the cluster count, as every FAT reader decides it.
    v.fatBits = v.clusterCount < 4085 ? 12 : 16;
    const std::uint64_t fatBytes = std::uint64_t(v.sectorsPerFat) * bps;
    const std::uint64_t needed = v.fatBits == 16 ? (v.clusterCount + 2) * 2ull : ((v.clusterCount + 2) * 3ull + 1) / 2;
    if (fatBytes < needed) {
        error = format("bad boot sector: a FAT of %u sectors cannot hold %u clusters", v.sectorsPerFat,
                       v.clusterCount);
        return false;
    }
    std::string why;
    if (!readSectors(v, v.reservedSectors, v.sectorsPerFat, v.fat, why)) {
        error = "cannot read the FAT: " + why;
        return false;
    }
    return true;
}

bool openServedVolume(const Window& window, Volume& volume, std::string& error) {
    const RootSector root = readRootSector(window);
    if (!root.checksumOk()) {
        error = format("bad root sector checksum 0x%04X (the server needs 0x1234)", root.wordSum);
        return false;
    }
    if (!root.active()) {
        error = "partition 0 is not active";
        return false;
    }
    if (!root.bootInWindow()) {
        error = "partition 0 lies outside the drive image window";
        return false;
    }
    return openVolume(window, root.bootBufferOffset(), volume, error);
}

bool readSectors(const Volume& v, std::uint32_t first, std::uint32_t count, Bytes& out, std::string& error) {
    out.clear();
    if (count == 0) {
        return true;
    }
    if (std::uint64_t(first) + count - 1 > 0xFFFF) {
        error = format("sector %u is beyond the 16-bit sector numbers of a request",
                       unsigned(std::min<std::uint64_t>(std::uint64_t(first) + count - 1, 0xFFFFFFFF)));
        return false;
    }
    const std::uint64_t start = v.partitionOffset + std::uint64_t(first) * v.bytesPerSector;
    const std::uint64_t length = std::uint64_t(count) * v.bytesPerSector;
    if (start + length > ahdi::WINDOW_BYTES) {
        error = format("sectors %u-%u lie past the end of the window", first, first + count - 1);
        return false;
    }
    // The server would hand out zeros here; a sound image is never that short.
    if (start + length > v.window.size) {
        error = format("the image file ends inside sectors %u-%u (at file offset %llu)", first, first + count - 1,
                       static_cast<unsigned long long>(fileOffsetOfBuffer(v.window.size)));
        return false;
    }
    out.resize(std::size_t(length));
    copyWindow(v.window, start, std::size_t(length), out.data());
    return true;
}

bool Walker::chain(std::uint32_t first, std::vector<std::uint32_t>& clusters, std::string& error) {
    clusters.clear();
    used.resize(volume.clusterCount + 2, false);
    const std::uint32_t endMark = volume.fatBits == 16 ? 0xFFF8 : 0xFF8;
    const std::uint32_t badMark = volume.fatBits == 16 ? 0xFFF7 : 0xFF7;
    std::uint32_t cluster = first;
    for (;;) {
        if (cluster < 2 || cluster >= volume.clusterCount + 2) {
            error = format("cluster chain from %u: cluster %u is outside the disk (clusters 2-%u)", first, cluster,
                           volume.clusterCount + 1);
            return false;
        }
        if (used[cluster]) {
            error = format("cluster chain from %u: cluster %u is met twice (a loop, a folder cycle or a cross-link)",
                           first, cluster);
            return false;
        }
        used[cluster] = true;
        clusters.push_back(cluster);
        const std::uint32_t next = fatEntry(volume, cluster);
        if (next >= endMark) {
            return true;
        }
        if (next == badMark) {
            error = format("cluster chain from %u: cluster %u is marked bad", first, cluster);
            return false;
        }
        if (next == 0) {
            error = format("cluster chain from %u: cluster %u points to a free cluster", first, cluster);
            return false;
        }
        cluster = next;
    }
}

bool Walker::listFolder(std::uint32_t cluster, std::vector<Entry>& entries, std::string& error) {
    entries.clear();
    Bytes raw;
    if (cluster == 0) {
        if (!readSectors(volume, volume.rootStart, volume.rootSectors, raw, error)) {
            error = "root folder: " + error;
            return false;
        }
        raw.resize(std::size_t(volume.rootEntries) * ENTRY_BYTES);
    } else {
        std::vector<std::uint32_t> clusters;
        if (!chain(cluster, clusters, error)) {
            return false;
        }
        Bytes part;
        for (std::uint32_t c : clusters) {
            if (!readSectors(volume, volume.dataStart + (c - 2) * volume.sectorsPerCluster,
                             volume.sectorsPerCluster, part, error)) {
                return false;
            }
            raw.insert(raw.end(), part.begin(), part.end());
        }
    }
    std::set<std::string> seen;  // upper case: a host that ignores case must not merge two entries
    for (std::size_t at = 0; at + ENTRY_BYTES <= raw.size(); at += ENTRY_BYTES) {
        const std::uint8_t* e = raw.data() + at;
        const std::size_t index = at / ENTRY_BYTES;
        if (e[0] == fat::ENTRY_END) {
            break;
        }
        const std::uint8_t attributes = e[fat::ENTRY_ATTRIBUTES_AT];
        if (e[0] == fat::ENTRY_DELETED || attributes == ATTR_LONG_NAME || (attributes & ATTR_VOLUME) != 0) {
            continue;
        }
        const std::string raw11(reinterpret_cast<const char*>(e), fat::ENTRY_NAME_BYTES);
        // A sub-folder's own "." and ".." come first; anywhere else they would
        // name the folder itself or its parent on the host.
        if (cluster != 0 && ((index == 0 && raw11 == ".          ") || (index == 1 && raw11 == "..         "))) {
            continue;
        }
        Entry entry;
        std::string base = raw11.substr(0, fat::ENTRY_EXTENSION_AT);
        std::string ext = raw11.substr(fat::ENTRY_EXTENSION_AT);
        if (base[0] == fat::ENTRY_E5_NAME) base[0] = char(fat::ENTRY_DELETED);
        base.erase(base.find_last_not_of(' ') + 1);
        ext.erase(ext.find_last_not_of(' ') + 1);
        if (base.empty()) {
            // No file system writes a blank name; a path could not name it.
            error = format("folder entry %zu has a blank name", index);
            return false;
        }
        entry.name = ext.empty() ? base : base + "." + ext;
        const std::string why = unsafeNameReason(entry.name);
        if (!why.empty()) {
            error = format("folder entry %zu is named \"%s\", which %s", index, printable(entry.name).c_str(),
                           why.c_str());
            return false;
        }
        if (!seen.insert(upperAscii(entry.name)).second) {
            error = format("folder entry %zu: a second entry named \"%s\"", index, printable(entry.name).c_str());
            return false;
        }
        entry.attributes = attributes;
        entry.time = std::uint16_t(le16(e + fat::ENTRY_TIME_AT));
        entry.date = std::uint16_t(le16(e + fat::ENTRY_DATE_AT));
        entry.firstCluster = le16(e + fat::ENTRY_CLUSTER_AT);
        entry.size = le16(e + fat::ENTRY_SIZE_AT) | le16(e + fat::ENTRY_SIZE_AT + 2) << 16;
        entries.push_back(entry);
    }
    return true;
}

std::string volumeLabel(const Volume& v) {
    Bytes raw;
    std::string error;
    if (readSectors(v, v.rootStart, v.rootSectors, raw, error)) {
        raw.resize(std::size_t(v.rootEntries) * ENTRY_BYTES);
        for (std::size_t at = 0; at + ENTRY_BYTES <= raw.size() && raw[at] != 0; at += ENTRY_BYTES) {
            const std::uint8_t* e = raw.data() + at;
            const std::uint8_t attributes = e[fat::ENTRY_ATTRIBUTES_AT];
            if (e[0] != fat::ENTRY_DELETED && attributes != ATTR_LONG_NAME && (attributes & ATTR_VOLUME) != 0) {
                std::string label(reinterpret_cast<const char*>(e), fat::ENTRY_NAME_BYTES);
                label.erase(label.find_last_not_of(' ') + 1);
                return label;
            }
        }
    }
    return "";
}

bool Walker::readFile(const Entry& file, Bytes& content, std::string& error) {
    content.clear();
    if (file.size == 0) {
        return true;
    }
    if (file.firstCluster == 0) {
        error = format("%s: %u bytes but no cluster", file.name.c_str(), file.size);
        return false;
    }
    std::vector<std::uint32_t> clusters;
    if (!chain(file.firstCluster, clusters, error)) {
        error = file.name + ": " + error;
        return false;
    }
    const std::uint64_t room = std::uint64_t(clusters.size()) * volume.clusterBytes();
    if (file.size > room) {
        error = format("%s: size %u is beyond its cluster chain (%zu clusters, %llu bytes)", file.name.c_str(),
                       file.size, clusters.size(), static_cast<unsigned long long>(room));
        return false;
    }
    content.reserve(file.size);
    Bytes part;
    // Runs of consecutive clusters in one go, as the Atari asks for them.
    std::size_t i = 0;
    while (i < clusters.size() && content.size() < file.size) {
        std::size_t j = i + 1;
        while (j < clusters.size() && clusters[j] == clusters[j - 1] + 1) ++j;
        if (!readSectors(volume, volume.dataStart + (clusters[i] - 2) * volume.sectorsPerCluster,
                         std::uint32_t(j - i) * volume.sectorsPerCluster, part, error)) {
            error = file.name + ": " + error;
            return false;
        }
        content.insert(content.end(), part.begin(), part.end());
        i = j;
    }
    content.resize(file.size);
    return true;
}

bool Walker::find(const std::string& path, Entry& found, std::string& error) {
    found = Entry{};
    found.name = "/";
    found.attributes = fat::ATTR_FOLDER;
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "/") {
        if (c == '/' || c == '\\') {
            if (!part.empty()) parts.push_back(upperAscii(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (parts.size() > MAX_FOLDER_DEPTH) {
        error = "path too deep: " + path;
        return false;
    }
    std::vector<Entry> entries;
    for (const std::string& name : parts) {
        if (!found.folder()) {
            error = found.name + " is not a folder";
            return false;
        }
        if (!listFolder(found.firstCluster, entries, error)) {
            return false;
        }
        const auto hit = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
        if (hit == entries.end()) {
            error = "no " + path + " on the disk";
            return false;
        }
        found = *hit;
        if (found.folder() && found.firstCluster == 0) {
            error = found.name + ": a folder with no cluster";
            return false;
        }
    }
    return true;
}

}  // namespace atari
