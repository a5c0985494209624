// Settings of the emulated cartridge. The programs themselves have no
// configuration, so the emulator takes all of its settings from one
// environment variable: either key=value pairs separated by ';' or the path
// of a file with one key=value pair per line.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

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
    std::uint32_t jtagIdcode = 0;   // 0: the model's default
    unsigned jtagIrLength = 0;      // 0: the model's default

    // Atari side: the task script run against the drive image server
    // (empty: no Atari), and the faults of the cartridge's requests.
    bool atariEnabled = false;
    std::string atariTasks;
    std::vector<std::uint8_t> garbage;  // sent before the first request
    bool garbageEveryRequest = false;
    int unknownCommand = -1;            // sent once before the first request
    std::uint32_t requestRetries = 2;   // re-sends of an unanswered request
};

// Applies key=value settings from `text` (pairs separated by ';' or line
// ends, '#' starts a comment line). A piece without '=' continues the
// previous value, so Atari scripts may use ';' themselves. Problems are
// appended to `problems`; valid settings still apply.
void applyEmulatorSettings(const std::string& text, EmulatorConfig& config, std::vector<std::string>& problems);

// Reads the environment variable's value: settings, or a file name.
EmulatorConfig loadEmulatorConfig(const char* envValue, std::vector<std::string>& problems);
