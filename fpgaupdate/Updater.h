// The updater program after the driver binding: prompt, open, play, time.
#pragma once

#include <cstdio>

#include "CartridgeLink.h"

// Everything `main` does with its bound link. `input` gives the one key
// press; `xsvfName` is the file to play. Always returns 0.
int runUpdater(CartridgeLink& link, std::FILE* input = stdin, const char* xsvfName = "top.xsvf");
