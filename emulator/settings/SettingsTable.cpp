#include "EmulatorConfig.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "AtariDisk.h"
#include "SettingText.h"

std::string trimSetting(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return "";
    }
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

namespace {

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
        if (!parseNumber(trimSetting(item), n)) {
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

using Result = SettingResult;

Result taken(bool ok) { return ok ? Result::taken : Result::refused; }

Result byteSetting(const std::string& value, std::uint8_t& out, std::uint32_t low, std::string& note) {
    std::uint32_t n = 0;
    if (!parseNumber(value, n)) {
        return Result::refused;
    }
    if (n < low || n > 255) {
        note = "out of range: " + std::to_string(low) + " to 255";
        return Result::refused;
    }
    out = static_cast<std::uint8_t>(n);
    return Result::taken;
}

// Write and reply numbers count from 1; a 0 would never match.
Result callNumbers(const std::string& value, std::set<std::uint32_t>& out, std::string& note) {
    std::set<std::uint32_t> numbers;
    if (!parseNumberSet(value, numbers)) {
        return Result::refused;
    }
    if (numbers.count(0) != 0) {
        note = "out of range: the numbers count from 1";
        return Result::refused;
    }
    out.insert(numbers.begin(), numbers.end());
    return Result::taken;
}

bool validHostPort(const std::string& hostPort) {
    const auto colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    std::uint32_t port = 0;
    const std::string digits = hostPort.substr(colon + 1);
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
           parseNumber(digits, port) && port >= 1 && port <= 65535;
}

constexpr std::uint32_t MAX_READ_TIMEOUT_MS = 60000;

const std::vector<EmulatorSetting> settingsTable = {
    {"out", "vexlo-emulator-out",
     [](const std::string& v, EmulatorConfig& c, std::string&) {
         if (!v.empty()) {
             c.outDir = v;
         }
         return taken(!v.empty());
     },
     "folder for uploads, the Atari's files, the log and summary.txt"},
    {"log", "<out>/emulator.log",
     [](const std::string& v, EmulatorConfig& c, std::string&) {
         c.logPath = v;
         return Result::taken;
     },
     "the log file, or none, stdout, stderr"},
    {"log_calls", "summary",
     [](const std::string& v, EmulatorConfig& c, std::string&) {
         return taken(parseBool(v, c.logEveryCall, "all", "summary"));
     },
     "all: log every driver call, pin traffic and empty polls included"},
    {"cartridge", "present",
     [](const std::string& v, EmulatorConfig& c, std::string&) {
         return taken(parseBool(v, c.cartridgePresent, "present", "absent"));
     },
     "absent: FT_OpenEx finds no device"},
    {"open_status", "0",
     [](const std::string& v, EmulatorConfig& c, std::string&) { return taken(parseNumber(v, c.openStatus)); },
     "nonzero: FT_OpenEx fails with this status"},
    {"power", "on",
     [](const std::string& v, EmulatorConfig& c, std::string&) { return taken(parseBool(v, c.powered, "on", "off")); },
     "off: cmdGetPower is answered with 0"},
    {"power_byte", "1",
     // 0 would mean "off"; power=off says that.
     [](const std::string& v, EmulatorConfig& c, std::string& note) { return byteSetting(v, c.powerByte, 1, note); },
     "the cmdGetPower answer when powered (1-255)"},
    {"ready_after", "0",
     [](const std::string& v, EmulatorConfig& c, std::string&) { return taken(parseNumber(v, c.readyAfter)); },
     "this many cmdPollReady polls go unanswered first"},
    {"ready_byte", "1",
     [](const std::string& v, EmulatorConfig& c, std::string& note) { return byteSetting(v, c.readyByte, 0, note); },
     "the cmdPollReady answer"},
    {"read_timeout_ms", "0",
     [](const std::string& v, EmulatorConfig& c, std::string& note) {
         std::uint32_t ms = 0;
         if (!parseNumber(v, ms)) {
             return Result::refused;
         }
         if (ms > MAX_READ_TIMEOUT_MS) {
             c.readTimeoutMs = MAX_READ_TIMEOUT_MS;
             note = "at most 60000 ms; using 60000";
             return Result::changed;
         }
         c.readTimeoutMs = ms;
         return Result::taken;
     },
     "how long a read that comes up short waits (at most 60000)"},
    {"write_fail", "",
     [](const std::string& v, EmulatorConfig& c, std::string& note) { return callNumbers(v, c.failWrites, note); },
     "write numbers that fail with FT_IO_ERROR"},
    {"write_short", "",
     [](const std::string& v, EmulatorConfig& c, std::string& note) { return callNumbers(v, c.shortWrites, note); },
     "write numbers that take one byte fewer than offered"},
    {"drop_reply", "",
     [](const std::string& v, EmulatorConfig& c, std::string& note) { return callNumbers(v, c.dropReplies, note); },
     "reply numbers that are never sent"},
    {"prg_stall", "0",
     [](const std::string& v, EmulatorConfig& c, std::string&) { return taken(parseNumber(v, c.prgStalls)); },
     "the first N writes of a program upload's stream take no bytes"},
    {"jtag", "model",
     [](const std::string& v, EmulatorConfig& c, std::string& note) {
         if (v == "model") {
             c.jtag = v;
             return Result::taken;
         }
         if (v.rfind("remote:", 0) == 0) {
             if (!validHostPort(v.substr(7))) {
                 note = "expected remote:HOST:PORT with a port from 1 to 65535";
                 return Result::refused;
             }
             c.jtag = v;
             return Result::taken;
         }
         note = "model or remote:HOST:PORT";
         return Result::refused;
     },
     "model, or remote:HOST:PORT for a remote_bitbang simulator"},
    {"jtag_idcode", "0x0ace50db",
     [](const std::string& v, EmulatorConfig& c, std::string& note) {
         std::uint32_t id = 0;
         if (!parseNumber(v, id)) {
             return Result::refused;
         }
         // The standard's marker bit: an IDCODE always ends in 1.
         c.jtagIdcode = id | 1u;
         if ((id & 1u) == 0) {
             char text[80];
             std::snprintf(text, sizeof text, "bit 0 of an IDCODE is always 1; using 0x%08x",
                           static_cast<unsigned>(c.jtagIdcode));
             note = text;
             return Result::changed;
         }
         return Result::taken;
     },
     "IDCODE of the JTAG model"},
    {"jtag_irlen", "8",
     [](const std::string& v, EmulatorConfig& c, std::string& note) {
         std::uint32_t n = 0;
         if (!parseNumber(v, n)) {
             return Result::refused;
         }
         if (n < 2 || n > 32) {
             note = "out of range: 2 to 32";
             return Result::refused;
         }
         c.jtagIrLength = n;
         return Result::taken;
     },
     "instruction register length of the model (2-32)"},
    {"atari", "",
     [](const std::string& v, EmulatorConfig& c, std::string& note) {
         // Taken even when a task is unknown: the run then fails at the
         // script's start, as it would have, instead of serving forever.
         c.atariEnabled = true;
         c.atariTasks = v;
         std::vector<AtariTask> tasks;
         return parseAtariTasks(v, tasks, note) ? Result::taken : Result::refused;
     },
     "the Atari's script: list, read:/PATH, readall, dump:FILE, separated by ';'"},
    {"garbage", "",
     [](const std::string& v, EmulatorConfig& c, std::string&) { return taken(parseHexBytes(v, c.garbage)); },
     "hex bytes sent before the Atari's first sector request"},
    {"garbage_every", "off",
     [](const std::string& v, EmulatorConfig& c, std::string&) {
         return taken(parseBool(v, c.garbageEveryRequest, "on", "off"));
     },
     "on: the garbage goes before every request"},
    {"unknown_cmd", "",
     [](const std::string& v, EmulatorConfig& c, std::string& note) {
         std::uint8_t code = 0;
         const Result r = byteSetting(v, code, 0, note);
         if (r == Result::taken) {
             c.unknownCommand = code;
         }
         return r;
     },
     "a command code sent once before the first request"},
    {"atari_retries", "2",
     [](const std::string& v, EmulatorConfig& c, std::string&) { return taken(parseNumber(v, c.requestRetries)); },
     "how often the Atari repeats an unanswered request"},
};

}  // namespace

const std::vector<EmulatorSetting>& emulatorSettings() { return settingsTable; }
