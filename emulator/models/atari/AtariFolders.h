// The emulated Atari's folder walk: listing the tree, reading every file or
// one file by its path, into files below an output folder.
#pragma once

#include <string>

#include "AtariVolume.h"

namespace atari_disk {

// Walks the whole tree from the root: logs it (`list`), reads every file
// into outDir (`read`), then logs the totals.
bool runWalk(Disk& disk, const std::string& outDir, bool list, bool read);
// Reads one file, path from the root, into outDir with its folders.
bool readOne(Disk& disk, const std::string& path, const std::string& outDir);

}  // namespace atari_disk
