// The emulated Atari's side of the served hard disk: a small FAT12/FAT16
// reader that sees the partition only through sector requests, as the
// cartridge does (cmdReadSector), and a script of tasks to run on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CartridgeCommands.h"

// Asks for `count` logical sectors of the partition from `first` on (sector 0
// is the partition's boot sector, exactly as cmdReadSector carries it). On
// success `data` holds count * bytesPerSector bytes; on failure the callback
// says why in `error`. The reader never asks for more than
// SECTOR_REPLY_MOST_DATA / bytesPerSector sectors at once (count 1 for the boot
// sector, before the sector size is known).
using RequestSectors = std::function<bool(std::uint16_t first, std::uint8_t count,
                                          std::vector<std::uint8_t>& data, std::string& error)>;

using AtariLog = std::function<void(const std::string&)>;

enum class AtariTaskKind {
    list,     // log every folder and file with its size, recursively
    read,     // read one file (path from the root, '/'-separated) into outDir
    readAll,  // read every file of the disk into outDir
    dump,     // read every sector of the partition into a plain image file
};

struct AtariTask {
    AtariTaskKind kind = AtariTaskKind::list;
    std::string path;  // for read: "/HELLO.TXT", "/DIR/BIG.BIN" (case is ignored); for dump: the file
};

// Parses "list;read:/HELLO.TXT;read:/DIR/BIG.BIN;readall;dump:FILE" (blanks around
// items are ignored, empty items skipped). On an unknown item returns false
// and says which in `error`.
bool parseAtariTasks(const std::string& config, std::vector<AtariTask>& tasks, std::string& error);

// Reads the boot sector and BPB, then runs the tasks in order. Files read are
// written below outDir with their folders (outDir/DIR/BIG.BIN). Every step
// and every failure is reported through `log`. Returns true when every task
// succeeded; a failed task is logged and the next one still runs.
// A dump writes a plain AHDI image: a root sector whose partition 0 starts
// at sector 2, an empty sector 1, then every sector of the partition as the
// requests returned it (the BPB's sector count, from the boot sector on),
// so that another Atari can read the same disk.
bool runAtariTasks(const std::vector<AtariTask>& tasks, const RequestSectors& request,
                   const std::string& outDir, const AtariLog& log);
