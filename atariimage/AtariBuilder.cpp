// Building an image the server takes as it is: AHDI root sector, partition 0
// at start sector 2, and an Atari FAT16 file system at file sector 127202.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "AhdiRootSector.h"
#include "AtariImage.h"
#include "Convert.h"
#include "AtariNames.h"
#include "BootSector.h"
#include "ByteOrder.h"
#include "FatLayout.h"
#include "Text.h"
#include "platform/Platform.h"

namespace atari {
namespace {

std::uint32_t clustersFor(std::uint64_t bytes, std::uint32_t clusterBytes) {
    return std::uint32_t((bytes + clusterBytes - 1) / clusterBytes);
}

std::uint64_t byteCount(const SourceNode& node) {
    return node.hostPath.empty() ? node.content.size() : node.size;
}

// A node with its Atari name and its place on the disk.
struct Placed {
    const SourceNode* node = nullptr;
    std::string atari;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    std::vector<Placed> children;
};

// Names every child of `folder`: names that are 8.3 already keep them, the
// rest are mapped; then each is placed.
void nameChildren(const SourceNode& folder, const std::string& hostPrefix, const std::string& atariPrefix,
                  Placed& placed, std::vector<NameMapping>& renamed) {
    std::vector<const SourceNode*> order;
    for (const SourceNode& child : folder.children) order.push_back(&child);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->name < b->name; });
    NameTable names;
    std::vector<std::string> atariNames(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string up = upperAscii(order[i]->name);
        if (fitsEightThree(order[i]->name) && names.taken.insert(up).second) {
            atariNames[i] = up;
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (atariNames[i].empty()) {
            atariNames[i] = atariName(order[i]->name, names);
            renamed.push_back({hostPrefix + order[i]->name, atariPrefix + atariNames[i]});
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        Placed child;
        child.node = order[i];
        child.atari = atariNames[i];
        if (order[i]->folder) {
            nameChildren(*order[i], hostPrefix + order[i]->name + "/", atariPrefix + atariNames[i] + "/", child,
                         renamed);
        }
        placed.children.push_back(std::move(child));
    }
}

// Clusters the tree needs beyond the root folder.
std::uint64_t clustersNeeded(const Placed& folder, std::uint32_t clusterBytes) {
    std::uint64_t total = 0;
    for (const Placed& child : folder.children) {
        if (child.node->folder) {
            total += clustersFor((child.children.size() + 2) * ENTRY_BYTES, clusterBytes);
            total += clustersNeeded(child, clusterBytes);
        } else {
            total += clustersFor(byteCount(*child.node), clusterBytes);
        }
    }
    return total;
}


void putEntry(std::uint8_t* e, const std::string& atari, std::uint8_t attributes, std::uint32_t cluster,
              std::uint32_t size, std::uint16_t time, std::uint16_t date) {
    std::fill(e, e + fat::ENTRY_NAME_BYTES, std::uint8_t(' '));
    const std::size_t dot = atari.find('.');
    const std::string base = atari.substr(0, dot);
    const std::string ext = dot == std::string::npos || atari == "." || atari == ".." ? "" : atari.substr(dot + 1);
    const std::string stored = atari == "." || atari == ".." ? atari : base;
    std::copy(stored.begin(), stored.end(), e);
    std::copy(ext.begin(), ext.end(), e + fat::ENTRY_EXTENSION_AT);
    if (e[0] == fat::ENTRY_DELETED) e[0] = fat::ENTRY_E5_NAME;
    e[fat::ENTRY_ATTRIBUTES_AT] = attributes;
    putLittleEndian16(e + fat::ENTRY_TIME_AT, time);
    putLittleEndian16(e + fat::ENTRY_DATE_AT, date);
    putLittleEndian16(e + fat::ENTRY_CLUSTER_AT, cluster);
    putLittleEndian32(e + fat::ENTRY_SIZE_AT, size);
}

// A source file as it was scanned; a file swapped for a pipe or a device
// meanwhile is refused, never waited on.
bool readSource(const SourceNode& node, std::uint8_t* content, std::string& error) {
    const int fd = platform::openRegularFile(node.hostPath, error);
    if (fd < 0) return false;
    std::uint64_t length = 0;
    const bool ok = platform::fileLength(fd, length) && length == node.size &&
                    (node.size == 0 || platform::readFileAt(fd, 0, content, std::size_t(node.size)));
    platform::closeFile(fd);
    if (!ok) error = "cannot read " + node.hostPath + " (or it changed while the image was made)";
    return ok;
}

struct Writer {
    const Geometry& g;
    Bytes& partition;
    std::uint32_t nextCluster = 2;

    std::uint8_t* clusterData(std::uint32_t cluster) {
        return partition.data() + (std::size_t(g.dataStart) + std::size_t(cluster - 2) * g.sectorsPerCluster) *
                                      g.bytesPerSector;
    }

    void chain(std::uint32_t first, std::uint32_t count) {
        for (std::uint32_t fat = 0; fat < FAT_COUNT; ++fat) {
            std::uint8_t* table =
                partition.data() + std::size_t(RESERVED_SECTORS + fat * g.sectorsPerFat) * g.bytesPerSector;
            for (std::uint32_t i = 0; i < count; ++i) {
                putLittleEndian16(table + std::size_t(first + i) * 2, i + 1 == count ? 0xFFFF : first + i + 1);
            }
        }
    }

    std::uint32_t allocate(std::uint32_t count) {
        const std::uint32_t first = count == 0 ? 0 : nextCluster;
        nextCluster += count;
        if (count != 0) chain(first, count);
        return first;
    }

    // Places the children's data and fills their entries in `entries`.
    bool fill(Placed& folder, std::uint32_t self, std::uint32_t parent, std::uint8_t* entries, std::string& error) {
        std::uint8_t* e = entries;
        if (self != 0) {
            putEntry(e, ".", fat::ATTR_FOLDER, self, 0, folder.node->time, folder.node->date);
            putEntry(e + ENTRY_BYTES, "..", fat::ATTR_FOLDER, parent, 0, folder.node->time, folder.node->date);
            e += 2 * ENTRY_BYTES;
        }
        for (Placed& child : folder.children) {
            const SourceNode& node = *child.node;
            if (node.folder) {
                child.count = clustersFor((child.children.size() + 2) * ENTRY_BYTES, g.clusterBytes());
                child.first = allocate(child.count);
                putEntry(e, child.atari, fat::ATTR_FOLDER, child.first, 0, node.time, node.date);
                if (!fill(child, child.first, self, clusterData(child.first), error)) return false;
            } else {
                // Host files are read straight into their clusters.
                const std::uint64_t size = byteCount(node);
                child.count = clustersFor(size, g.clusterBytes());
                child.first = allocate(child.count);
                if (!node.hostPath.empty()) {
                    if (!readSource(node, clusterData(child.first), error)) return false;
                } else if (!node.content.empty()) {
                    std::copy(node.content.begin(), node.content.end(), clusterData(child.first));
                }
                putEntry(e, child.atari, 0x00, child.first, std::uint32_t(size), node.time, node.date);
            }
            e += ENTRY_BYTES;
        }
        return true;
    }
};

// FNV-1a over the partition. A zero byte only multiplies by the prime, so a
// run of n zeros (most of a new partition) is one multiplication by prime^n.
std::uint32_t contentHash(const Bytes& bytes) {
    constexpr std::uint32_t PRIME = 16777619u;
    auto power = [](std::uint32_t base, std::size_t n) {
        std::uint32_t result = 1;
        for (; n != 0; n >>= 1, base *= base) {
            if (n & 1) result *= base;
        }
        return result;
    };
    std::uint32_t h = 2166136261u;
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p != end) {
        if (*p != 0) {
            h = (h ^ *p++) * PRIME;
            continue;
        }
        const std::uint8_t* zeros = p;
        while (p != end && reinterpret_cast<std::uintptr_t>(p) % 8 != 0 && *p == 0) ++p;
        std::uint64_t word;
        while (end - p >= 8 && (std::memcpy(&word, p, 8), word == 0)) p += 8;
        while (p != end && *p == 0) ++p;
        h *= power(PRIME, std::size_t(p - zeros));
    }
    return h;
}

}  // namespace

