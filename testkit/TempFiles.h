// Files the tests write for themselves in a fresh directory, removed again
// at the end of the test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempFolder.h"

class TempFiles {
public:
    std::string write(const std::string& name, const std::vector<std::uint8_t>& content) {
        const std::filesystem::path path = folder_.path() / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return path.string();
    }
    // A file of `size` bytes whose bytes are never zero, so padding shows.
    std::string pattern(const std::string& name, std::size_t size) { return write(name, patternBytes(size)); }
    std::string missing(const std::string& name) const { return folder_.file(name); }
    // A file of `size` bytes that takes no room: a hole, read as zeros.
    std::string sparse(const std::string& name, std::uint64_t size) {
        const std::string path = write(name, {});
        std::filesystem::resize_file(path, size);
        return path;
    }

    static std::vector<std::uint8_t> patternBytes(std::size_t size) {
        std::vector<std::uint8_t> content(size);
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<std::uint8_t>(i % 251 + 1);
        }
        return content;
    }

private:
    TempFolder folder_{"vexlo-test"};
};
