#include "EmulatorText.h"

#include <cstdarg>
#include <cstdio>

std::string formatText(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string hexBytes(const std::uint8_t* data, std::size_t count, std::size_t limit) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    const std::size_t shown = count < limit ? count : limit;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i != 0) {
            s += ' ';
        }
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    if (shown < count) {
        s += " ...";
    }
    return s;
}

std::string printable(const std::uint8_t* data, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t c = data[i];
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
            s += static_cast<char>(c);
        } else {
            s += "\\x";
            s += digits[c >> 4];
            s += digits[c & 15];
        }
    }
    return s;
}