bool buildImage(const SourceNode& root, const BuildOptions& options, BuiltImage& image, std::string& error) {
    image = BuiltImage{};
    if (!checkOptions(options, error)) return false;
    Placed top;
    top.node = &root;
    nameChildren(root, "", "", top, image.renamed);
    const std::string label = tosPart(options.label).substr(0, 11);
    const std::uint32_t rootNames = std::uint32_t(top.children.size()) + (label.empty() ? 0 : 1);

    // A size given is kept; the default grows, 1 MB at a time, until the files fit.
    std::uint32_t sizeKb = options.sizeKb != 0 ? options.sizeKb : DEFAULT_SIZE_KB;
    Geometry g;
    for (;;) {
        const std::uint32_t bps = options.sectorSize != 0 ? options.sectorSize : defaultSectorSize(sizeKb);
        std::string why;
        const bool laid = layOut(sizeKb, bps, rootNames, g, why);
        const std::uint64_t needed = laid ? clustersNeeded(top, g.clusterBytes()) : 0;
        if (laid && needed <= g.clusterCount) break;
        const bool canGrow = options.sizeKb == 0 && sizeKb < MAX_SIZE_KB;
        if (!canGrow) {
            if (!laid) {
                error = why;
            } else {
                const std::string advice =
                    options.sizeKb == 0 || sizeKb >= MAX_SIZE_KB ? "more than the 20 MB window holds"
                    : options.sizeOption.empty()                 ? "use a larger --size-mb or --size-kb"
                                                                 : "use a larger " + options.sizeOption;
                error = format("the files need %llu clusters of %u bytes, but %u KB holds only %u: %s",
                               static_cast<unsigned long long>(needed), g.clusterBytes(), sizeKb, g.clusterCount,
                               advice.c_str());
            }
            return false;
        }
        sizeKb = std::min(sizeKb + 1024, MAX_SIZE_KB);
    }

    // Every count goes into a field of its own width; none may be stored wrapped.
    const std::uint32_t perSector = g.bytesPerSector / ENTRY_BYTES;
    if (g.rootEntries > 0xFFFF) {
        error = format("%u names in the root folder%s are more than the boot sector can count (at most %u with "
                       "%u-byte sectors): put some of them in sub-folders",
                       rootNames, label.empty() ? "" : " (the label is one)", 0xFFFF / perSector * perSector,
                       g.bytesPerSector);
        return false;
    }
    const struct {
        const char* what;
        std::uint64_t value;
        std::uint64_t most;
    } fields[] = {
        {"bytes per sector", g.bytesPerSector, 0xFFFF},
        {"sectors per cluster", g.sectorsPerCluster, 0xFF},
        {"reserved sectors", RESERVED_SECTORS, 0xFFFF},
        {"FATs", FAT_COUNT, 0xFF},
        {"sectors", g.totalSectors, 0xFFFF},
        {"sectors per FAT", g.sectorsPerFat, 0xFFFF},
        {"clusters", std::uint64_t(g.clusterCount) + 1, 0xFFFF},
        {"disk sectors", SERVED_FILE_SECTOR + std::uint64_t(g.totalSectors) * g.bytesPerSector / 512, 0xFFFFFFFF},
    };
    for (const auto& field : fields) {
        if (field.value > field.most) {
            error = format("%llu %s do not fit the boot sector's field (at most %llu)",
                           static_cast<unsigned long long>(field.value), field.what,
                           static_cast<unsigned long long>(field.most));
            return false;
        }
    }

    image.sizeKb = sizeKb;
    image.bytesPerSector = g.bytesPerSector;
    image.clusterCount = g.clusterCount;
    image.sectorsPerCluster = g.sectorsPerCluster;
    image.partition.assign(std::size_t(g.totalSectors) * g.bytesPerSector, 0);
    std::uint8_t* boot = image.partition.data();
    // A 68000 branch over the parameter block, as Atari boot sectors start.
    boot[0] = 0x60;
    boot[1] = 0x1C;
    std::copy_n("VEXLO ", 6, boot + 2);
    putLittleEndian16(boot + fat::BYTES_PER_SECTOR_AT, g.bytesPerSector);
    boot[fat::SECTORS_PER_CLUSTER_AT] = std::uint8_t(g.sectorsPerCluster);
    putLittleEndian16(boot + fat::RESERVED_SECTORS_AT, RESERVED_SECTORS);
    boot[fat::FAT_COUNT_AT] = FAT_COUNT;
    putLittleEndian16(boot + fat::ROOT_ENTRIES_AT, g.rootEntries);
    putLittleEndian16(boot + fat::TOTAL_SECTORS_AT, g.totalSectors);
    boot[fat::MEDIA_AT] = MEDIA;
    putLittleEndian16(boot + fat::SECTORS_PER_FAT_AT, g.sectorsPerFat);
    putLittleEndian16(boot + fat::SECTORS_PER_TRACK_AT, 32);
    putLittleEndian16(boot + fat::SIDES_AT, 2);
    for (std::uint32_t fat = 0; fat < FAT_COUNT; ++fat) {
        std::uint8_t* table = boot + std::size_t(RESERVED_SECTORS + fat * g.sectorsPerFat) * g.bytesPerSector;
        putLittleEndian16(table, 0xFF00 | MEDIA);
        putLittleEndian16(table + 2, 0xFFFF);
    }
    std::uint8_t* rootEntries =
        boot + std::size_t(RESERVED_SECTORS + FAT_COUNT * g.sectorsPerFat) * g.bytesPerSector;
    std::uint8_t* next = rootEntries;
    // In the root folder for TOS, and in the extended parameter block (free
    // space in a boot sector TOS does not run) for other tools, which want
    // "NO NAME" there when the disk has no label.
    std::string stored = label.empty() ? "NO NAME" : label;
    stored.resize(11, ' ');
    if (!label.empty()) {
        std::copy(stored.begin(), stored.end(), next);
        next[fat::ENTRY_ATTRIBUTES_AT] = fat::ATTR_VOLUME;
        next += ENTRY_BYTES;
    }
    boot[36] = 0x80;
    boot[fat::EXTENDED_SIGNATURE_AT] = fat::EXTENDED_SIGNATURE;
    std::copy(stored.begin(), stored.end(), boot + 43);
    std::copy_n("FAT16   ", 8, boot + fat::FAT_TYPE_TEXT_AT);
    Writer writer{g, image.partition};
    if (!writer.fill(top, 0, 0, next, error)) return false;

    // The serial number follows the contents; a boot sector whose words add
    // up to 0x1234 would be run by TOS, so it must not.
    const std::uint32_t serial = contentHash(image.partition);
    boot[8] = std::uint8_t(serial);
    boot[9] = std::uint8_t(serial >> 8);
    boot[10] = std::uint8_t(serial >> 16);
    if (boot[fat::EXTENDED_SIGNATURE_AT] == fat::EXTENDED_SIGNATURE) putLittleEndian32(boot + 39, serial);
    if (rootWordSum(boot) == ROOT_CHECKSUM) boot[10] ^= 1;

    const std::uint32_t partitionSectors = std::uint32_t(image.partition.size() / 512);
    image.rootSector = makeRootSector(SERVED_START_SECTOR, partitionSectors, ahdi::partitionIdFor(partitionSectors),
                                      Layout::served);
    return true;
}

void fillServerWindow(const BuiltImage& image, std::uint8_t* window) {
    std::fill(window, window + ahdi::WINDOW_BYTES, std::uint8_t(0));
    std::copy(image.rootSector.begin(), image.rootSector.end(), window);
    const std::size_t room = ahdi::WINDOW_BYTES - ahdi::HEAD_BYTES;
    std::copy_n(image.partition.begin(), std::min(room, image.partition.size()), window + ahdi::HEAD_BYTES);
}

std::unique_ptr<std::uint8_t[]> windowFromFolder(const std::string& folder, std::string& summary,
                                                 std::string& error) {
    SourceNode root;
    BuiltImage image;
    if (!scanSources({folder}, root, error) || !buildImage(root, BuildOptions{}, image, error)) {
        return nullptr;
    }
    std::unique_ptr<std::uint8_t[]> window(new (std::nothrow) std::uint8_t[ahdi::WINDOW_BYTES]);
    if (!window) {
        error = "out of memory";
        return nullptr;
    }
    fillServerWindow(image, window.get());
    summary = format("drive image built in memory from folder %s: %u KB, %zu names mapped to 8.3", folder.c_str(),
                     image.sizeKb, image.renamed.size());
    return window;
}

}  // namespace atari
