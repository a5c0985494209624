// The Vexlo front end on hostile command lines. The input's first byte sets
// how the fake cartridge behaves; the rest are the argument words, separated
// by NUL bytes. The run happens in a private folder holding a few files
// (programs, firmware, data, a drive image, a bad image, an empty file), a
// folder, a named pipe and a link to /dev/zero; words with a '/' are skipped
// so that no run reaches outside it.
//
// The fake cartridge answers every acknowledgement wait and the power check,
// and checks what it is sent: only known commands, and uploads whose bytes are
// the file's own followed by zeros (never leftover memory). With -drvimg the
// server gets one sector request; when that is answered the cartridge falls
// silent and the run ends there. The folder is served as an image built from it.
//
// Mode byte:
//   bit 0: the cartridge cannot be opened
//   bit 1: the cartridge is switched off (power reply 0)
//   bit 2: every third body write of a program upload stalls (0 bytes taken)
//   bit 3: every second read returns nothing (acknowledgements come late)
//   bit 4: program body writes take half of what they are given
//   bit 5: the firmware write takes one byte less than given
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CartridgeCommands.h"
#include "AhdiRoot.h"
#include "FuzzSupport.h"
#include "TempFolder.h"
#include "Vexlo.h"

namespace {

constexpr std::size_t MAX_WORDS = 24;
constexpr std::uint64_t CALL_LIMIT = 200000;  // a run needs a few hundred
constexpr std::size_t WINDOW_BYTES = 16384;
constexpr std::size_t BLOCK_BYTES = 8192;

struct SandboxFile {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

std::vector<SandboxFile> g_files;
TempFolder* g_sandboxFolder = nullptr;  // removed at exit
std::string g_sandbox;
int g_startFolder = -1;  // libFuzzer's own paths are relative to it

enum class Body { none, firmware, dataLength, data, programCount, program };

struct Cartridge {
    std::uint8_t mode = 0;
    std::uint64_t calls = 0;
    std::uint8_t lastCommand = 0;
    Body body = Body::none;
    std::uint32_t dataLength = 0;
    std::vector<std::uint8_t> program;  // bytes taken so far
    std::size_t programBytes = 0;       // bytes the block count announces
    unsigned bodyWrites = 0;
    unsigned reads = 0;
    bool serving = false;
    bool servesFolder = false;  // -drvimg names the folder d
    std::vector<std::uint8_t> serveStream;
    std::size_t servePos = 0;
};

Cartridge g_cart;

void count() {
    if (++g_cart.calls > CALL_LIMIT) {
        fuzz::fault("the front end keeps calling the driver: endless loop");
    }
}

// True when `bytes` are the start of some file in the folder, then zeros.
bool isPaddedFile(const std::uint8_t* bytes, std::size_t size) {
    for (const SandboxFile& file : g_files) {
        const std::size_t n = std::min(size, file.bytes.size());
        if ((n == 0 || std::memcmp(bytes, file.bytes.data(), n) == 0) &&
            std::all_of(bytes + n, bytes + size, [](std::uint8_t b) { return b == 0; })) {
            return true;
        }
    }
    return false;
}

void checkProgram() {
    const std::vector<std::uint8_t>& p = g_cart.program;
    FUZZ_CHECK(p.size() == g_cart.programBytes);
    // Header: "le:" and at most 60 characters of -cmd, zero-padded, byte 63 zero.
    FUZZ_CHECK(std::memcmp(p.data(), "le:", 3) == 0);
    const auto end = std::find(p.begin(), p.begin() + 64, std::uint8_t{0});
    FUZZ_CHECK(end - p.begin() <= 63);
    FUZZ_CHECK(std::all_of(end, p.begin() + 64, [](std::uint8_t b) { return b == 0; }));
    FUZZ_CHECK(isPaddedFile(p.data() + 64, p.size() - 64));
}

FT_STATUS FT_API cartOpenEx(void*, DWORD, FT_HANDLE* handle) {
    count();
    if (g_cart.mode & 1) {
        return FT_DEVICE_NOT_FOUND;
    }
    *handle = reinterpret_cast<FT_HANDLE>(std::uintptr_t{1});
    return FT_OK;
}

FT_STATUS FT_API cartWrite(FT_HANDLE, void* buffer, DWORD size, DWORD* written) {
    count();
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    *written = size;
    switch (g_cart.body) {
        case Body::firmware:
            FUZZ_CHECK(size == WINDOW_BYTES);
            FUZZ_CHECK(isPaddedFile(bytes, size));
            g_cart.body = Body::none;
            if (g_cart.mode & 0x20) {
                *written = size - 1;
            }
            return FT_OK;
        case Body::dataLength:
            FUZZ_CHECK(size == 2);
            g_cart.dataLength = bytes[0] | bytes[1] << 8;
            FUZZ_CHECK(g_cart.dataLength <= WINDOW_BYTES);
            g_cart.body = Body::data;
            return FT_OK;
        case Body::data:
            // The data and the byte behind it, which must be zero.
            FUZZ_CHECK(size == g_cart.dataLength + 1);
            FUZZ_CHECK(bytes[g_cart.dataLength] == 0);
            FUZZ_CHECK(isPaddedFile(bytes, g_cart.dataLength));
            g_cart.body = Body::none;
            return FT_OK;
        case Body::programCount:
            FUZZ_CHECK(size == 2);
            g_cart.programBytes = (std::size_t(bytes[0] | bytes[1] << 8) + 1) * BLOCK_BYTES;
            g_cart.program.clear();
            g_cart.body = Body::program;
            return FT_OK;
        case Body::program: {
            FUZZ_CHECK(g_cart.program.size() + size <= g_cart.programBytes);
            ++g_cart.bodyWrites;
            DWORD taken = size;
            if ((g_cart.mode & 4) && g_cart.bodyWrites % 3 == 0) {
                taken = 0;
            } else if (g_cart.mode & 0x10) {
                taken = std::max<DWORD>(1, size / 2);
            }
            g_cart.program.insert(g_cart.program.end(), bytes, bytes + taken);
            *written = taken;
            if (g_cart.program.size() == g_cart.programBytes) {
                checkProgram();
                g_cart.body = Body::none;
            }
            return FT_OK;
        }
        case Body::none:
            break;
    }
    if (g_cart.serving) {
        // The reply to the one request: sector 0 of the partition, the boot sector.
        FUZZ_CHECK(size == 512 + SECTOR_REPLY_OVERHEAD);
        FUZZ_CHECK(bytes[0] == SYNC1 && bytes[1] == SYNC2 && bytes[2] == cmdUploadData && bytes[3] == 0 &&
                   bytes[4] == 2);
        // The image file's boot sector is known; a folder's is built by the
        // image code, whose own tests check it.
        if (!g_cart.servesFolder) {
            for (std::size_t i = 0; i < 512; ++i) {
                FUZZ_CHECK(bytes[SECTOR_REPLY_HEAD + i] == (i == 12 ? 2 : 0));
            }
        }
        return FT_OK;
    }
    // Otherwise only command headers go out.
    FUZZ_CHECK(size == 3 && bytes[0] == SYNC1 && bytes[1] == SYNC2);
    const std::uint8_t command = bytes[2];
    FUZZ_CHECK(command == cmdGetPower || command == cmdPollReady || command == cmdPrepareLoad ||
               command == cmdUploadFirmware || command == cmdUploadData || command == cmdUploadPrg);
    g_cart.lastCommand = command;
    if (command == cmdUploadFirmware) {
        g_cart.body = Body::firmware;
    } else if (command == cmdUploadData) {
        g_cart.body = Body::dataLength;
    } else if (command == cmdUploadPrg) {
        g_cart.body = Body::programCount;
        g_cart.bodyWrites = 0;
    }
    return FT_OK;
}

FT_STATUS FT_API cartRead(FT_HANDLE, void* buffer, DWORD size, DWORD* got) {
    count();
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (g_cart.serving) {
        const DWORD n = DWORD(std::min<std::size_t>(size, g_cart.serveStream.size() - g_cart.servePos));
        std::memcpy(out, g_cart.serveStream.data() + g_cart.servePos, n);
        g_cart.servePos += n;
        *got = n;
        return FT_OK;
    }
    FUZZ_CHECK(size == 1);
    if ((g_cart.mode & 8) && ++g_cart.reads % 2 == 0) {
        *got = 0;
        return FT_OK;
    }
    out[0] = g_cart.lastCommand == cmdGetPower && (g_cart.mode & 2) ? 0 : 1;
    *got = 1;
    return FT_OK;
}

FT_STATUS FT_API cartStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
    count();
    if (!g_cart.serving) {
        // The server has started: one sector request, then silence.
        g_cart.serving = true;
        const std::uint8_t request[] = {SYNC1, SYNC2, cmdReadSector, 0, 0, 1};
        g_cart.serveStream.assign(request, request + sizeof request);
    }
    *tx = 0;
    *events = 0;
    *rx = DWORD(g_cart.serveStream.size() - g_cart.servePos);
    if (*rx == 0) {
        throw fuzz::StopRun{};
    }
    return FT_OK;
}

std::vector<std::uint8_t> patternFile(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = std::uint8_t((i * 131 + seed) ^ (i >> 8));
    }
    return bytes;
}

