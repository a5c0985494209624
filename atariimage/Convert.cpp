// Served and plain images, and the conversion between them. The partition's
// bytes pass through unchanged; only the root sector and the place of the
// partition in the file differ.
#include "Convert.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "AhdiRootSector.h"
#include "BootSector.h"
#include "ServedWindow.h"
#include "ByteOrder.h"
#include "Text.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace atari {
namespace {

constexpr std::uint32_t WINDOW_ROOM = ahdi::WINDOW_BYTES - ahdi::HEAD_BYTES;

std::string idText(const PartitionEntry& e) {
    std::string id;
    for (int i = 0; i < 3; ++i) {
        const auto c = static_cast<unsigned char>(e.id[i]);
        id += c >= 0x20 && c < 0x7F ? char(c) : '?';
    }
    return id;
}

std::string usedEntries(const std::vector<PartitionEntry>& entries) {
    std::string list;
    for (const PartitionEntry& e : entries) {
        if (!e.used()) continue;
        list += format("%s%d (%s%s, sector %u, %u KB)", list.empty() ? "" : ", ", e.index, idText(e).c_str(),
                       e.active() ? ", active" : "", e.start, e.sectors / 2);
    }
    return list.empty() ? "none" : list;
}

bool readHead(const std::string& path, std::uint8_t* root, std::uint64_t& fileSize, std::string& error) {
    const int fd = platform::openRegularFile(path, error);
    if (fd < 0) {
        error = printable(error);
        return false;
    }
    bool ok = platform::fileLength(fd, fileSize);
    if (ok && fileSize < ahdi::ROOT_BYTES) {
        error = printable(path) + " is shorter than a root sector (" + std::to_string(fileSize) + " bytes)";
        ok = false;
    } else if (ok && !platform::readFileAt(fd, 0, root, ahdi::ROOT_BYTES)) {
        error = "cannot read " + printable(path);
        ok = false;
    }
    platform::closeFile(fd);
    return ok;
}

bool bootSectorAt(const std::string& path, std::uint64_t offset, std::uint64_t fileSize) {
    std::uint8_t b[512];
    return offset + sizeof b <= fileSize && readFileBytes(path, offset, b, sizeof b) && looksLikeBootSector(b);
}

// The volume in `window` (a served buffer), checked against the entry that holds it.
bool checkPartition(const Bytes& window, const PartitionEntry& entry, std::string& error) {
    Volume volume;
    if (!openVolume(windowOf(window), ahdi::HEAD_BYTES, volume, error)) {
        error = format("partition %d: %s", entry.index, error.c_str());
        return false;
    }
    const std::uint64_t fsBytes = std::uint64_t(volume.totalSectors) * volume.bytesPerSector;
    if (fsBytes > std::uint64_t(entry.sectors) * 512) {
        error = format("partition %d: its boot sector's %u sectors of %u bytes reach past the %u sectors of 512 "
                       "bytes its root sector entry gives",
                       entry.index, volume.totalSectors, volume.bytesPerSector, entry.sectors);
        return false;
    }
    return true;
}

bool samePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(pathOf(a), pathOf(b), ec)) return true;
    const fs::path ca = fs::weakly_canonical(pathOf(a), ec);
    const fs::path cb = fs::weakly_canonical(pathOf(b), ec);
    return !ec && ca == cb;
}

}  // namespace

const char* layoutName(Layout layout) {
    return layout == Layout::served ? "served" : layout == Layout::plain ? "plain" : "unknown";
}

std::vector<PartitionEntry> partitionEntries(const std::uint8_t* root) {
    std::vector<PartitionEntry> entries(PARTITION_ENTRIES);
    for (int i = 0; i < PARTITION_ENTRIES; ++i) {
        const std::uint8_t* p = root + ahdi::PARTITION_FLAGS_AT + std::size_t(i) * PARTITION_ENTRY_BYTES;
        PartitionEntry& e = entries[std::size_t(i)];
        e.index = i;
        e.flags = p[0];
        std::memcpy(e.id, p + 1, 3);
        e.start = bigEndian32(p + ahdi::PARTITION_START_AT - ahdi::PARTITION_FLAGS_AT);
        e.sectors = bigEndian32(p + ahdi::PARTITION_SECTORS_AT - ahdi::PARTITION_FLAGS_AT);
    }
    return entries;
}

bool looksLikeBootSector(const std::uint8_t* b) {
    const std::uint32_t bps = littleEndian16(b + fat::BYTES_PER_SECTOR_AT);
    const std::uint32_t spc = b[fat::SECTORS_PER_CLUSTER_AT];
    const std::uint8_t fats = b[fat::FAT_COUNT_AT];
    return bps >= 512 && bps <= 8192 && (bps & (bps - 1)) == 0 && spc != 0 && (spc & (spc - 1)) == 0 &&
           littleEndian16(b + fat::RESERVED_SECTORS_AT) != 0 && (fats == 1 || fats == 2) &&
           littleEndian16(b + fat::ROOT_ENTRIES_AT) != 0;
}

