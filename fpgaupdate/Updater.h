// The updater program after the driver binding: prompt, open, play, time.
#pragma once

#include <cstdio>

#include "CartridgeLink.h"

// Exit statuses besides the player's error codes (1 to 6).
constexpr int UPDATE_DONE = 0;          // "Completed FPGA update." was printed
constexpr int UPDATE_CANNOT_OPEN = 1;   // the XSVF file or the cartridge cannot be opened
constexpr int UPDATE_USAGE = 2;         // an unknown option, before anything is opened
constexpr int UPDATE_LINK_LOST = 7;     // --batch: a write to the cartridge failed or was short

// `main` with its bound link: the command line (an optional XSVF file name,
// --batch, -h/--help, --version), then runUpdater. Returns the exit status.
int updaterMain(CartridgeLink& link, int argc, char** argv, std::FILE* input = stdin);

// Everything the run does with its bound link. `input` gives the one key
// press; `xsvfName` is the file to play. Returns UPDATE_DONE,
// UPDATE_CANNOT_OPEN, UPDATE_LINK_LOST or the player's error code.
int runUpdater(CartridgeLink& link, std::FILE* input = stdin, const char* xsvfName = "top.xsvf");
