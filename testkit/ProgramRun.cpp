#include "ProgramRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

ProgramResult runProgram(const ProgramRun& run) {
    ProgramResult result;
    const std::string outPath = run.workDir + "/.stdout";
    const std::string errPath = run.workDir + "/.stderr";
    const std::string inPath = run.workDir + "/.stdin";
    {
        std::ofstream in(inPath, std::ios::binary);
        in << run.input;
    }
    // The child's environment: ours, with the loader path and the
    // emulator's settings replaced.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string s = *e;
        if (s.rfind("LD_LIBRARY_PATH=", 0) == 0 || s.rfind("VEXLO_EMULATOR=", 0) == 0) {
            continue;
        }
        env.push_back(s);
    }
    const std::string emptyDir = run.workDir + "/.nolib";
    fs::create_directories(emptyDir);
    env.push_back("LD_LIBRARY_PATH=" + (run.libraryDir.empty() ? emptyDir : run.libraryDir));
    if (!run.emulatorConfig.empty()) {
        env.push_back("VEXLO_EMULATOR=" + run.emulatorConfig);
    }
    std::vector<char*> envp;
    for (auto& s : env) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{run.program};
    argStrings.insert(argStrings.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(run.workDir.c_str()) != 0) {
            _exit(125);
        }
        const int in = open(inPath.c_str(), O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) {
            _exit(125);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);
        execve(run.program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(run.timeoutSeconds);
    bool stopSent = false;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (run.stopSignal != 0 && !stopSent && readFile(outPath).find(run.stopWhenOutputHas) != std::string::npos) {
            kill(pid, run.stopSignal);
            stopSent = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

std::string makeWorkDir(const std::string& name) {
    const fs::path dir = fs::path(E2E_WORK_DIR) / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}

std::string makeTestWorkDir(const std::string& prefix) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return makeWorkDir(prefix + name);
}

ProgramRun emulatedRun(const std::string& program, const std::string& dir, const std::vector<std::string>& args,
                       const std::string& libraryDir, const std::string& emulatorSettings) {
    ProgramRun run;
    run.program = program;
    run.args = args;
    run.workDir = dir;
    run.libraryDir = libraryDir;
    run.emulatorConfig = "out=" + dir + "/out;" + emulatorSettings;
    return run;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    const std::string s = readFile(path);
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) { return fs::exists(path); }

std::vector<std::uint8_t> sampleBytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> v(count);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 11);
    }
    return v;
}

std::string maskTimes(std::string text) {
    const std::string key = "Time to execute ";
    std::size_t at = 0;
    while ((at = text.find(key, at)) != std::string::npos) {
        const std::size_t start = at + key.size();
        std::size_t end = start;
        while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.' ||
                                     text[end] == ' ')) {
            ++end;
        }
        text.replace(start, end - start, "T");
        at = start;
    }
    return text;
}

void UploadSamples::writeTo(const std::string& dir) const {
    writeBytes(dir + "/fw.bin", firmware);
    writeBytes(dir + "/dbg.prg", debugger);
    writeBytes(dir + "/prog.prg", program);
    writeBytes(dir + "/data.bin", data);
}

std::vector<std::uint8_t> programStream(const std::vector<std::uint8_t>& file, const std::string& commands) {
    const std::size_t area = (file.size() / 8192 + 1) * 8192;
    std::vector<std::uint8_t> stream(64 + area + 8128, 0);
    std::copy(commands.begin(), commands.end(), stream.begin());
    std::copy(file.begin(), file.end(), stream.begin() + 64);
    return stream;
}

const std::vector<std::string> UPLOAD_ALL_ARGS = {"-uc",  "fw.bin",   "-dbg", "dbg.prg",  "-prg",
                                                  "prog.prg", "-cmd", "g", "-data", "data.bin"};

void expectUploadsSaved(const std::string& dir, const UploadSamples& samples) {
    const std::vector<std::uint8_t> firmware(samples.firmware.begin(), samples.firmware.begin() + 16384);
    EXPECT_EQ(readBytes(dir + "/out/firmware.bin"), firmware);
    EXPECT_EQ(readBytes(dir + "/out/prg-1.bin"), programStream(samples.debugger, "le:g"));
    EXPECT_EQ(readBytes(dir + "/out/prg-2.bin"), programStream(samples.program, "le:g"));
    EXPECT_EQ(readBytes(dir + "/out/data.bin"), samples.data);
}

