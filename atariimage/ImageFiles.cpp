// Image files and the files `get` writes: targets checked first, contents
// written all or nothing.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "AtariImage.h"
#include "Convert.h"
#include "Text.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace atari {

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(pathOf(path), ec);
}

bool checkOutputTarget(const std::string& path, bool force, std::string& error) {
    const fs::path target = pathOf(path);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (!fs::exists(status)) return true;
    if (fs::is_symlink(status)) {
        const std::string to = textOf(fs::read_symlink(target, ec));
        if (fs::is_directory(target, ec)) {
            error = printable(path) + " is a link to the folder " + printable(to) + "; name the folder itself";
            return false;
        }
        if (fs::exists(target, ec)) {
            if (force) return true;
            error = printable(path) + " exists (a link to " + printable(to) +
                    "); give --force to replace the link with the file";
        } else {
            if (force) return true;
            error = printable(path) + " is a link to " + printable(to) +
                    ", which does not exist; give --force to replace the link with the file";
        }
        return false;
    }
    if (fs::is_directory(status)) {
        error = printable(path) + " is a folder";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = printable(path) + " is not a regular file";
        return false;
    }
    if (force) return true;
    error = printable(path) + " exists; give --force to overwrite it";
    return false;
}

bool replaceFile(const std::string& path, std::uint64_t length, const std::function<bool(int fd)>& write,
                 std::string& error) {
    const fs::path target = pathOf(path);
    const fs::path folder = target.parent_path();
    const auto stamp = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string temp;
    int fd = -1;
    for (std::uint64_t attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        const std::string name = "." + textOf(target.filename()) + format(".%llx.part", (unsigned long long)(stamp + attempt));
        temp = textOf(folder / pathOf(name));
        std::error_code ec;
        fd = platform::createNewFile(temp, error);
        if (fd < 0 && !fs::exists(fs::symlink_status(pathOf(temp), ec))) break;  // not a name taken
    }
    if (fd < 0) {
        error = "cannot write " + printable(path) + ": " + printable(error);
        return false;
    }
    bool ok = write(fd) && platform::finishFile(fd, length);
    const int why = errno;
    platform::closeFile(fd);
    std::error_code ec;
    if (!ok) {
        error = "cannot write " + printable(path) + ": " + std::strerror(why) + "; nothing was changed";
    } else {
        fs::rename(pathOf(temp), target, ec);
        ok = !ec;
        if (!ok) error = "cannot put " + printable(path) + " in place: " + ec.message() + "; nothing was changed";
    }
    if (!ok) fs::remove(pathOf(temp), ec);
    return ok;
}

bool writeImageFile(const BuiltImage& image, const std::string& path, std::string& error) {
    return replaceFile(
        path, image.diskBytes(),
        [&image](int fd) {
            if (!platform::writeFileAt(fd, 0, image.rootSector.data(), image.rootSector.size())) return false;
            return writeSparse(fd, ahdi::WINDOW_FILE_OFFSET, image.partition.data(), image.partition.size());
        },
        error);
}

}  // namespace atari
