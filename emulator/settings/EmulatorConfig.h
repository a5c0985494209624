// Settings of the emulated cartridge. The programs themselves have no
// configuration, so the emulator takes all of its settings from one
// environment variable: either key=value pairs separated by ';' or the path
// of a file with one key=value pair per line.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "JtagDefaults.h"

constexpr const char* EMULATOR_ENV_VAR = "VEXLO_EMULATOR";

struct EmulatorConfig {
    // Output folder for uploads, Atari files and the default log.
    std::string outDir = "vexlo-emulator-out";
    // Log file; "" means <outDir>/emulator.log, "none" no log,
    // "stdout"/"stderr" the process's own streams.
    std::string logPath;
    // false: JTAG pin traffic and empty status polls are counted, not
    // logged one by one. true: every driver call gets its own line.
    bool logEveryCall = false;

    // The device.
    bool cartridgePresent = true;
    std::uint32_t openStatus = 0;   // nonzero: FT_OpenEx fails with it
    bool powered = true;
    std::uint8_t powerByte = 1;     // cmdGetPower reply when powered
    std::uint32_t readyAfter = 0;   // cmdPollReady polls left unanswered first
    std::uint8_t readyByte = 1;     // cmdPollReady reply
    std::uint32_t readTimeoutMs = 0;  // simulated wait of a read that comes up short

    // Fault injection. Numbers count from 1 since the library was loaded;
    // the log shows each write's number ("w12") and each reply's
    // ("reply 3").
    std::set<std::uint32_t> failWrites;   // status FT_IO_ERROR, nothing taken
    std::set<std::uint32_t> shortWrites;  // one byte fewer taken than offered
    std::set<std::uint32_t> dropReplies;  // one-byte replies never sent
    std::uint32_t prgStalls = 0;  // writes of the program stream taking no bytes

    // JTAG: "model" or "remote:HOST:PORT" (remote_bitbang).
    std::string jtag = "model";
    std::uint32_t jtagIdcode = JTAG_DEFAULT_IDCODE;  // bit 0 always 1
    unsigned jtagIrLength = JTAG_DEFAULT_IR_LENGTH;  // 2 to 32

    // Atari side: the task script run against the drive image server
    // (empty: no Atari), and the faults of the cartridge's requests.
    bool atariEnabled = false;
    std::string atariTasks;
    std::vector<std::uint8_t> garbage;  // sent before the first request
    bool garbageEveryRequest = false;
    int unknownCommand = -1;            // sent once before the first request
    std::uint32_t requestRetries = 2;   // re-sends of an unanswered request

    bool operator==(const EmulatorConfig&) const = default;
};

// How one value fared: taken as given, taken but changed (a clamped value,
// a forced bit), or refused.
enum class SettingResult { taken, changed, refused };

// One row of the settings table: the key, its default as docs/EMULATOR.md
// shows it, the parser that applies a value (with a note on what it changed
// or why it refused), and a one-line help.
struct EmulatorSetting {
    const char* key;
    const char* defaultValue;
    SettingResult (*apply)(const std::string& value, EmulatorConfig& config, std::string& note);
    const char* help;
};

// Every key the emulator reads, in the order docs/EMULATOR.md lists them.
const std::vector<EmulatorSetting>& emulatorSettings();

// Applies key=value settings from `text` (pairs separated by ';' or line
// ends, '#' starts a comment line). A piece without '=' on the same line
// continues the Atari script, which uses ';' itself; anywhere else it is a
// mistake. Problems, and values that were changed on the way, are appended
// to `problems`; valid settings still apply. With `fileName`, each problem
// names the file and line it comes from.
void applyEmulatorSettings(const std::string& text, EmulatorConfig& config, std::vector<std::string>& problems,
                           const std::string& fileName = "");

// A settings file longer than this is refused, not read: the variable may
// name anything, /dev/zero included.
constexpr std::size_t EMULATOR_SETTINGS_FILE_LIMIT = 64 * 1024;

// Reads the environment variable's value: settings, or a file name. Only a
// regular file of at most EMULATOR_SETTINGS_FILE_LIMIT bytes is read; a
// folder, a pipe or a device is reported and never opened.
EmulatorConfig loadEmulatorConfig(const char* envValue, std::vector<std::string>& problems);

// Creates the output folder (the "out" setting) if need be. Returns "" or
// the problem: it is a file, or it cannot be created.
std::string prepareOutputFolder(const std::string& outDir);
