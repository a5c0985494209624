// Building an image the server takes as it is: AHDI root sector, partition 0
// at start sector 2, and an Atari FAT16 file system at file sector 127202.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "AhdiRootSector.h"
#include "AtariImage.h"
#include "ByteOrder.h"
#include "Convert.h"
#include "Text.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace atari {
namespace {

constexpr std::uint32_t ENTRY_BYTES = 32;
constexpr std::uint32_t RESERVED_SECTORS = 1;
constexpr std::uint32_t FAT_COUNT = 2;
constexpr std::uint32_t MIN_ROOT_ENTRIES = 512;
// Fewer clusters and other FAT tools take the FAT for a 12-bit one.
constexpr std::uint32_t MIN_FAT16_CLUSTERS = 4085;
// TOS numbers clusters and logical sectors with signed 16-bit words.
constexpr std::uint32_t MAX_TOS_CLUSTERS = 32765;
constexpr std::uint32_t MAX_TOS_SECTORS = 32767;
constexpr std::size_t MAX_HOST_DEPTH = 32;
constexpr std::uint8_t MEDIA = 0xF8;

// Besides letters and digits, what TOS accepts in a file name.
bool tosNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::string_view("!#$%&'()-@^_`{}~").find(c) !=
                                                                       std::string_view::npos;
}

std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return text;
}

// A name part in the characters TOS accepts: upper case; blanks and dots
// dropped; any other character, a multi-byte one included, becomes '_'.
std::string tosPart(const std::string& part) {
    std::string out;
    for (unsigned char c : upperAscii(part)) {
        if (c == ' ' || c == '.' || (c >= 0x80 && c < 0xC0)) continue;
        out += tosNameChar(char(c)) ? char(c) : '_';
    }
    return out;
}

// True when the name is already 8.3 in TOS characters, case aside.
bool fitsEightThree(const std::string& name) {
    const std::string up = upperAscii(name);
    const std::size_t dot = up.find('.');
    const std::string base = up.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : up.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos ||
        (dot != std::string::npos && ext.empty())) {
        return false;
    }
    return std::all_of(base.begin(), base.end(), tosNameChar) && std::all_of(ext.begin(), ext.end(), tosNameChar);
}

struct Geometry {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t clusterCount = 0;
    std::uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
};

// The smallest logical sector that keeps the sector count within TOS's
// reach: 512 bytes below 16 MB, larger for big partitions.
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
    std::fill(e, e + 11, std::uint8_t(' '));
    const std::size_t dot = atari.find('.');
    const std::string base = atari.substr(0, dot);
    const std::string ext = dot == std::string::npos || atari == "." || atari == ".." ? "" : atari.substr(dot + 1);
    const std::string stored = atari == "." || atari == ".." ? atari : base;
    std::copy(stored.begin(), stored.end(), e);
    std::copy(ext.begin(), ext.end(), e + 8);
    if (e[0] == 0xE5) e[0] = 0x05;
    e[11] = attributes;
    putLittleEndian16(e + 22, time);
    putLittleEndian16(e + 24, date);
    putLittleEndian16(e + 26, cluster);
    putLittleEndian32(e + 28, size);
}

// A source file as it was scanned; a file swapped for a pipe or a device
// meanwhile is refused, never waited on.
bool readSource(const SourceNode& node, Bytes& content, std::string& error) {
    const int fd = platform::openRegularFile(node.hostPath, error);
    if (fd < 0) return false;
    std::uint64_t length = 0;
    content.resize(std::size_t(node.size));
    const bool ok = platform::fileLength(fd, length) && length == node.size &&
                    platform::readFileAt(fd, 0, content.data(), content.size());
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
            putEntry(e, ".", 0x10, self, 0, folder.node->time, folder.node->date);
            putEntry(e + ENTRY_BYTES, "..", 0x10, parent, 0, folder.node->time, folder.node->date);
            e += 2 * ENTRY_BYTES;
        }
        for (Placed& child : folder.children) {
            const SourceNode& node = *child.node;
            if (node.folder) {
                child.count = clustersFor((child.children.size() + 2) * ENTRY_BYTES, g.clusterBytes());
                child.first = allocate(child.count);
                putEntry(e, child.atari, 0x10, child.first, 0, node.time, node.date);
                if (!fill(child, child.first, self, clusterData(child.first), error)) return false;
            } else {
                Bytes read;
                const Bytes* content = &node.content;
                if (!node.hostPath.empty()) {
                    if (!readSource(node, read, error)) return false;
                    content = &read;
                }
                child.count = clustersFor(content->size(), g.clusterBytes());
                child.first = allocate(child.count);
                if (!content->empty()) std::copy(content->begin(), content->end(), clusterData(child.first));
                putEntry(e, child.atari, 0x00, child.first, std::uint32_t(content->size()), node.time, node.date);
            }
            e += ENTRY_BYTES;
        }
        return true;
    }
};

