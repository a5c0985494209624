// Atari hard-disk images as the drive image server sees them: an AHDI root
// sector, and a FAT file system in partition 0 read through the server's
// 20 MB window. The reader never trusts the image: every failure is a text
// in `error`, never a crash or an endless walk. The builder makes images the
// server takes as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "AhdiRootSector.h"
#include "BootSector.h"
#include "ServedWindow.h"

namespace atari {

using Bytes = std::vector<std::uint8_t>;

using ahdi::SERVED_FILE_SECTOR;
using ahdi::SERVED_START_SECTOR;
using ahdi::WINDOW_SHIFT;
constexpr std::uint16_t ROOT_CHECKSUM = ahdi::ROOT_WORD_SUM;

// The server's buffer as it would be loaded from a file: bytes past `size`
// are zeros (the file ended there). Not owning.
struct Window {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Reads the window of an image file the way the server loads it, without
// ever opening the file for writing. `fileSize` gets the file's length.
bool loadWindow(const std::string& path, Bytes& buffer, std::uint64_t& fileSize, std::string& error);
Window windowOf(const Bytes& buffer);
// `size` bytes of a regular file from `offset`, or false.
bool readFileBytes(const std::string& path, std::uint64_t offset, std::uint8_t* data, std::size_t size);

using ahdi::rootWordSum;
// The word at 510 that brings a root sector's word sum to 0x1234.
void fixRootChecksum(std::uint8_t* sector);

struct RootSector {
    std::uint16_t wordSum = 0;
    std::uint32_t diskSectors = 0;
    std::uint8_t flags = 0;
    char id[4] = {};
    std::uint32_t start = 0;    // 512-byte sectors
    std::uint32_t sectors = 0;  // 512-byte sectors
    bool checksumOk() const { return wordSum == ROOT_CHECKSUM; }
    bool active() const { return (flags & 1) != 0; }
    // Where the server takes the boot sector from (buffer offset).
    std::uint64_t bootBufferOffset() const { return std::uint64_t(start) * 512; }
    bool bootInWindow() const { return bootBufferOffset() + 512 <= ahdi::WINDOW_BYTES; }
};
RootSector readRootSector(const Window& window);
using ahdi::fileOffsetOfBuffer;

// The partition's layout from its boot sector.
struct Volume {
    Window window;
    std::uint64_t partitionOffset = 0;  // buffer offset of sector 0
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t sides = 0;
    std::uint8_t media = 0;
    std::uint32_t rootStart = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t clusterCount = 0;  // clusters 2 .. clusterCount + 1
    int fatBits = 0;
    Bytes fat;  // the first FAT, the one the Atari uses
    std::uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
};

// Reads the boot sector at `partitionOffset` and checks that the layout it
// gives is a FAT12/FAT16 file system the server can hand out.
bool openVolume(const Window& window, std::uint64_t partitionOffset, Volume& volume, std::string& error);
// Root sector checks (checksum, active, window) and then openVolume.
bool openServedVolume(const Window& window, Volume& volume, std::string& error);

// Logical sectors as a sector request gets them: numbers fit 16 bits and the
// bytes lie inside the window.
bool readSectors(const Volume& volume, std::uint32_t first, std::uint32_t count, Bytes& out, std::string& error);

// The label in the root folder as TOS reads it; empty when there is none.
std::string volumeLabel(const Volume& volume);

struct Entry {
    std::string name;  // "NAME.EXT"
    std::uint8_t attributes = 0;
    std::uint32_t firstCluster = 0;
    std::uint32_t size = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    bool folder() const { return (attributes & fat::ATTR_FOLDER) != 0; }
};

// Empty when a name from an image can become a host file name as it is;
// otherwise why not: '/', '\\', NUL, control bytes, "." and "..", and what
// FAT names never hold (':' would name a Windows drive).
std::string unsafeNameReason(const std::string& name);

// One walk over a disk. On a sound disk no cluster belongs to two chains,
// so a cluster met twice is a loop, a folder cycle or a cross-link: an
// error. That also bounds the whole walk by the number of clusters, so
// hostile images end in errors, never in endless work.
struct Walker {
    explicit Walker(const Volume& v) : volume(v) {}
    const Volume& volume;
    std::vector<bool> used;  // clusters already met in this walk

