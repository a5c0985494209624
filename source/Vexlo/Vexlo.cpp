#include "Vexlo.h"

int runVexlo(CartridgeLink&, int, char**) { return -1; }
