// printf-style formatting into a std::string, and file names as UTF-8 text.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace atari {

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    const int length = std::snprintf(nullptr, 0, fmt, args...);
    if (length <= 0) {
        return "";
    }
    std::string text(std::size_t(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), fmt, args...);
    text.pop_back();
    return text;
}

// Command lines and messages carry file names as UTF-8 on every platform.
// A plain narrow path would go through the C library's locale on Windows and
// lose every letter outside ASCII.
inline std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string textOf(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

}  // namespace atari
