// Host names made into 8.3 names TOS takes.
#include "AtariNames.h"

#include <algorithm>
#include <string_view>

#include "AtariImage.h"
#include "Text.h"

namespace atari {
namespace {

// Besides letters and digits, what TOS accepts in a file name.
bool tosNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::string_view("!#$%&'()-@^_`{}~").find(c) !=
                                                                       std::string_view::npos;
}

}  // namespace

std::string tosPart(const std::string& part) {
    std::string out;
    for (unsigned char c : upperAscii(part)) {
        if (c == ' ' || c == '.' || (c >= 0x80 && c < 0xC0)) continue;
        out += tosNameChar(char(c)) ? char(c) : '_';
    }
    return out;
}

bool fitsEightThree(const std::string& name) {
    const std::string up = upperAscii(name);
    const std::size_t dot = up.find('.');
    const std::string base = up.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : up.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos ||
        (dot != std::string::npos && ext.empty())) {
        return false;
    }
    return std::all_of(base.begin(), base.end(), tosNameChar) && std::all_of(ext.begin(), ext.end(), tosNameChar);
}

std::string atariName(const std::string& hostName, NameTable& names) {
    std::string trimmed = hostName;
    trimmed.erase(0, trimmed.find_first_not_of(". "));
    const std::size_t dot = trimmed.rfind('.');
    std::string base = tosPart(dot == std::string::npos ? trimmed : trimmed.substr(0, dot));
    std::string ext = dot == std::string::npos ? "" : tosPart(trimmed.substr(dot + 1)).substr(0, 3);
    if (base.empty()) base = "_";
    const std::string suffix = ext.empty() ? "" : "." + ext;
    const std::string plain = base.substr(0, 8) + suffix;
    if (names.taken.insert(plain).second) return plain;
    // Numbers below the counter are all taken already (names are never
    // given back), so each try starts where the last one of its kind ended.
    unsigned& next = names.nextNumber[plain];
    for (unsigned n = std::max(next, 1u);; ++n) {
        const std::string tail = "~" + std::to_string(n);
        const std::string name = base.substr(0, 8 - tail.size()) + tail + suffix;
        if (names.taken.insert(name).second) {
            next = n + 1;
            return name;
        }
    }
}

}  // namespace atari
