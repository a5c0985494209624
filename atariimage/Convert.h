// The two layouts of an Atari hard-disk image, and turning one into the
// other. Served: partition 0 starts at sector 2 by its root sector, but its
// boot sector lies at file sector 127202, where the server's window puts it.
// Plain: an ordinary AHDI disk, each partition where its root sector entry
// says, as Atari emulators and hard-disk adapters take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AhdiRootSector.h"
#include "AtariImage.h"

namespace atari {

enum class Layout { unknown, served, plain };
// Where a plain image made here has its partition: after the root sector
// and one spare sector, as on an ordinary disk.
constexpr std::uint32_t PLAIN_START_SECTOR = 2;
const char* layoutName(Layout layout);

// The four partition entries of an AHDI root sector.
using ahdi::PARTITION_ENTRIES;
using ahdi::PARTITION_ENTRY_BYTES;

struct PartitionEntry {
    int index = 0;
    std::uint8_t flags = 0;
    char id[4] = {};
    std::uint32_t start = 0;    // 512-byte sectors
    std::uint32_t sectors = 0;  // 512-byte sectors
    bool active() const { return (flags & 1) != 0; }
    bool used() const { return flags != 0 && sectors != 0; }
};
std::vector<PartitionEntry> partitionEntries(const std::uint8_t* rootSector);

// A boot sector other FAT readers would take: sector and cluster sizes that
// are powers of two, reserved sectors, one or two FATs, root entries.
bool looksLikeBootSector(const std::uint8_t* sector);

struct LayoutFound {
    Layout layout = Layout::unknown;
    int partition = -1;  // plain: the partition that would be served
    std::uint64_t fileSize = 0;
};
// Served when partition 0 starts at sector 2 and the window's first file
// sector holds a boot sector; plain when a used entry's start sector holds
// one. Never writes; an unreadable file is unknown.
LayoutFound findLayout(const std::string& path);

// The line `Vexlo -drvimg` adds for a plain image; empty for any other.
std::string plainLayoutNote(const std::string& path);

// A root sector with partition 0 at `start`, the disk ending with it. A
// served one has the word sum the server needs; a plain one carries no boot
// code, so its sum is kept off 0x1234, which would have TOS run it.
Bytes makeRootSector(std::uint32_t start, std::uint32_t partitionSectors, const char* id, Layout layout);

// One partition of a plain image as the server's buffer would hold it: a
// served root sector, then the partition from HEAD_BYTES on. `partition` -1
// picks the first active one. Refused with the reason when the entry is
// unused, past the file's end or larger than the window.
bool loadPlainPartition(const std::string& path, int partition, Bytes& window, PartitionEntry& chosen,
                        std::string& error);
// The partition of a served or plain image as a volume; `layout` says which.
bool openAnyLayout(const std::string& path, Bytes& buffer, Volume& volume, Layout& layout, std::string& error);

struct ConvertResult {
    Layout from = Layout::unknown;
    PartitionEntry partition;
    std::uint64_t bytes = 0;  // partition bytes written
};
// IN is only read; OUT appears complete or not at all.
bool convertImage(const std::string& in, const std::string& out, Layout to, int partition, bool force,
                  ConvertResult& result, std::string& error);

// `size` bytes at `offset`, skipping blocks of zeros (holes where the
// platform makes sparse files; the caller sets the file's length).
bool writeSparse(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size);
// A built image in the plain layout: its partition at sector 2.
bool writePlainImageFile(const BuiltImage& image, const std::string& path, std::string& error);

}  // namespace atari
