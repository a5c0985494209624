#include "AtariFolders.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "BootSector.h"

namespace atari_disk {
namespace {

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

}  // namespace

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

}  // namespace atari_disk