std::uint32_t contentHash(const Bytes& bytes) {
    std::uint32_t h = 2166136261u;
    for (std::uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

void dosTime(fs::file_time_type when, std::uint16_t& time, std::uint16_t& date) {
    const auto sys = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::file_clock::to_sys(when));
    const std::time_t t = std::chrono::system_clock::to_time_t(sys);
    const std::tm* local = std::localtime(&t);
    if (local == nullptr || local->tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1;  // 1 January 1980
        return;
    }
    time = std::uint16_t(local->tm_hour << 11 | local->tm_min << 5 | local->tm_sec / 2);
    date = std::uint16_t(std::min(local->tm_year - 80, 127) << 9 | (local->tm_mon + 1) << 5 | local->tm_mday);
}

// What one scan carries along: the bytes so far, the source folder given,
// and the links followed out of it.
struct Scan {
    std::uint64_t total = 0;
    fs::path top;  // canonical
    std::vector<std::string>* followed = nullptr;
};

bool inside(const fs::path& path, const fs::path& folder) {
    const auto rel = path.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

bool scanFolder(const fs::path& folder, SourceNode& node, std::size_t depth, Scan& scan, std::string& error) {
    if (depth > MAX_HOST_DEPTH) {
        error = "folders nested deeper than " + std::to_string(MAX_HOST_DEPTH) + " levels at " + printable(textOf(folder));
        return false;
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        SourceNode child;
        child.name = textOf(path.filename());
        child.hostPath = textOf(path);
        std::error_code entryError;
        if (fs::is_symlink(fs::symlink_status(path, entryError))) {
            const std::string to = textOf(fs::read_symlink(path, entryError));
            if (!fs::exists(path, entryError)) {
                error = printable(child.hostPath) + " is a link to " + printable(to) + ", which does not exist";
                return false;
            }
            if (scan.followed != nullptr && !inside(fs::weakly_canonical(path, entryError), scan.top)) {
                scan.followed->push_back(child.hostPath + " -> " + to);
            }
        }
        const fs::file_status status = fs::status(path, entryError);
        if (entryError) {
            error = "cannot read " + printable(child.hostPath) + ": " + entryError.message();
            return false;
        }
        std::error_code timeError;
        const auto when = fs::last_write_time(path, timeError);
        if (!timeError) dosTime(when, child.time, child.date);
        if (fs::is_directory(status)) {
            child.folder = true;
            if (!scanFolder(path, child, depth + 1, scan, error)) return false;
        } else if (fs::is_regular_file(status)) {
            child.size = fs::file_size(path, entryError);
            if (entryError) {
                error = "cannot read " + printable(child.hostPath) + ": " + entryError.message();
                return false;
            }
            scan.total += child.size;
            if (scan.total > DriveImage::IMAGE_BYTES) {
                error = "the files come to more than the 20 MB window holds (at " + printable(child.hostPath) + ")";
                return false;
            }
        } else {
            error = printable(child.hostPath) + " is neither a file nor a folder";
            return false;
        }
        node.children.push_back(std::move(child));
    }
    if (ec) {
        error = "cannot read " + printable(textOf(folder)) + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

std::string atariName(const std::string& hostName, NameTable& names) {
    std::string trimmed = hostName;
    trimmed.erase(0, trimmed.find_first_not_of(". "));
    const std::size_t dot = trimmed.rfind('.');
    std::string base = tosPart(dot == std::string::npos ? trimmed : trimmed.substr(0, dot));
    std::string ext = dot == std::string::npos ? "" : tosPart(trimmed.substr(dot + 1)).substr(0, 3);
    if (base.empty()) base = "_";
    const std::string suffix = ext.empty() ? "" : "." + ext;
    const std::string plain = base.substr(0, 8) + suffix;
    if (names.taken.insert(plain).second) return plain;
    // Numbers below the counter are all taken already (names are never
    // given back), so each try starts where the last one of its kind ended.
    unsigned& next = names.nextNumber[plain];
    for (unsigned n = std::max(next, 1u);; ++n) {
        const std::string tail = "~" + std::to_string(n);
        const std::string name = base.substr(0, 8 - tail.size()) + tail + suffix;
        if (names.taken.insert(name).second) {
            next = n + 1;
            return name;
        }
    }
}

bool scanSources(const std::vector<std::string>& paths, SourceNode& root, std::string& error,
                 std::vector<std::string>* followed) {
    root = SourceNode{};
    root.folder = true;
    Scan scan;
    scan.followed = followed;
    for (const std::string& path : paths) {
        const fs::path host = pathOf(path);
        std::error_code ec;
        const fs::file_status status = fs::status(host, ec);
        if (fs::is_directory(status)) {
            scan.top = fs::weakly_canonical(host, ec);
            if (!scanFolder(host, root, 1, scan, error)) return false;
        } else if (fs::is_regular_file(status)) {
            SourceNode file;
            file.name = textOf(host.filename());
            file.hostPath = path;
            file.size = fs::file_size(host, ec);
            const auto when = fs::last_write_time(host, ec);
            if (!ec) dosTime(when, file.time, file.date);
            scan.total += file.size;
            if (scan.total > DriveImage::IMAGE_BYTES) {
                error = "the files come to more than the 20 MB window holds (at " + printable(path) + ")";
                return false;
            }
            root.children.push_back(std::move(file));
        } else {
            error = fs::exists(status) ? printable(path) + " is neither a file nor a folder"
                                       : "no such file or folder: " + printable(path);
            return false;
        }
    }
    return true;
}

bool validSectorSize(std::uint32_t sectorSize) {
    return sectorSize == 512 || sectorSize == 1024 || sectorSize == 2048 || sectorSize == 4096;
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
    putLittleEndian16(boot + 11, g.bytesPerSector);
    boot[13] = std::uint8_t(g.sectorsPerCluster);
    putLittleEndian16(boot + 14, RESERVED_SECTORS);
    boot[16] = FAT_COUNT;
    putLittleEndian16(boot + 17, g.rootEntries);
    putLittleEndian16(boot + 19, g.totalSectors);
    boot[21] = MEDIA;
    putLittleEndian16(boot + 22, g.sectorsPerFat);
    putLittleEndian16(boot + 24, 32);  // sectors per track
    putLittleEndian16(boot + 26, 2);   // sides
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
        next[11] = 0x08;
        next += ENTRY_BYTES;
    }
    boot[36] = 0x80;
    boot[38] = 0x29;
    std::copy(stored.begin(), stored.end(), boot + 43);
    std::copy_n("FAT16   ", 8, boot + 54);
    Writer writer{g, image.partition};
    if (!writer.fill(top, 0, 0, next, error)) return false;

    // The serial number follows the contents; a boot sector whose words add
    // up to 0x1234 would be run by TOS, so it must not.
    const std::uint32_t serial = contentHash(image.partition);
    boot[8] = std::uint8_t(serial);
    boot[9] = std::uint8_t(serial >> 8);
    boot[10] = std::uint8_t(serial >> 16);
    if (boot[38] == 0x29) putLittleEndian32(boot + 39, serial);
    if (rootWordSum(boot) == ROOT_CHECKSUM) boot[10] ^= 1;

    const std::uint32_t partitionSectors = std::uint32_t(image.partition.size() / 512);
    image.rootSector = makeRootSector(SERVED_START_SECTOR, partitionSectors,
                                      partitionSectors >= BIG_PARTITION_SECTORS ? "BGM" : "GEM", Layout::served);
    return true;
}

void fillServerWindow(const BuiltImage& image, std::uint8_t* window) {
    std::fill(window, window + DriveImage::IMAGE_BYTES, std::uint8_t(0));
    std::copy(image.rootSector.begin(), image.rootSector.end(), window);
    const std::size_t room = DriveImage::IMAGE_BYTES - DriveImage::HEAD_BYTES;
    std::copy_n(image.partition.begin(), std::min(room, image.partition.size()), window + DriveImage::HEAD_BYTES);
}

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(pathOf(path), ec);
}

std::unique_ptr<std::uint8_t[]> windowFromFolder(const std::string& folder, std::string& summary,
                                                 std::string& error) {
    SourceNode root;
    BuiltImage image;
    if (!scanSources({folder}, root, error) || !buildImage(root, BuildOptions{}, image, error)) {
        return nullptr;
    }
    std::unique_ptr<std::uint8_t[]> window(new (std::nothrow) std::uint8_t[DriveImage::IMAGE_BYTES]);
    if (!window) {
        error = "out of memory";
        return nullptr;
    }
    fillServerWindow(image, window.get());
    summary = format("drive image built in memory from folder %s: %u KB, %zu names mapped to 8.3", folder.c_str(),
                     image.sizeKb, image.renamed.size());
    return window;
}

bool checkOutputTarget(const std::string& path, bool force, std::string& error) {
    const fs::path target = pathOf(path);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (!fs::exists(status)) return true;
    if (fs::is_symlink(status)) {
        const std::string to = textOf(fs::read_symlink(target, ec));
        if (fs::is_directory(target, ec)) {
            error = printable(path) + " is a link to the folder " + printable(to) + "; name the folder itself";
            return false;
        }
        if (fs::exists(target, ec)) {
            if (force) return true;
            error = printable(path) + " exists (a link to " + printable(to) +
                    "); give --force to replace the link with the file";
        } else {
            if (force) return true;
            error = printable(path) + " is a link to " + printable(to) +
                    ", which does not exist; give --force to replace the link with the file";
        }
        return false;
    }
    if (fs::is_directory(status)) {
        error = printable(path) + " is a folder";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = printable(path) + " is not a regular file";
        return false;
    }
    if (force) return true;
    error = printable(path) + " exists; give --force to overwrite it";
    return false;
}

bool replaceFile(const std::string& path, std::uint64_t length, const std::function<bool(int fd)>& write,
                 std::string& error) {
    const fs::path target = pathOf(path);
    const fs::path folder = target.parent_path();
    const auto stamp = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string temp;
    int fd = -1;
    for (std::uint64_t attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        const std::string name = "." + textOf(target.filename()) + format(".%llx.part", (unsigned long long)(stamp + attempt));
        temp = textOf(folder / pathOf(name));
        std::error_code ec;
        fd = platform::createNewFile(temp, error);
        if (fd < 0 && !fs::exists(fs::symlink_status(pathOf(temp), ec))) break;  // not a name taken
    }
    if (fd < 0) {
        error = "cannot write " + printable(path) + ": " + printable(error);
        return false;
    }
    bool ok = write(fd) && platform::finishFile(fd, length);
    const int why = errno;
    platform::closeFile(fd);
    std::error_code ec;
    if (!ok) {
        error = "cannot write " + printable(path) + ": " + std::strerror(why) + "; nothing was changed";
    } else {
        fs::rename(pathOf(temp), target, ec);
        ok = !ec;
        if (!ok) error = "cannot put " + printable(path) + " in place: " + ec.message() + "; nothing was changed";
    }
    if (!ok) fs::remove(pathOf(temp), ec);
    return ok;
}

bool writeImageFile(const BuiltImage& image, const std::string& path, std::string& error) {
    return replaceFile(
        path, image.diskBytes(),
        [&image](int fd) {
            if (!platform::writeFileAt(fd, 0, image.rootSector.data(), image.rootSector.size())) return false;
            return writeSparse(fd, DriveImage::WINDOW_FILE_OFFSET, image.partition.data(), image.partition.size());
        },
        error);
}

}  // namespace atari
