#include "Updater.h"

#include "Console.h"
#include "PinDriver.h"
#include "XsvfPlayer.h"
#include "platform/Platform.h"

int runUpdater(CartridgeLink& link, std::FILE* input, const char* xsvfName) {
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
        return 0;
    }
    linkPtr = &link;
    // Small transfers and the shortest latency suit the many tiny pin commands.
    link.SetUSBParameters(6400, 6400);
    link.SetLatencyTimer(1);

    xsvfFile = std::fopen(xsvfName, "rb");
    if (xsvfFile == nullptr) {
        consoleFprintf(stderr, "File top.xsvf not found\n");
        return 0;
    }

    const std::int64_t t0 = platform::clockMs();
    consolePrintf("Erasing prom (15s)\n");
    consoleFlush();
    playXsvf();
    const std::int64_t t1 = platform::clockMs();
    consolePrintf("Time to execute %3.2f\n", (static_cast<double>(t1) - static_cast<double>(t0)) / 1000.0);
    return 0;
}
