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
// makeWorkDir named after the running test ('/' of a parameterised case
// made '_'), after `prefix`.
std::string makeTestWorkDir(const std::string& prefix = "");
// A run of `program` in `dir` against the driver library in `libraryDir`,
// the emulator writing below dir/out with `emulatorSettings` after that.
ProgramRun emulatedRun(const std::string& program, const std::string& dir, const std::vector<std::string>& args,
                       const std::string& libraryDir, const std::string& emulatorSettings);
std::string readFile(const std::string& path);
std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool fileExists(const std::string& path);
// Deterministic filler bytes for sample files.
std::vector<std::uint8_t> sampleBytes(std::size_t count, std::uint32_t seed);
// "Time to execute 0.20" -> "Time to execute T": run times vary.
std::string maskTimes(std::string text);

// The sample files of an upload run: fw.bin, dbg.prg, prog.prg, data.bin.
// The firmware is longer than the cartridge's 16384 bytes.
struct UploadSamples {
    std::vector<std::uint8_t> firmware = sampleBytes(20000, 1);
    std::vector<std::uint8_t> debugger = sampleBytes(3000, 2);
    std::vector<std::uint8_t> program;
    std::vector<std::uint8_t> data = sampleBytes(100, 4);

    explicit UploadSamples(std::size_t programSize = 10000) : program(sampleBytes(programSize, 3)) {}
    void writeTo(const std::string& dir) const;
};

// What Vexlo says of the sample firmware, cut to the cartridge's 16384 bytes.
inline constexpr const char* FIRMWARE_CUT =
    "Warning: fw.bin is 20000 bytes long; only its first 16384 bytes are sent.\n";

// What the cartridge must receive after the block count of cmdUploadPrg:
// the 64-byte header with the command string, the file padded to whole
// blocks (always at least one byte of padding), and 8128 zero bytes.
std::vector<std::uint8_t> programStream(const std::vector<std::uint8_t>& file, const std::string& commands);

// Vexlo's arguments that upload all four samples (the program's command
// string "g"), and what it prints for them (times masked).
extern const std::vector<std::string> UPLOAD_ALL_ARGS;
inline constexpr const char* UPLOAD_ALL_OUTPUT =
    "Uploading firmare fw.bin.\nUploading prg-file dbg.prg.\nUploading prg-file prog.prg.\n"
    "Uploading data data.bin.\nTime to execute T\n\n";
// Checks what the emulated cartridge saved below dir/out of such a run:
// the firmware cut to 16384 bytes, both program streams, the data.
void expectUploadsSaved(const std::string& dir, const UploadSamples& samples);