void writeSandboxFile(const SandboxFile& file) {
    std::FILE* f = std::fopen(file.name, "wb");
    if (f == nullptr || std::fwrite(file.bytes.data(), 1, file.bytes.size(), f) != file.bytes.size() ||
        std::fclose(f) != 0) {
        fuzz::fault("cannot write a file of the test folder");
    }
}

// A drive image the server loads, in 1024 bytes: the root sector names
// partition 0 from sector 1, so the boot sector is the file's second sector.
std::vector<std::uint8_t> imageBytes() {
    std::vector<std::uint8_t> image(1024, 0);
    ahdi::RootSector root;
    root.partitionStart = 1;
    ahdi::writeRootSector(image.data(), root);
    image[512 + 12] = 2;  // 512 bytes per sector
    return image;
}

void removeSandbox() {
    delete g_sandboxFolder;
    g_sandboxFolder = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceConsole();
    fuzz::installClock(1);
    g_startFolder = ::open(".", O_RDONLY | O_DIRECTORY);
    g_sandboxFolder = new TempFolder("vexlo-fuzz-args");
    g_sandbox = g_sandboxFolder->path().string();
    if (g_startFolder < 0 || ::chdir(g_sandbox.c_str()) != 0) {
        fuzz::fault("cannot make the test folder");
    }
    g_files = {
        {"p", patternFile(100, 1)},    {"P", patternFile(20000, 2)}, {"e", {}},
        {"f", patternFile(16384, 3)},  {"g", patternFile(20000, 4)}, {"b", patternFile(512, 5)},
        {"s", patternFile(8192, 6)},   {"i", imageBytes()},
    };
    for (const SandboxFile& file : g_files) {
        writeSandboxFile(file);
    }
    // A folder, a named pipe (opening it would wait for a writer) and an
    // endless device that reads as zeros.
    if (::mkdir("d", 0700) != 0 || ::mkfifo("q", 0600) != 0 || ::symlink("/dev/zero", "z") != 0) {
        fuzz::fault("cannot make the special files of the test folder");
    }
    std::atexit(removeSandbox);
    if (::fchdir(g_startFolder) != 0) {
        fuzz::fault("cannot return to the start folder");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::vector<std::string> words{"Vexlo"};
    std::size_t start = 1;
    for (std::size_t i = 1; i <= size && words.size() <= MAX_WORDS; ++i) {
        if (i == size || data[i] == 0) {
            if (i > start || i < size) {
                words.emplace_back(reinterpret_cast<const char*>(data + start), i - start);
            }
            start = i + 1;
        }
    }
    for (const std::string& word : words) {
        if (word.find('/') != std::string::npos) {
            return 0;
        }
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    g_cart = Cartridge{};
    g_cart.mode = data[0];
    // The last -drvimg value is the one served.
    for (std::size_t i = 1; i + 1 < words.size(); ++i) {
        if (words[i] == "-drvimg") {
            g_cart.servesFolder = words[i + 1] == "d";
        }
    }
    CartridgeLink link;
    std::memset(&link, 0, sizeof link);
    fuzz::installQuietDriver(link);
    link.FT_OpenEx = cartOpenEx;
    link.FT_Write = cartWrite;
    link.FT_Read = cartRead;
    link.FT_GetStatus = cartStatus;
    link.opened = 0;

    int result = 1;
    bool served = false;
    if (::chdir(g_sandbox.c_str()) != 0) {
        fuzz::fault("cannot enter the test folder");
    }
    try {
        result = runVexlo(link, int(words.size()), argv.data());
    } catch (const fuzz::StopRun&) {
        served = true;
    }
    if (::fchdir(g_startFolder) != 0) {
        fuzz::fault("cannot return to the start folder");
    }
    if (!served) {
        // -5: the image cannot be served; -6: switched off, nothing uploaded.
        FUZZ_CHECK(result == 0 || result == -1 || result == -2 || result == -3 || result == -4 || result == -5 ||
                   result == -6);
        FUZZ_CHECK(result != -6 || (g_cart.mode & 2));
    }
    // Every upload that started was sent whole.
    FUZZ_CHECK(g_cart.body == Body::none || g_cart.body == Body::dataLength);
    return 0;
}
