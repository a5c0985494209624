#include "EmulatorConfig.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "SettingText.h"

namespace {

const EmulatorSetting* findSetting(const std::string& key) {
    for (const auto& s : emulatorSettings()) {
        if (key == s.key) {
            return &s;
        }
    }
    return nullptr;
}

struct Piece {
    std::string key;
    std::string value;
    unsigned line = 0;
};

}  // namespace

void applyEmulatorSettings(const std::string& text, EmulatorConfig& config, std::vector<std::string>& problems,
                           const std::string& fileName) {
    auto where = [&](unsigned line) {
        return fileName.empty() ? std::string() : fileName + " line " + std::to_string(line) + ": ";
    };
    // Split into pieces at ';' and line ends. A piece without '=' on the
    // same line as an Atari script continues it (its tasks are separated by
    // ';'); elsewhere it is reported, never glued to another value.
    std::vector<Piece> pairs;
    std::string piece;
    unsigned line = 1;
    bool firstOnLine = true;
    auto flush = [&]() {
        const std::string t = trimSetting(piece);
        piece.clear();
        const bool lineStart = firstOnLine;
        firstOnLine = false;
        if (t.empty() || t[0] == '#') {
            return;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos) {
            if (!lineStart && !pairs.empty() && pairs.back().line == line && pairs.back().key == "atari") {
                pairs.back().value += ";" + t;
            } else if (!fileName.empty() && lineStart) {
                problems.push_back(where(line) + "line without '=': \"" + t + "\"");
            } else {
                problems.push_back(where(line) + "setting without '=': \"" + t + "\"");
            }
            return;
        }
        pairs.push_back({trimSetting(t.substr(0, eq)), trimSetting(t.substr(eq + 1)), line});
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
            ++line;
            firstOnLine = true;
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
    for (const auto& p : pairs) {
        const EmulatorSetting* setting = findSetting(p.key);
        if (setting == nullptr) {
            problems.push_back(where(p.line) + "unknown setting \"" + p.key + "\"");
            continue;
        }
        std::string note;
        switch (setting->apply(p.value, config, note)) {
            case SettingResult::taken:
                break;
            case SettingResult::changed:
                problems.push_back(where(p.line) + p.key + "=" + p.value + ": " + note);
                break;
            case SettingResult::refused:
                problems.push_back(where(p.line) + "bad value for " + p.key + ": \"" + p.value + "\"" +
                                   (note.empty() ? "" : " (" + note + ")"));
                break;
        }
    }
}

EmulatorConfig loadEmulatorConfig(const char* envValue, std::vector<std::string>& problems) {
    EmulatorConfig config;
    if (envValue == nullptr || trimSetting(envValue).empty()) {
        return config;
    }
    const std::string value = envValue;
    if (value.find('=') != std::string::npos) {
        applyEmulatorSettings(value, config, problems);
        return config;
    }
    const std::string name = trimSetting(value);
    const std::string quoted = "the settings file \"" + name + "\"";
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    if (std::filesystem::is_directory(status)) {
        problems.push_back(quoted + " is a folder; no settings are read");
        return config;
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // Opening a pipe waits for a writer; a device may never end.
        problems.push_back(quoted + " is not a regular file (a pipe or a device); no settings are read");
        return config;
    }
    std::ifstream file(name, std::ios::binary);
    if (!file) {
        problems.push_back("cannot read the configuration file \"" + name + "\"");
        return config;
    }
    // At most one byte past the limit, so a file that grows meanwhile is
    // still refused without being read to its end.
    std::string text(EMULATOR_SETTINGS_FILE_LIMIT + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > EMULATOR_SETTINGS_FILE_LIMIT) {
        problems.push_back(quoted + " is over " + std::to_string(EMULATOR_SETTINGS_FILE_LIMIT / 1024) +
                           " KB; no settings are read");
        return config;
    }
    applyEmulatorSettings(text, config, problems, name);
    return config;
}

std::string prepareOutputFolder(const std::string& outDir) {
    std::error_code ec;
    const auto status = std::filesystem::status(outDir, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
        return "out=" + outDir + ": it is a file, not a folder; nothing the cartridge receives is saved";
    }
    std::filesystem::create_directories(outDir, ec);
    if (ec || !std::filesystem::is_directory(outDir)) {
        return "out=" + outDir + ": cannot create the folder (" + (ec ? ec.message() : std::string("not a folder")) +
               "); nothing the cartridge receives is saved";
    }
    return "";
}
