// The image reader of vexlo-image info, ls and get on hostile images. The
// input is the server's window (buffer byte 0 on; bytes past the input read
// as zeros, as past a file's end), after one byte of settings that let the
// fuzzer past the root sector checks it would rarely get right by chance:
//   [0]  bit 0: fix the root sector's word sum to 0x1234
//        bit 1: set the active bit of partition entry 0
//        bit 2: partition entry 0 starts at sector 2 (where the server
//               looks for the boot sector of a created image)
// The harness walks the whole tree as `info` does, reads every file as
// `get` does, and looks each entry up by its path as `ls PATH` does, and
// checks what the reader hands back against what the entries say, and that
// every name it accepts stays inside the folder `get` writes to.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "AtariImage.h"
#include "FuzzSupport.h"

namespace {

constexpr std::size_t MAX_DEPTH = 64;

struct Walk {
    atari::Walker& walker;
    std::size_t entries = 0;
    std::uint64_t fileBytes = 0;
    std::set<std::string> names;  // paths, upper case: no two entries may land on one host file
};

std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return text;
}

bool walkFolder(Walk& walk, std::uint32_t cluster, const std::string& prefix, std::size_t depth) {
    if (depth > MAX_DEPTH) {
        return false;
    }
    std::vector<atari::Entry> entries;
    std::string error;
    if (!walk.walker.listFolder(cluster, entries, error)) {
        FUZZ_CHECK(!error.empty());
        return false;
    }
    for (const atari::Entry& e : entries) {
        ++walk.entries;
        FUZZ_CHECK(!e.name.empty() && e.name.size() <= 12);
        // `get` makes a host path of every name the reader hands out: none
        // may climb out of the destination, name a root or a drive, or hold
        // a byte a terminal or a file system takes for something else.
        FUZZ_CHECK(e.name != "." && e.name != "..");
        for (unsigned char c : e.name) {
            FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != '/' && c != '\\' && c != ':');
        }
        FUZZ_CHECK(walk.names.insert(prefix + "/" + upperAscii(e.name)).second);
        const std::string path = prefix + "/" + e.name;
        if (e.folder()) {
            if (e.firstCluster == 0 || !walkFolder(walk, e.firstCluster, path, depth + 1)) {
                return false;
            }
            continue;
        }
        atari::Bytes content;
        if (!walk.walker.readFile(e, content, error)) {
            FUZZ_CHECK(!error.empty());
            return false;
        }
        FUZZ_CHECK(content.size() == e.size);
        walk.fileBytes += content.size();
        // A sound disk has at most its clusters' worth of file bytes.
        FUZZ_CHECK(walk.fileBytes <= std::uint64_t(walk.walker.volume.clusterCount) *
                                             walk.walker.volume.clusterBytes());
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > ahdi::WINDOW_BYTES) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    atari::Bytes buffer(data + 1, data + size);
    if (flags & 7) {
        buffer.resize(std::max<std::size_t>(buffer.size(), 512), 0);
    }
    if (flags & 4) {
        std::memset(buffer.data() + ahdi::PARTITION_START_AT, 0, 4);
        buffer[ahdi::PARTITION_START_AT + 3] = atari::SERVED_START_SECTOR;
    }
    if (flags & 2) {
        buffer[ahdi::PARTITION_FLAGS_AT] |= 1;
    }
    if (flags & 1) {
        atari::fixRootChecksum(buffer.data());
    }
    const atari::Window window = atari::windowOf(buffer);

    // As info reads it: the root sector, then the boot sector wherever the
    // root sector puts it, whatever the checks say.
    const atari::RootSector root = atari::readRootSector(window);
    atari::Volume volume;
    std::string error;
    if (root.bootInWindow()) {
        const bool opened = atari::openVolume(window, root.bootBufferOffset(), volume, error);
        FUZZ_CHECK(opened || !error.empty());
    }

    // As ls and get read it: only what the server would serve.
    if (!atari::openServedVolume(window, volume, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(root.checksumOk() && root.active() && root.bootInWindow());
    FUZZ_CHECK(volume.fatBits == 12 || volume.fatBits == 16);
    FUZZ_CHECK(volume.dataStart < volume.totalSectors && volume.clusterCount > 0);

    atari::Walker walker(volume);
    Walk walk{walker, 0, 0, {}};
    walkFolder(walk, 0, "", 0);

    // Looking up the root's entries by path, in a walk of their own.
    atari::Walker lister(volume);
    std::vector<atari::Entry> top;
    if (lister.listFolder(0, top, error)) {
        for (std::size_t i = 0; i < top.size() && i < 4; ++i) {
            atari::Walker finder(volume);
            atari::Entry found;
            const bool plainName = top[i].name.find_first_of("/\\") == std::string::npos;
            if (finder.find("/" + top[i].name, found, error)) {
                FUZZ_CHECK(!plainName || found.name == top[i].name);
            } else {
                FUZZ_CHECK(!error.empty());
            }
        }
    }
    return 0;
}
