#include "Vexlo.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "AtariImage.h"
#include "CartridgeCommands.h"
#include "Convert.h"
#include "Console.h"
#include "Uploader.h"
#include "VexloServer.h"
#include "platform/Platform.h"

namespace {

constexpr const char* VERSION = "0.51";
// Option values used to live in buffers of this size; longer ones are refused
// rather than cut, since a cut path could name a different file.
constexpr std::size_t VALUE_LIMIT = 2048;
constexpr std::size_t COMMAND_CHARS = 60;  // of -cmd, behind "le:"
// Exit status of a run whose uploads were not made: the cartridge is off.
constexpr int SWITCHED_OFF = -6;

struct Options {
    std::string prg;
    std::string dbg;
    std::string cmd;
    std::string uc;
    std::string data;
    std::string drvimg;
};

void printHelp() {
    consolePrintf("\n\nVexlo help: (version %s %s %s)\n", VERSION, __DATE__, __TIME__);
    consolePrintf("-------------------------------------------------------\n\n");
    consolePrintf("-prg [path]\n Start Prg-file.\n\n");
    consolePrintf("-dbg [path]\n Bugaboo path. If given bugaboo is started before.\n\n");
    consolePrintf(
        "-cmd [Bugaboo commands]\n Bugaboo commands which are executed after loading. -cmd g starts the prg "
        "directly after loading. The commands are separated by :\n\n");
    consolePrintf("-uc [path]\n Upload cartridge (68k firmware).\n\n");
    consolePrintf(
        "-data [path]\n Send data of max 16kb to the cartridge. This can be used to send data after a prg is "
        "started. The 16kb is visable from $fa8000-$fabfff.\n\n");
    consolePrintf("-drvimg [path]\n Starts the drive image server with the given drive image.\n\n");
}

enum class Parse { ok, error, tooLong, help, version };

// A malformed command line still ends with -1 and nothing on standard
// output; this line on standard error says which word was wrong.
void parseError(const char* what) {
    consoleFprintf(stderr, "Vexlo: %s; run Vexlo without arguments to see the help.\n", what);
}

void warning(const std::string& line) { consoleFprintf(stderr, "%s\n", line.c_str()); }

Parse parseOptions(int argc, char** argv, Options& options) {
    struct Name {
        const char* option;
        std::string Options::*value;
    };
    static const Name names[] = {
        {"-prg", &Options::prg}, {"-dbg", &Options::dbg},   {"-uc", &Options::uc},
        {"-cmd", &Options::cmd}, {"-data", &Options::data}, {"-drvimg", &Options::drvimg},
    };
    bool given[std::size(names)] = {};
    for (int i = 1; i < argc; i += 2) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help") {
            return Parse::help;
        }
        if (word == "--version") {
            return Parse::version;
        }
        if (word.empty() || word[0] != '-') {
            parseError(("\"" + word + "\" is not an option").c_str());
            return Parse::error;
        }
        const Name* match = nullptr;
        for (const Name& name : names) {
            if (word == name.option) {
                match = &name;
            }
        }
        if (match == nullptr) {
            parseError(("unknown option \"" + word + "\"").c_str());
            return Parse::error;
        }
        if (i + 1 >= argc) {
            parseError(("option " + word + " needs a value").c_str());
            return Parse::error;
        }
        if (argv[i + 1][0] == '-') {
            parseError(("option " + word + " needs a value, not \"" + argv[i + 1] + "\"").c_str());
            return Parse::error;
        }
        if (std::strlen(argv[i + 1]) >= VALUE_LIMIT) {
            const std::string message = word + " value too long.";
            LOCATED_ERROR(message.c_str());
            return Parse::tooLong;
        }
        // Both are accepted as they always were, but rarely meant: an empty
        // value is often an unset variable of a script.
        bool& seen = given[match - names];
        if (seen) {
            warning("Warning: " + word + " is given again; its earlier value \"" + options.*match->value +
                    "\" is dropped.");
        }
        seen = true;
        if (argv[i + 1][0] == '\0') {
            warning("Warning: the " + word + " value is empty; the option counts as not given.");
        }
        options.*match->value = argv[i + 1];
    }
    return Parse::ok;
}

// Why `path` cannot be uploaded or served, or "" when it can. A folder or a
// named pipe counts as not found: Windows refuses to open a folder, elsewhere
// it opens but reads as nothing and would go to the cartridge as zeros;
// opening a pipe would wait for a writer without end.
std::string unreadableReason(const std::string& path) {
#if !defined(_WIN32)
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return "it is a folder, not a file";
        }
        if (S_ISFIFO(info.st_mode)) {
            return "it is a named pipe, not a file";
        }
    }
#endif
    errno = 0;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        const int why = errno;
        if (why == ENOENT) {
            return "it does not exist";
        }
        return std::string("it cannot be read (") + (why != 0 ? std::strerror(why) : "unknown reason") + ")";
    }
    std::fclose(file);
    return std::string();
}

