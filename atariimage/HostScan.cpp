// Reading the files and folders an image is made of from the host.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "AtariImage.h"
#include "Text.h"

namespace fs = std::filesystem;

namespace atari {
namespace {

constexpr std::size_t MAX_HOST_DEPTH = 32;

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

// What one scan carries along: the bytes so far, the source folder given,
// and the links followed out of it.
struct Scan {
    std::uint64_t total = 0;
    fs::path top;  // canonical
    std::vector<std::string>* followed = nullptr;
};

bool inside(const fs::path& path, const fs::path& folder) {
    const auto rel = path.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

bool scanFolder(const fs::path& folder, SourceNode& node, std::size_t depth, Scan& scan, std::string& error) {
    if (depth > MAX_HOST_DEPTH) {
        error = "folders nested deeper than " + std::to_string(MAX_HOST_DEPTH) + " levels at " + printable(textOf(folder));
        return false;
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        SourceNode child;
        child.name = textOf(path.filename());
        child.hostPath = textOf(path);
        std::error_code entryError;
        if (fs::is_symlink(fs::symlink_status(path, entryError))) {
            const std::string to = textOf(fs::read_symlink(path, entryError));
            if (!fs::exists(path, entryError)) {
                error = printable(child.hostPath) + " is a link to " + printable(to) + ", which does not exist";
                return false;
            }
            if (scan.followed != nullptr && !inside(fs::weakly_canonical(path, entryError), scan.top)) {
                scan.followed->push_back(child.hostPath + " -> " + to);
            }
        }
        const fs::file_status status = fs::status(path, entryError);
        if (entryError) {
            error = "cannot read " + printable(child.hostPath) + ": " + entryError.message();
            return false;
        }
        std::error_code timeError;
        const auto when = fs::last_write_time(path, timeError);
        if (!timeError) dosTime(when, child.time, child.date);
        if (fs::is_directory(status)) {
            child.folder = true;
            if (!scanFolder(path, child, depth + 1, scan, error)) return false;
        } else if (fs::is_regular_file(status)) {
            child.size = fs::file_size(path, entryError);
            if (entryError) {
                error = "cannot read " + printable(child.hostPath) + ": " + entryError.message();
                return false;
            }
            scan.total += child.size;
            if (scan.total > ahdi::WINDOW_BYTES) {
                error = "the files come to more than the 20 MB window holds (at " + printable(child.hostPath) + ")";
                return false;
            }
        } else {
            error = printable(child.hostPath) + " is neither a file nor a folder";
            return false;
        }
        node.children.push_back(std::move(child));
    }
    if (ec) {
        error = "cannot read " + printable(textOf(folder)) + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

bool scanSources(const std::vector<std::string>& paths, SourceNode& root, std::string& error,
                 std::vector<std::string>* followed) {
    root = SourceNode{};
    root.folder = true;
    Scan scan;
    scan.followed = followed;
    for (const std::string& path : paths) {
        const fs::path host = pathOf(path);
        std::error_code ec;
        const fs::file_status status = fs::status(host, ec);
        if (fs::is_directory(status)) {
            scan.top = fs::weakly_canonical(host, ec);
            if (!scanFolder(host, root, 1, scan, error)) return false;
        } else if (fs::is_regular_file(status)) {
            SourceNode file;
            file.name = textOf(host.filename());
            file.hostPath = path;
            file.size = fs::file_size(host, ec);
            const auto when = fs::last_write_time(host, ec);
            if (!ec) dosTime(when, file.time, file.date);
            scan.total += file.size;
            if (scan.total > ahdi::WINDOW_BYTES) {
                error = "the files come to more than the 20 MB window holds (at " + printable(path) + ")";
                return false;
            }
            root.children.push_back(std::move(file));
        } else {
            error = fs::exists(status) ? printable(path) + " is neither a file nor a folder"
                                       : "no such file or folder: " + printable(path);
            return false;
        }
    }
    return true;
}

}  // namespace atari
