#include "Updater.h"

#include <cstring>

#include "Console.h"
#include "PinDriver.h"
#include "XsvfPlayer.h"
#include "platform/Platform.h"

namespace {

const char* const USAGE = "usage: VexloFPGAUpdate [-h | --help | --version | FILE.xsvf]";

void printHelp() {
    consolePrintf(
        "Usage: VexloFPGAUpdate [--batch] [FILE.xsvf]\n"
        "Rewrites the cartridge's FPGA configuration: plays FILE.xsvf (default top.xsvf\n"
        "in the current folder) through the cartridge's JTAG pins, after Return is pressed.\n"
        "  --batch      send the pin commands in few large USB writes and read the TDO\n"
        "               bits of a scan together: the same bytes reach the cartridge in\n"
        "               less time. Not yet tried on a cartridge; without it the proven\n"
        "               way is used. A failed write then ends the run at once (status 7).\n"
        "  -h, --help   show this text\n"
        "  --version    show the version\n"
        "Exit status: 0 after \"Completed FPGA update.\", 1 when the file or the cartridge\n"
        "cannot be opened, 2 for an unknown option, 7 when a --batch write failed, else\n"
        "the player's error code (1 to 6).\n");
}

// A mouse selection in the console must not stall an update halfway.
struct QuickEditOff {
    QuickEditOff() { platform::quickEditOff(); }
    ~QuickEditOff() { platform::restoreConsoleMode(); }
    QuickEditOff(const QuickEditOff&) = delete;
    QuickEditOff& operator=(const QuickEditOff&) = delete;
};

}  // namespace

int updaterMain(CartridgeLink& link, int argc, char** argv, std::FILE* input) {
    const char* xsvfName = "top.xsvf";
    bool named = false;
    bool batch = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (std::strcmp(word, "--batch") == 0) {
            batch = true;
            continue;
        }
        if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0) {
            printHelp();
            return UPDATE_DONE;
        }
        if (std::strcmp(word, "--version") == 0) {
            consolePrintf("VexloFPGAUpdate 1.0\n");
            return UPDATE_DONE;
        }
        if (word[0] == '-') {
            consoleFprintf(stderr, "VexloFPGAUpdate: unknown option \"%s\"; %s\n", word, USAGE);
            return UPDATE_USAGE;
        }
        if (named) {
            consoleFprintf(stderr, "VexloFPGAUpdate: one XSVF file only, not also \"%s\"; %s\n", word, USAGE);
            return UPDATE_USAGE;
        }
        xsvfName = word;
        named = true;
    }
    setPinBatching(batch);
    return runUpdater(link, input, xsvfName);
}

int runUpdater(CartridgeLink& link, std::FILE* input, const char* xsvfName) {
    const QuickEditOff quickEditOff;
    consolePrintf("Vexlo FPGA update version 1.0\n");
    consolePrintf("--------------------------------\n\n");
    consolePrintf("Do not disconnect the cartridge from USB or switch off your Atari!\n\n");
    consolePrintf(
        "If the update hangs you maybe selected a char in the terminal\n"
        "window with the mouse. This forces the update to pause.\n"
        "In this case just press return.\n\n");
    consolePrintf("Press return to continue.");
    consoleFlush();  // the user must see the prompt before we wait
    std::fgetc(input);
    consolePrintf("\n");

    if (link.OpenCartridge() != 0) {
        consoleFprintf(stderr, "Unable to option Vexlo cartridge.\n");
        return UPDATE_CANNOT_OPEN;
    }
    linkPtr = &link;
    // Small transfers and the shortest latency suit the many tiny pin commands.
    link.SetUSBParameters(6400, 6400);
    link.SetLatencyTimer(1);

    xsvfFile = std::fopen(xsvfName, "rb");
    if (xsvfFile == nullptr) {
        consoleFprintf(stderr, "File %s not found\n", xsvfName);
        return UPDATE_CANNOT_OPEN;
    }

    const std::int64_t t0 = platform::clockMs();
    consolePrintf("Erasing prom (15s)\n");
    consoleFlush();
    const int result = playXsvf();
    const std::int64_t t1 = platform::clockMs();
    consolePrintf("Time to execute %3.2f\n", (static_cast<double>(t1) - static_cast<double>(t0)) / 1000.0);
    if (pinLinkLost())
        return UPDATE_LINK_LOST;
    if (result == ERR_NONE && xsvfScanCount == 0) {
        // XSVF allows it, but a file of zero bytes is more likely a broken
        // download than an update.
        consoleFlush();
        consoleFprintf(stderr, "VexloFPGAUpdate: warning: %s held no scan; the FPGA and its PROM were not changed\n",
                       xsvfName);
    }
    return result;
}