// The located error the path check has always printed, then the file and the
// reason on a line of their own. True when the file can be read.
bool checkPath(const char* option, const std::string& path) {
    const std::string reason = unreadableReason(path);
    if (reason.empty()) {
        return true;
    }
    locatedError((std::string(option) + " path not found.").c_str(), __FILE__, __LINE__);
    warning(std::string("Vexlo: ") + option + " \"" + path + "\": " + reason + ".");
    return false;
}

// cmdGetPower answered with a nonzero byte.
bool cartridgePowered(CartridgeLink& link) {
    if (!link.WriteHeader(cmdGetPower)) {
        return false;
    }
    std::uint8_t reply = 0;
    DWORD got = 0;
    return link.Read(&reply, 1, &got).ok() && got == 1 && reply != 0;
}

}  // namespace

int runVexlo(CartridgeLink& link, int argc, char** argv) {
    Uploader uploader(&link);
    Options options;
    int result = 1;

    if (argc < 2) {
        printHelp();
        return -1;
    }
    switch (parseOptions(argc, argv, options)) {
    case Parse::ok:
        break;
    case Parse::help:
        printHelp();
        return 0;
    case Parse::version:
        consolePrintf("Vexlo %s\n", VERSION);
        return 0;
    case Parse::error:
    case Parse::tooLong:
        return -1;
    }

    bool parseError = false;
    const std::pair<const char*, const std::string*> uploads[] = {
        {"-prg", &options.prg}, {"-dbg", &options.dbg}, {"-uc", &options.uc}, {"-data", &options.data}};
    for (const auto& [option, path] : uploads) {
        if (!path->empty() && !checkPath(option, *path)) {
            parseError = true;
        }
    }
    // A folder is served as an image built in memory, as vexlo-image create makes it.
    std::unique_ptr<std::uint8_t[]> folderWindow;
    if (!options.drvimg.empty() && atari::isFolder(options.drvimg)) {
        std::string summary;
        std::string why;
        folderWindow = atari::windowFromFolder(options.drvimg, summary, why);
        if (!folderWindow) {
            LOCATED_ERROR(("-drvimg folder cannot be served: " + why).c_str());
            return -1;
        }
        consolePrintf("%s\n", summary.c_str());
    } else if (!options.drvimg.empty() && !checkPath("-drvimg", options.drvimg)) {
        return -1;
    } else if (!options.drvimg.empty()) {
        // Served as it is (the server refuses it); the line says how to make it servable.
        const std::string note = atari::plainLayoutNote(options.drvimg);
        if (!note.empty()) warning(note);
    }
    if (parseError) {
        return -1;
    }
    if (options.uc.empty() && options.dbg.empty() && options.prg.empty() && options.data.empty() &&
        options.drvimg.empty()) {
        consolePrintf("Nothing to do.\n");
        return 0;
    }

    if (link.OpenCartridge() != 0) {
        LOCATED_ERROR("Failed to open Vexlo cartridge.");
        return -1;
    }

    if (!cartridgePowered(link)) {
        // The server waits for the cartridge; without it, no upload asked
        // for was made, which is a failure of its own.
        consolePrintf(
            "-----------------------------------\nFYI: the cartridge is switched off!\n"
            "-----------------------------------\n\n\n");
        if (options.drvimg.empty()) {
            warning("Vexlo: nothing was uploaded: switch the cartridge on and run again.");
            result = SWITCHED_OFF;
        }
    } else {
        WaitAck(link);
        WaitAck(link);

        if (!options.uc.empty()) {
            result = uploader.UploadFile(options.uc.c_str(), cmdUploadFirmware);
        }
        if (!options.dbg.empty() || !options.prg.empty()) {
            link.WriteHeader(cmdPrepareLoad);  // outcome not examined
            WaitAck(link);
        }

        std::memset(uploader.commands, 0, sizeof uploader.commands);
        std::memcpy(uploader.commands, "le:", 3);
        std::strncpy(uploader.commands + 3, options.cmd.c_str(), COMMAND_CHARS);
        if (options.cmd.size() > COMMAND_CHARS) {
            consoleFprintf(stderr, "Warning: the -cmd value is %lu characters long; only its first %lu are sent.\n",
                           static_cast<unsigned long>(options.cmd.size()), static_cast<unsigned long>(COMMAND_CHARS));
        }

        const std::int64_t start = platform::clockMs();
        if (result == 1 && !options.dbg.empty()) {
            result = uploader.UploadPrgFile(options.dbg.c_str());
        }
        if (result == 1 && !options.prg.empty()) {
            result = uploader.UploadPrgFile(options.prg.c_str());
        }
        if (result == 1 && !options.data.empty()) {
            result = uploader.UploadFile(options.data.c_str(), cmdUploadData);
        }
        const std::int64_t end = platform::clockMs();
        consolePrintf("Time to execute %3.2f\n\n", static_cast<double>(end - start) / 1000.0);
    }

    if (!options.drvimg.empty()) {
        VexloServer server(&link, &uploader);
        result = server.Serve(options.drvimg.c_str(), std::move(folderWindow));
    }

    link.Close();
    return result == 1 ? 0 : result;
}
