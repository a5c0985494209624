// printf-style formatting into a std::string.
#pragma once

#include <cstdio>
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

}  // namespace atari