LayoutFound findLayout(const std::string& path) {
    LayoutFound found;
    std::uint8_t root[ahdi::ROOT_BYTES];
    std::string error;
    if (!readHead(path, root, found.fileSize, error)) return found;
    const std::vector<PartitionEntry> entries = partitionEntries(root);
    if (entries[0].start == SERVED_START_SECTOR && bootSectorAt(path, ahdi::WINDOW_FILE_OFFSET, found.fileSize)) {
        found.layout = Layout::served;
        found.partition = 0;
        return found;
    }
    // The partition convert would pick first: active ones before the others.
    for (bool wantActive : {true, false}) {
        for (const PartitionEntry& e : entries) {
            if (!e.used() || e.active() != wantActive || e.start == 0) continue;
            if (bootSectorAt(path, std::uint64_t(e.start) * 512, found.fileSize)) {
                found.layout = Layout::plain;
                found.partition = e.index;
                return found;
            }
        }
    }
    return found;
}

std::string plainLayoutNote(const std::string& path) {
    const LayoutFound found = findLayout(path);
    if (found.layout != Layout::plain) return "";
    return format("%s is in the plain layout (partition %d where its root sector says), which the server does not "
                  "read: `vexlo-image convert %s SERVED.img --to served` makes it servable",
                  printable(path).c_str(), found.partition, printable(path).c_str());
}

Bytes makeRootSector(std::uint32_t start, std::uint32_t partitionSectors, const char* id, Layout layout) {
    Bytes root(ahdi::ROOT_BYTES, 0);
    std::uint8_t* r = root.data();
    const std::uint32_t diskEnd = layout == Layout::served ? SERVED_FILE_SECTOR : start;
    putBigEndian32(r + ahdi::DISK_SECTORS_AT, diskEnd + partitionSectors);
    r[ahdi::PARTITION_FLAGS_AT] = 0x01;
    std::copy_n(id, 3, r + ahdi::PARTITION_ID_AT);
    putBigEndian32(r + ahdi::PARTITION_START_AT, start);
    putBigEndian32(r + ahdi::PARTITION_SECTORS_AT, partitionSectors);
    if (layout == Layout::served) {
        fixRootChecksum(r);
    } else if (rootWordSum(r) == ROOT_CHECKSUM) {
        putBigEndian16(r + ahdi::WORD_SUM_FIX_AT, 1);
    }
    return root;
}

bool loadPlainPartition(const std::string& path, int partition, Bytes& window, PartitionEntry& chosen,
                        std::string& error) {
    std::uint8_t root[ahdi::ROOT_BYTES];
    std::uint64_t fileSize = 0;
    if (!readHead(path, root, fileSize, error)) return false;
    const std::vector<PartitionEntry> entries = partitionEntries(root);
    if (partition < 0) {
        const auto active = std::find_if(entries.begin(), entries.end(),
                                         [](const PartitionEntry& e) { return e.used() && e.active(); });
        if (active == entries.end()) {
            error = "the root sector has no active partition (used entries: " + usedEntries(entries) +
                    "); pick one with --partition N";
            return false;
        }
        partition = active->index;
    }
    if (partition >= PARTITION_ENTRIES) {
        error = format("--partition %d: the root sector has entries 0-%d (used: %s)", partition,
                       PARTITION_ENTRIES - 1, usedEntries(entries).c_str());
        return false;
    }
    chosen = entries[std::size_t(partition)];
    if (!chosen.used()) {
        error = format("partition %d is not used (used entries: %s)", partition, usedEntries(entries).c_str());
        return false;
    }
    const std::uint64_t offset = std::uint64_t(chosen.start) * 512;
    const std::uint64_t bytes = std::uint64_t(chosen.sectors) * 512;
    if (chosen.start < 1) {
        error = format("partition %d starts at sector 0, the root sector itself", partition);
        return false;
    }
    if (bytes > WINDOW_ROOM) {
        error = format("partition %d is %u KB, more than the %u KB of a partition the server's window holds; "
                       "copy its files into a folder and serve that, or make a smaller partition",
                       partition, chosen.sectors / 2, WINDOW_ROOM / 1024);
        return false;
    }
    if (offset + bytes > fileSize) {
        error = format("the file ends at byte %llu, inside partition %d (file bytes %llu-%llu): the image is cut "
                       "short",
                       static_cast<unsigned long long>(fileSize), partition, static_cast<unsigned long long>(offset),
                       static_cast<unsigned long long>(offset + bytes - 1));
        return false;
    }
    window.assign(ahdi::HEAD_BYTES + std::size_t(bytes), 0);
    const Bytes served = makeRootSector(SERVED_START_SECTOR, chosen.sectors, chosen.id, Layout::served);
    std::copy(served.begin(), served.end(), window.begin());
    if (!readFileBytes(path, offset, window.data() + ahdi::HEAD_BYTES, std::size_t(bytes))) {
        error = "cannot read " + printable(path);
        return false;
    }
    return checkPartition(window, chosen, error);
}

