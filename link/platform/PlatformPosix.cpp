#include "platform/Platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {

const char* driverLibraryName() {
#if defined(__APPLE__)
    return "libftd2xx.dylib";
#else
    // The plain name, so the system's search path and LD_LIBRARY_PATH pick the copy.
    return "libftd2xx.so";
#endif
}

namespace {
// dlerror's text is gone after the next dl call. A function's static, as the
// updater loads its driver while the globals are still being constructed.
std::string& lastLoadError() {
    static std::string text;
    return text;
}
}  // namespace

void* loadLibrary(const char* fileName) {
    void* library = dlopen(fileName, RTLD_NOW);
    if (library == nullptr) {
        const char* reason = dlerror();
        lastLoadError() = reason != nullptr ? reason : "unknown reason";
    }
    return library;
}

std::string loadFailureNote(const char* fileName) {
#if defined(__APPLE__)
    const char* pathVariable = "DYLD_LIBRARY_PATH";
#else
    const char* pathVariable = "LD_LIBRARY_PATH";
#endif
    return std::string("Error: the driver library ") + fileName + " could not be loaded (" + lastLoadError() +
           "). Install FTDI's D2XX library so that " + driverLibraryName() +
           " is on the library path, or use this project's open-source driver by setting " + pathVariable +
           " to the folder of its " + driverLibraryName() + " (see README.md).";
}

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }

// Terminals here have no mode in which a selection pauses the program.
ConsoleModeCalls consoleModeCalls = {nullptr, nullptr, nullptr};

std::int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepFor(std::uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

// 0.9 ms: with the kernel's timer slack (50 us by default) the pause stays
// within a millisecond.
void pauseBriefly() {
    timespec ts{0, 900000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

int openRegularFile(const std::string& utf8Path, std::string& error) {
    const int fd = open(utf8Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + utf8Path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = utf8Path + " is not a regular file";
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int createNewFile(const std::string& utf8Path, std::string& error) {
    const int fd = open(utf8Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) error = "cannot create " + utf8Path + ": " + std::strerror(errno);
    return fd;
}

bool fileLength(int fd, std::uint64_t& length) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return false;
    length = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool readFileAt(int fd, std::uint64_t offset, void* data, std::size_t size) {
    auto* at = static_cast<char*>(data);
    while (size != 0) {
        const ssize_t got = pread(fd, at, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeFileAt(int fd, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* at = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t put = pwrite(fd, at, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        offset += static_cast<std::uint64_t>(put);
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool finishFile(int fd, std::uint64_t length) {
    return ftruncate(fd, static_cast<off_t>(length)) == 0 && fsync(fd) == 0;
}

void closeFile(int fd) { close(fd); }

}  // namespace platform
