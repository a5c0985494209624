// Walking a disk's folders from one folder down, for listing, checking and
// copying out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AtariImage.h"

namespace atari {

struct TreeCount {
    std::uint32_t files = 0;
    std::uint32_t folders = 0;
    std::uint64_t bytes = 0;
};

// Walks a folder and its sub-folders; `visit` sees each entry with its path.
template <typename Visit>
bool walk(Walker& walker, std::uint32_t cluster, const std::string& prefix, std::size_t depth, Visit&& visit,
          std::string& error) {
    if (depth > 64) {
        error = "folders nested deeper than 64 levels at " + prefix;
        return false;
    }
    std::vector<Entry> entries;
    if (!walker.listFolder(cluster, entries, error)) {
        error = (prefix.empty() ? "/" : prefix) + ": " + error;
        return false;
    }
    for (const Entry& e : entries) {
        const std::string path = prefix + "/" + e.name;
        if (!visit(e, path, error)) return false;
        if (e.folder()) {
            if (e.firstCluster == 0) {
                error = path + ": a folder with no cluster";
                return false;
            }
            if (!walk(walker, e.firstCluster, path, depth + 1, visit, error)) return false;
        }
    }
    return true;
}

// Checks every folder and every file's chain and size, as reading them all
// would, and counts them.
bool checkTree(const Volume& volume, TreeCount& count, std::string& error);

}  // namespace atari
