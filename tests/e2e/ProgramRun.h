// Runs a real program as a child process, as a user would: its own working
// folder, an environment that points the driver loader at the emulator (or
// at nothing), standard input from a text, standard output and error
// captured apart. A run that does not end in time is killed and reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramRun {
    std::string program;
    std::vector<std::string> args;
    std::string workDir;
    // Folder with the driver library; "" leaves the loader nothing to find.
    std::string libraryDir;
    // Value of VEXLO_EMULATOR; unset when empty.
    std::string emulatorConfig;
    std::string input;
    int timeoutSeconds = 60;
    // Sent once standard output holds `stopWhenOutputHas`, as a user stops
    // a program that runs until stopped (0: none).
    int stopSignal = 0;
    std::string stopWhenOutputHas;
};

struct ProgramResult {
    int status = -1000;  // exit status, as the shell sees it (0-255)
    bool timedOut = false;
    int signal = 0;
    std::string out;
    std::string err;
};

ProgramResult runProgram(const ProgramRun& run);

// A new empty folder below the test build folder.
std::string makeWorkDir(const std::string& name);
std::string readFile(const std::string& path);
std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool fileExists(const std::string& path);
// Deterministic filler bytes for sample files.
std::vector<std::uint8_t> sampleBytes(std::size_t count, std::uint32_t seed);
// "Time to execute 0.20" -> "Time to execute T": run times vary.
std::string maskTimes(std::string text);
