// printf-style formatting into a std::string, and file names as UTF-8 text.
#pragma once

#include <cstdint>
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

// ASCII letters in upper case, as TOS and FAT names have them; other bytes
// as they are.
inline std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return text;
}

// Text from an image or a folder as it may go to a terminal: control bytes
// (C1 ones included) and bytes that are not UTF-8 become "\x1b", so no name
// can move the cursor, clear the screen or forge a line.
inline std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char c) { out += format("\\x%02x", c); };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) {
                escape(c);
            } else {
                out += char(c);
            }
            ++i;
            continue;
        }
        // The length a lead byte announces, and the least code point it may
        // carry (shorter forms are not UTF-8).
        const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        std::uint32_t point = length == 2 ? c & 0x1Fu : length == 3 ? c & 0x0Fu : c & 0x07u;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            point = point << 6 | (next & 0x3Fu);
        }
        valid = valid && !(length == 3 && point < 0x800) && !(length == 4 && (point < 0x10000 || point > 0x10FFFF)) &&
                !(point >= 0xD800 && point <= 0xDFFF) && !(point >= 0x80 && point <= 0x9F);
        if (!valid) {
            escape(c);
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
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