bool openAnyLayout(const std::string& path, Bytes& buffer, Volume& volume, Layout& layout, std::string& error) {
    std::uint64_t fileSize = 0;
    if (!loadWindow(path, buffer, fileSize, error)) return false;
    layout = Layout::served;
    if (openServedVolume(windowOf(buffer), volume, error)) return true;
    const LayoutFound found = findLayout(path);
    if (found.layout != Layout::plain) return false;
    PartitionEntry chosen;
    std::string why;
    if (!loadPlainPartition(path, found.partition, buffer, chosen, why) ||
        !openVolume(windowOf(buffer), ahdi::HEAD_BYTES, volume, why)) {
        error = "plain layout: " + why;
        return false;
    }
    layout = Layout::plain;
    return true;
}

bool convertImage(const std::string& in, const std::string& out, Layout to, int partition, bool force,
                  ConvertResult& result, std::string& error) {
    result = ConvertResult{};
    if (samePath(in, out)) {
        error = printable(out) + " is the input image itself; convert writes a new image and never changes its input";
        return false;
    }
    if (!checkOutputTarget(out, force, error)) return false;
    const LayoutFound found = findLayout(in);
    result.from = found.layout;
    if (found.layout == to) {
        error = printable(in) + " is already in the " + layoutName(to) + " layout";
        return false;
    }
    Bytes window;
    if (to == Layout::served) {
        if (!loadPlainPartition(in, partition, window, result.partition, error)) {
            error = printable(in) + ": " + error;
            return false;
        }
        result.bytes = window.size() - ahdi::HEAD_BYTES;
        const std::uint64_t length = ahdi::WINDOW_FILE_OFFSET + result.bytes;
        return replaceFile(
            out, length,
            [&window](int fd) {
                return platform::writeFileAt(fd, 0, window.data(), ahdi::ROOT_BYTES) &&
                       writeSparse(fd, ahdi::WINDOW_FILE_OFFSET, window.data() + ahdi::HEAD_BYTES,
                                   window.size() - ahdi::HEAD_BYTES);
            },
            error);
    }
    // To plain: partition 0 as the server reads it.
    std::uint64_t fileSize = 0;
    Volume volume;
    if (!loadWindow(in, window, fileSize, error)) return false;
    if (!openServedVolume(windowOf(window), volume, error)) {
        error = printable(in) + ": " + error + " (see vexlo-image info " + printable(in) + ")";
        return false;
    }
    result.partition = partitionEntries(window.data())[0];
    const PartitionEntry& entry = result.partition;
    const std::uint64_t bytes = std::uint64_t(entry.sectors) * 512;
    if (entry.start != SERVED_START_SECTOR) {
        error = format("%s: partition 0 starts at sector %u; a served image has it at sector %u", printable(in).c_str(),
                       entry.start, SERVED_START_SECTOR);
        return false;
    }
    if (bytes > WINDOW_ROOM) {
        error = format("%s: partition 0 claims %u KB, more than the %u KB the server's window holds",
                       printable(in).c_str(), entry.sectors / 2, WINDOW_ROOM / 1024);
        return false;
    }
    if (ahdi::HEAD_BYTES + bytes > window.size()) {
        error = format("%s: the file ends at byte %llu, inside partition 0 (file bytes %u-%llu): the image is cut "
                       "short",
                       printable(in).c_str(), static_cast<unsigned long long>(fileSize),
                       ahdi::WINDOW_FILE_OFFSET,
                       static_cast<unsigned long long>(ahdi::WINDOW_FILE_OFFSET + bytes - 1));
        return false;
    }
    if (!checkPartition(window, entry, error)) {
        error = printable(in) + ": " + error;
        return false;
    }
    result.bytes = bytes;
    const Bytes root = makeRootSector(PLAIN_START_SECTOR, entry.sectors, entry.id, Layout::plain);
    return replaceFile(
        out, std::uint64_t(PLAIN_START_SECTOR) * 512 + bytes,
        [&](int fd) {
            return platform::writeFileAt(fd, 0, root.data(), root.size()) &&
                   writeSparse(fd, std::uint64_t(PLAIN_START_SECTOR) * 512, window.data() + ahdi::HEAD_BYTES,
                               std::size_t(bytes));
        },
        error);
}

bool writeSparse(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t BLOCK = 65536;
    for (std::size_t at = 0; at < size; at += BLOCK) {
        const std::size_t length = std::min(BLOCK, size - at);
        if (std::all_of(data + at, data + at + length, [](std::uint8_t b) { return b == 0; })) continue;
        if (!platform::writeFileAt(fd, offset + at, data + at, length)) return false;
    }
    return true;
}

bool writePlainImageFile(const BuiltImage& image, const std::string& path, std::string& error) {
    const std::uint32_t sectors = std::uint32_t(image.partition.size() / 512);
    const Bytes root = makeRootSector(PLAIN_START_SECTOR, sectors,
                                      reinterpret_cast<const char*>(image.rootSector.data() + ahdi::PARTITION_ID_AT),
                                      Layout::plain);
    const std::uint64_t at = std::uint64_t(PLAIN_START_SECTOR) * 512;
    return replaceFile(
        path, at + image.partition.size(),
        [&](int fd) {
            return platform::writeFileAt(fd, 0, root.data(), root.size()) &&
                   writeSparse(fd, at, image.partition.data(), image.partition.size());
        },
        error);
}

}  // namespace atari
