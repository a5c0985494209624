#include "TempFolder.h"

#include <system_error>

#if defined(_WIN32)
#include <process.h>
#define VEXLO_GETPID _getpid
#else
#include <unistd.h>
#define VEXLO_GETPID getpid
#endif

TempFolder::TempFolder(const std::string& tag) {
    static unsigned serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            (tag + "-" + std::to_string(VEXLO_GETPID()) + "-" + std::to_string(++serial));
    // A folder left by an earlier process of the same number goes first.
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string writtenSoFar(std::FILE* file) {
    std::fflush(file);
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fseek(file, 0, SEEK_END);
    return text;
}
