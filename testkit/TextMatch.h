// Console lines that carry a source line number: '#' in a pattern stands for
// one or more decimal digits, every other character for itself.
#pragma once

#include <cctype>
#include <string>

inline bool matchesWithNumbers(const std::string& text, const std::string& pattern) {
    std::size_t t = 0;
    for (char p : pattern) {
        if (p == '#') {
            const std::size_t start = t;
            while (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t]))) {
                ++t;
            }
            if (t == start) {
                return false;
            }
        } else if (t >= text.size() || text[t++] != p) {
            return false;
        }
    }
    return t == text.size();
}
