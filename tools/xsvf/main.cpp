// vexlo-xsvf: lists an XSVF file as text (line N = command N, as the updater's
// error line counts them), assembles that text back, and clears TDO masks.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "XsvfText.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Set by the build: the name it is built and installed as.
const char* const NAME = VEXLO_PROGRAM_NAME;

void usage(std::FILE* to = stderr) {
    static const char* const lines[] = {
        " list FILE.xsvf [OUT.txt]      print the file as text, one command per line",
        " build IN.txt OUT.xsvf         assemble the text form back into XSVF",
        " zero-masks IN.xsvf OUT.xsvf   copy the file with every XTDOMASK set to 0",
        " -h | --help                   this text",
        " --version                     its name and version",
    };
    std::fputs("Usage:\n", to);
    for (const char* line : lines) {
        std::fprintf(to, "  %s%s\n", NAME, line);
    }
}

bool readFile(const char* path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s\n", NAME, path);
        return false;
    }
    bytes.clear();
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok) {
        std::fprintf(stderr, "%s: cannot read %s\n", NAME, path);
    }
    return ok;
}

bool writeFile(const char* path, const void* data, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot create %s\n", NAME, path);
        return false;
    }
    const bool ok = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "%s: cannot write %s\n", NAME, path);
        return false;
    }
    return true;
}

int list(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        usage();
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    if (!readFile(argv[2], bytes)) {
        return 1;
    }
    const std::string text = disassembleXsvf(bytes);
    if (argc == 4) {
        return writeFile(argv[3], text.data(), text.size()) ? 0 : 1;
    }
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
}

int build(int argc, char** argv) {
    if (argc != 4) {
        usage();
        return 2;
    }
    std::vector<std::uint8_t> raw;
    if (!readFile(argv[2], raw)) {
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!assembleXsvf(std::string(raw.begin(), raw.end()), bytes, error)) {
        std::fprintf(stderr, "%s: %s: %s\n", NAME, argv[2], error.c_str());
        return 1;
    }
    return writeFile(argv[3], bytes.data(), bytes.size()) ? 0 : 1;
}

int zeroMasks(int argc, char** argv) {
    if (argc != 4) {
        usage();
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    if (!readFile(argv[2], bytes)) {
        return 1;
    }
    const std::size_t masks = zeroXsvfTdoMasks(bytes);
    if (!writeFile(argv[3], bytes.data(), bytes.size())) {
        return 1;
    }
    std::fprintf(stderr, "%s: %lu XTDOMASK commands cleared\n", NAME, static_cast<unsigned long>(masks));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // A listing on standard output is the same text as in OUT.txt, lines
    // ending in "\n" alone, which text mode would turn into "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", NAME, VEXLO_VERSION);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "list") == 0) {
        return list(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "build") == 0) {
        return build(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "zero-masks") == 0) {
        return zeroMasks(argc, argv);
    }
    if (argc >= 2) {
        std::fprintf(stderr, "%s: unknown command \"%s\"\n", NAME, argv[1]);
    }
    usage();
    return 2;
}
