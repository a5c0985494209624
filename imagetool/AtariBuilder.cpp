// Building an image the server takes as it is: AHDI root sector, partition 0
// at start sector 2, and an Atari FAT16 file system at file sector 127202.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <new>

#include "AhdiRootSector.h"
#include "AtariImage.h"
#include "ByteOrder.h"
#include "Text.h"

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

bool taken(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
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
                       "use a larger size or smaller sectors",
                       sizeKb, bps, g.clusterCount, MIN_FAT16_CLUSTERS);
        return false;
    }
    if (g.clusterCount > MAX_TOS_CLUSTERS) {
        error = format("%u KB with %u-byte sectors gives %u clusters, more than TOS can number (%u): "
                       "use larger sectors",
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
    std::vector<std::string> names;
    std::vector<std::string> atariNames(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string up = upperAscii(order[i]->name);
        if (fitsEightThree(order[i]->name) && !taken(names, up)) {
            atariNames[i] = up;
            names.push_back(up);
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (atariNames[i].empty()) {
            atariNames[i] = atariName(order[i]->name, names);
            names.push_back(atariNames[i]);
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
                    std::ifstream in(pathOf(node.hostPath), std::ios::binary);
                    read.resize(std::size_t(node.size));
                    in.read(reinterpret_cast<char*>(read.data()), std::streamsize(read.size()));
                    if (!in || in.peek() != std::ifstream::traits_type::eof()) {
                        error = "cannot read " + node.hostPath + " (or it changed while the image was made)";
                        return false;
                    }
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

bool scanFolder(const fs::path& folder, SourceNode& node, std::size_t depth, std::uint64_t& total,
                std::string& error) {
    if (depth > MAX_HOST_DEPTH) {
        error = "folders nested deeper than " + std::to_string(MAX_HOST_DEPTH) + " levels at " + textOf(folder);
        return false;
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        SourceNode child;
        child.name = textOf(path.filename());
        child.hostPath = textOf(path);
        const fs::file_status status = fs::status(path, ec);
        if (ec) break;
        std::error_code timeError;
        const auto when = fs::last_write_time(path, timeError);
        if (!timeError) dosTime(when, child.time, child.date);
        if (fs::is_directory(status)) {
            child.folder = true;
            if (!scanFolder(path, child, depth + 1, total, error)) return false;
        } else if (fs::is_regular_file(status)) {
            child.size = fs::file_size(path, ec);
            if (ec) break;
            total += child.size;
            if (total > DriveImage::IMAGE_BYTES) {
                error = "the files come to more than the 20 MB window holds (at " + child.hostPath + ")";
                return false;
            }
        } else {
            error = child.hostPath + " is neither a file nor a folder";
            return false;
        }
        node.children.push_back(std::move(child));
    }
    if (ec) {
        error = "cannot read " + textOf(folder) + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

std::string atariName(const std::string& hostName, const std::vector<std::string>& names) {
    std::string trimmed = hostName;
    trimmed.erase(0, trimmed.find_first_not_of(". "));
    const std::size_t dot = trimmed.rfind('.');
    std::string base = tosPart(dot == std::string::npos ? trimmed : trimmed.substr(0, dot));
    std::string ext = dot == std::string::npos ? "" : tosPart(trimmed.substr(dot + 1)).substr(0, 3);
    if (base.empty()) base = "_";
    const std::string suffix = ext.empty() ? "" : "." + ext;
    const std::string plain = base.substr(0, 8) + suffix;
    if (!taken(names, plain)) return plain;
    for (unsigned n = 1;; ++n) {
        const std::string tail = "~" + std::to_string(n);
        const std::string name = base.substr(0, 8 - tail.size()) + tail + suffix;
        if (!taken(names, name)) return name;
    }
}

bool scanSources(const std::vector<std::string>& paths, SourceNode& root, std::string& error) {
    root = SourceNode{};
    root.folder = true;
    std::uint64_t total = 0;
    for (const std::string& path : paths) {
        const fs::path host = pathOf(path);
        std::error_code ec;
        const fs::file_status status = fs::status(host, ec);
        if (fs::is_directory(status)) {
            if (!scanFolder(host, root, 1, total, error)) return false;
        } else if (fs::is_regular_file(status)) {
            SourceNode file;
            file.name = textOf(host.filename());
            file.hostPath = path;
            file.size = fs::file_size(host, ec);
            const auto when = fs::last_write_time(host, ec);
            if (!ec) dosTime(when, file.time, file.date);
            total += file.size;
            if (total > DriveImage::IMAGE_BYTES) {
                error = "the files come to more than the 20 MB window holds (at " + path + ")";
                return false;
            }
            root.children.push_back(std::move(file));
        } else {
            error = "no such file or folder: " + path;
            return false;
        }
    }
    return true;
}

bool buildImage(const SourceNode& root, const BuildOptions& options, BuiltImage& image, std::string& error) {
    image = BuiltImage{};
    if (options.sizeKb != 0 && (options.sizeKb < 64 || options.sizeKb > MAX_SIZE_KB)) {
        error = format("a partition of %u KB does not fit: the window holds 64 to %u KB", options.sizeKb,
                       MAX_SIZE_KB);
        return false;
    }
    if (options.sectorSize != 0 && options.sectorSize != 512 && options.sectorSize != 1024 &&
        options.sectorSize != 2048 && options.sectorSize != 4096) {
        error = format("sector size %u: use 512, 1024, 2048 or 4096", options.sectorSize);
        return false;
    }
    Placed top;
    top.node = &root;
    nameChildren(root, "", "", top, image.renamed);
    const std::uint32_t rootNames = std::uint32_t(top.children.size()) + (options.label.empty() ? 0 : 1);

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
                error = format("the files need %llu clusters of %u bytes, but %u KB holds only %u: %s",
                               static_cast<unsigned long long>(needed), g.clusterBytes(), sizeKb, g.clusterCount,
                               options.sizeKb != 0 && sizeKb < MAX_SIZE_KB ? "use a larger --size-mb or --size-kb"
                                                                          : "more than the 20 MB window holds");
            }
            return false;
        }
        sizeKb = std::min(sizeKb + 1024, MAX_SIZE_KB);
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
    if (!options.label.empty()) {
        // In the root folder for TOS, and in the extended parameter block
        // (free space in a boot sector TOS does not run) for other tools.
        std::string label = tosPart(options.label).substr(0, 11);
        label.resize(11, ' ');
        std::copy(label.begin(), label.end(), next);
        next[11] = 0x08;
        next += ENTRY_BYTES;
        boot[36] = 0x80;
        boot[38] = 0x29;
        std::copy(label.begin(), label.end(), boot + 43);
        std::copy_n("FAT16   ", 8, boot + 54);
    }
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

    image.rootSector.assign(ahdi::ROOT_BYTES, 0);
    std::uint8_t* r = image.rootSector.data();
    const std::uint32_t partitionSectors = std::uint32_t(image.partition.size() / 512);
    putBigEndian32(r + ahdi::DISK_SECTORS_AT, SERVED_FILE_SECTOR + partitionSectors);
    r[ahdi::PARTITION_FLAGS_AT] = 0x01;
    std::copy_n(partitionSectors >= BIG_PARTITION_SECTORS ? "BGM" : "GEM", 3, r + ahdi::PARTITION_ID_AT);
    putBigEndian32(r + ahdi::PARTITION_START_AT, SERVED_START_SECTOR);
    putBigEndian32(r + ahdi::PARTITION_SECTORS_AT, partitionSectors);
    fixRootChecksum(r);
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

bool writeImageFile(const BuiltImage& image, const std::string& path, std::string& error) {
    const fs::path out = pathOf(path);
    {
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        if (!file) {
            error = "cannot create " + path;
            return false;
        }
        file.write(reinterpret_cast<const char*>(image.rootSector.data()), std::streamsize(image.rootSector.size()));
        // Blocks of zeros are skipped, which leaves holes where the
        // platform makes sparse files.
        constexpr std::size_t BLOCK = 65536;
        for (std::size_t at = 0; at < image.partition.size(); at += BLOCK) {
            const std::size_t length = std::min(BLOCK, image.partition.size() - at);
            const auto begin = image.partition.begin() + std::ptrdiff_t(at);
            if (std::all_of(begin, begin + std::ptrdiff_t(length), [](std::uint8_t b) { return b == 0; })) continue;
            file.seekp(std::streamoff(DriveImage::WINDOW_FILE_OFFSET + at));
            file.write(reinterpret_cast<const char*>(image.partition.data() + at), std::streamsize(length));
        }
        file.close();
        if (!file) {
            error = "cannot write " + path;
            return false;
        }
    }
    std::error_code ec;
    fs::resize_file(out, image.diskBytes(), ec);
    if (ec) {
        error = "cannot set the length of " + path + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace atari