    bool chain(std::uint32_t first, std::vector<std::uint32_t>& clusters, std::string& error);
    // Folder cluster 0 is the root folder.
    bool listFolder(std::uint32_t cluster, std::vector<Entry>& entries, std::string& error);
    bool readFile(const Entry& file, Bytes& content, std::string& error);
    // "/DIR/FILE.TXT", case-insensitive, '/' or '\\'; "" or "/" is the root
    // (returned as a folder entry with cluster 0).
    bool find(const std::string& path, Entry& found, std::string& error);
};

// --- building -------------------------------------------------------------

// A file or folder to put on the disk. Names are the host's; the builder
// maps them to 8.3.
struct SourceNode {
    std::string name;
    bool folder = false;
    std::string hostPath;  // read when the image is built; empty: `content`
    std::uint64_t size = 0;
    Bytes content;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::vector<SourceNode> children;
};

struct BuildOptions {
    std::uint32_t sizeKb = 0;      // 0: the default, grown to fit
    std::uint32_t sectorSize = 0;  // 0: by size, as TOS expects
    std::string label;
    // The option that gave the size and its value as given, for messages.
    std::string sizeOption;
    std::string sizeValue;
};

struct NameMapping {
    std::string from;  // host path, relative to the disk's root
    std::string to;    // Atari path
};

struct BuiltImage {
    Bytes rootSector;  // 512 bytes
    Bytes partition;   // the file system, placed at SERVED_FILE_SECTOR
    std::uint32_t sizeKb = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t clusterCount = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::vector<NameMapping> renamed;
    std::uint64_t diskBytes() const { return ahdi::WINDOW_FILE_OFFSET + partition.size(); }
};

constexpr std::uint32_t DEFAULT_SIZE_KB = 8 * 1024;
constexpr std::uint32_t MAX_SIZE_KB = (ahdi::WINDOW_BYTES - ahdi::HEAD_BYTES) / 1024;

// Reads files and folders from the host: a folder's contents go to the
// disk's root, a file to the root. Links are followed; `followed`, when
// given, gets "LINK -> TARGET" for each one that leads out of its folder.
bool scanSources(const std::vector<std::string>& paths, SourceNode& root, std::string& error,
                 std::vector<std::string>* followed = nullptr);
// The sizes a partition can have with this sector size (0: chosen by size,
// as TOS expects), in KB: a 16-bit FAT TOS can number, inside the window.
void sizeRangeKb(std::uint32_t sectorSize, std::uint32_t& minKb, std::uint32_t& maxKb);
// The sector size and the size given make such a partition.
bool checkOptions(const BuildOptions& options, std::string& error);
// Everything in memory; nothing is written. Fails when the contents do not
// fit or the options make no 16-bit FAT.
bool buildImage(const SourceNode& root, const BuildOptions& options, BuiltImage& image, std::string& error);
// The 8.3 names of one folder: those given out, and for each plain 8.3 form
// the next "~n" to try.
struct NameTable {
    std::unordered_set<std::string> taken;
    std::unordered_map<std::string, unsigned> nextNumber;
};
// The 8.3 name for a host name, unique among the names taken, which it joins.
std::string atariName(const std::string& hostName, NameTable& names);
// Fills the server's buffer (IMAGE_BYTES) for a built image.
void fillServerWindow(const BuiltImage& image, std::uint8_t* window);
bool isFolder(const std::string& path);
// A folder as the server's buffer, built with create's defaults; `summary`
// is the line that says so.
std::unique_ptr<std::uint8_t[]> windowFromFolder(const std::string& folder, std::string& summary,
                                                 std::string& error);
// Whether a new file may take the place of `path`: nothing there, or with
// `force` a regular file or a link (the link itself is replaced, never
// followed). A folder, a pipe or a device is never a target.
bool checkOutputTarget(const std::string& path, bool force, std::string& error);
// All or nothing: `write` fills a new file beside `path` (by writeFileAt on
// the descriptor), which takes the place of `path` once it is `length`
// bytes long and on the disk. On any failure that file is removed and
// `path` is as it was.
bool replaceFile(const std::string& path, std::uint64_t length, const std::function<bool(int fd)>& write,
                 std::string& error);
// Writes the image file, sparse where the platform allows, as replaceFile does.
bool writeImageFile(const BuiltImage& image, const std::string& path, std::string& error);

}  // namespace atari
