#include "EmulatorConfig.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return "";
    }
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool parseNumber(const std::string& text, std::uint32_t& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull || text[0] == '-') {
        return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

bool parseBool(const std::string& text, bool& out, const char* yes, const char* no) {
    if (text == yes || text == "1" || text == "yes" || text == "true") {
        out = true;
        return true;
    }
    if (text == no || text == "0" || text == "no" || text == "false") {
        out = false;
        return true;
    }
    return false;
}

bool parseNumberSet(const std::string& text, std::set<std::uint32_t>& out) {
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        std::uint32_t n = 0;
        if (!parseNumber(trim(item), n)) {
            return false;
        }
        out.insert(n);
    }
    return true;
}

bool parseHexBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

bool applyOne(const std::string& key, const std::string& value, EmulatorConfig& c) {
    std::uint32_t n = 0;
    if (key == "out") {
        c.outDir = value;
        return !value.empty();
    }
    if (key == "log") {
        c.logPath = value;
        return true;
    }
    if (key == "log_calls") {
        return parseBool(value, c.logEveryCall, "all", "summary");
    }
    if (key == "cartridge") {
        return parseBool(value, c.cartridgePresent, "present", "absent");
    }
    if (key == "open_status") {
        return parseNumber(value, c.openStatus);
    }
    if (key == "power") {
        return parseBool(value, c.powered, "on", "off");
    }
    if (key == "power_byte") {
        if (!parseNumber(value, n) || n == 0 || n > 255) {
            return false;  // 0 would mean "off"; say power=off instead
        }
        c.powerByte = static_cast<std::uint8_t>(n);
        return true;
    }
    if (key == "ready_after") {
        return parseNumber(value, c.readyAfter);
    }
    if (key == "ready_byte") {
        if (!parseNumber(value, n) || n > 255) {
            return false;
        }
        c.readyByte = static_cast<std::uint8_t>(n);
        return true;
    }
    if (key == "read_timeout_ms") {
        return parseNumber(value, c.readTimeoutMs) && c.readTimeoutMs <= 60000;
    }
    if (key == "write_fail") {
        return parseNumberSet(value, c.failWrites);
    }
    if (key == "write_short") {
        return parseNumberSet(value, c.shortWrites);
    }
    if (key == "drop_reply") {
        return parseNumberSet(value, c.dropReplies);
    }
    if (key == "prg_stall") {
        return parseNumber(value, c.prgStalls);
    }
    if (key == "jtag") {
        c.jtag = value;
        return value == "model" || value.rfind("remote:", 0) == 0;
    }
    if (key == "jtag_idcode") {
        return parseNumber(value, c.jtagIdcode);
    }
    if (key == "jtag_irlen") {
        return parseNumber(value, n) && n >= 2 && n <= 32 && ((c.jtagIrLength = n), true);
    }
    if (key == "atari") {
        c.atariEnabled = true;
        c.atariTasks = value;
        return true;
    }
    if (key == "garbage") {
        return parseHexBytes(value, c.garbage);
    }
    if (key == "garbage_every") {
        return parseBool(value, c.garbageEveryRequest, "on", "off");
    }
    if (key == "unknown_cmd") {
        if (!parseNumber(value, n) || n > 255) {
            return false;
        }
        c.unknownCommand = static_cast<int>(n);
        return true;
    }
    if (key == "atari_retries") {
        return parseNumber(value, c.requestRetries);
    }
    return false;
}

bool knownKey(const std::string& key) {
    static const char* const keys[] = {"out", "log", "log_calls", "cartridge", "open_status", "power",
                                       "power_byte", "ready_after", "ready_byte", "read_timeout_ms",
                                       "write_fail", "write_short", "drop_reply", "prg_stall", "jtag",
                                       "jtag_idcode", "jtag_irlen", "atari", "garbage", "garbage_every",
                                       "unknown_cmd", "atari_retries"};
    for (const char* k : keys) {
        if (key == k) {
            return true;
        }
    }
    return false;
}

}  // namespace

void applyEmulatorSettings(const std::string& text, EmulatorConfig& config, std::vector<std::string>& problems) {
    // Split into pieces at ';' and line ends; a piece without '=' belongs to
    // the value before it (Atari scripts separate their tasks with ';').
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string piece;
    auto flush = [&]() {
        const std::string t = trim(piece);
        piece.clear();
        if (t.empty() || t[0] == '#') {
            return;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos) {
            if (!pairs.empty()) {
                pairs.back().second += ";" + t;
            } else {
                problems.push_back("setting without '=': \"" + t + "\"");
            }
            return;
        }
        pairs.emplace_back(trim(t.substr(0, eq)), trim(t.substr(eq + 1)));
    };
    // A line that starts with '#' is a comment to its end, ';' and '='
    // included.
    bool lineStart = true;
    bool comment = false;
    for (char ch : text) {
        if (ch == '\n') {
            if (comment) {
                piece.clear();
            }
            flush();
            lineStart = true;
            comment = false;
        } else if (comment) {
            // skipped to the line's end
        } else if (lineStart && ch == '#') {
            comment = true;
        } else if (ch == ';') {
            flush();
            lineStart = false;
        } else {
            piece += ch;
            lineStart = lineStart && (ch == ' ' || ch == '\t' || ch == '\r');
        }
    }
    if (comment) {
        piece.clear();
    }
    flush();
    for (const auto& [key, value] : pairs) {
        if (!knownKey(key)) {
            problems.push_back("unknown setting \"" + key + "\"");
        } else if (!applyOne(key, value, config)) {
            problems.push_back("bad value for " + key + ": \"" + value + "\"");
        }
    }
}

EmulatorConfig loadEmulatorConfig(const char* envValue, std::vector<std::string>& problems) {
    EmulatorConfig config;
    if (envValue == nullptr || trim(envValue).empty()) {
        return config;
    }
    const std::string value = envValue;
    if (value.find('=') != std::string::npos) {
        applyEmulatorSettings(value, config, problems);
        return config;
    }
    std::ifstream file(trim(value), std::ios::binary);
    if (!file) {
        problems.push_back("cannot read the configuration file \"" + trim(value) + "\"");
        return config;
    }
    std::stringstream text;
    text << file.rdbuf();
    applyEmulatorSettings(text.str(), config, problems);
    return config;
}
