// Test helpers shared by the reader's unit tests and the -drvimg end-to-end
// tests: file trees with known contents, Atari images made from them by
// tools/make-atari-image, and the partition as the server's window shows it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "AhdiRootSector.h"
#include "AtariDisk.h"
#include "BootSector.h"
#include "ServedWindow.h"

namespace atari_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return out;
}

inline Bytes readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Relative path ("DIR/BIG.BIN") -> contents.
using FileTree = std::map<std::string, Bytes>;

// A few files: a small one, an empty one, one of exactly 8 KB, one spanning
// many clusters in a folder, and one two folders down.
inline FileTree sampleTree() {
    return FileTree{
        {"HELLO.TXT", Bytes{'H', 'e', 'l', 'l', 'o', '\r', '\n'}},
        {"EMPTY.DAT", {}},
        {"EXACT.BIN", pattern(8192, 1)},
        {"DIR/BIG.BIN", pattern(300001, 2)},
        {"DIR/SUB/DEEP.TXT", pattern(5000, 3)},
    };
}

inline std::uint64_t treeBytes(const FileTree& tree) {
    std::uint64_t total = 0;
    for (const auto& [name, content] : tree) total += content.size();
    return total;
}

inline void writeTree(const FileTree& tree, const std::filesystem::path& root) {
    for (const auto& [name, content] : tree) {
        std::filesystem::create_directories((root / name).parent_path());
        std::ofstream(root / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
}

inline bool haveImageTools() {
    return std::system("command -v mkfs.fat >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1") == 0;
}

// Runs tools/make-atari-image (path in `tool`) with `options`; true on success.
inline bool makeImage(const std::string& tool, const std::string& options, const std::filesystem::path& image,
                      const std::filesystem::path& source) {
    const std::string command =
        tool + " " + options + " '" + image.string() + "' '" + source.string() + "' >/dev/null";
    return std::system(command.c_str()) == 0;
}

struct Request {
    std::uint16_t first;
    std::uint8_t count;
};

// Serves a partition held in memory, as the server does from its buffer,
// and records every request.
struct MemoryDisk {
    Bytes partition;
    std::uint32_t bytesPerSector = 512;
    std::vector<Request> requests;
    int failAtRequest = -1;  // this request (0-based) fails
    bool shortReplies = false;

    RequestSectors requester() {
        return [this](std::uint16_t first, std::uint8_t count, Bytes& data, std::string& error) {
            const int index = static_cast<int>(requests.size());
            requests.push_back({first, count});
            if (index == failAtRequest) {
                error = "no reply";
                return false;
            }
            const std::size_t begin = static_cast<std::size_t>(first) * bytesPerSector;
            std::size_t length = static_cast<std::size_t>(count) * bytesPerSector;
            if (begin + length > partition.size()) {
                error = "past the partition";
                return false;
            }
            if (shortReplies && index > 0) length -= 1;
            data.assign(partition.begin() + static_cast<std::ptrdiff_t>(begin),
                        partition.begin() + static_cast<std::ptrdiff_t>(begin + length));
            return true;
        };
    }
};

// The partition as the server's window presents it: root sector checked,
// partition entry 0 at its start sector, buffer offsets from 1024 on
// mapped to file offset + ahdi::WINDOW_SHIFT.
inline bool loadServedPartition(const std::filesystem::path& image, MemoryDisk& disk, std::string& why) {
    std::ifstream in(image, std::ios::binary);
    Bytes root(ahdi::ROOT_BYTES);
    in.read(reinterpret_cast<char*>(root.data()), ahdi::ROOT_BYTES);
    std::uint32_t sum = 0;
    for (int i = 0; i < 256; ++i) sum += (root[2 * i] << 8) | root[2 * i + 1];
    if ((sum & 0xFFFF) != ahdi::ROOT_WORD_SUM || !(root[ahdi::PARTITION_FLAGS_AT] & 1)) {
        why = "root sector checksum or active flag wrong";
        return false;
    }
    auto be32 = [&](std::size_t at) {
        return (std::uint32_t{root[at]} << 24) | (root[at + 1] << 16) | (root[at + 2] << 8) | root[at + 3];
    };
    const std::uint64_t bufferOffset = std::uint64_t{be32(ahdi::PARTITION_START_AT)} * 512;
    const std::uint64_t length = std::uint64_t{be32(ahdi::PARTITION_SECTORS_AT)} * 512;
    if (bufferOffset < ahdi::HEAD_BYTES || bufferOffset + length > ahdi::WINDOW_BYTES) {
        why = "partition outside the window";
        return false;
    }
    disk.partition.assign(length, 0);
    in.seekg(static_cast<std::streamoff>(ahdi::fileOffsetOfBuffer(bufferOffset)));
    in.read(reinterpret_cast<char*>(disk.partition.data()), static_cast<std::streamsize>(length));
    if (!in) {
        why = "file shorter than its partition";
        return false;
    }
    disk.bytesPerSector = disk.partition[fat::BYTES_PER_SECTOR_AT] | (disk.partition[fat::BYTES_PER_SECTOR_AT + 1] << 8);
    return true;
}

}  // namespace atari_test
