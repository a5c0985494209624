// The Vexlo front end.
#pragma once

#include "CartridgeLink.h"

// Everything after binding: parse, check, open, upload, serve or close.
// Returns the exit status. `link` has been zero-filled and bound by main.
int runVexlo(CartridgeLink& link, int argc, char** argv);
