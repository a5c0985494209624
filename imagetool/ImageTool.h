// The vexlo-image program: create, info, ls and get.
#pragma once

// Returns the exit status: 0 done, 1 failed (a clear message says why),
// 2 wrong usage.
int runImageTool(int argc, char** argv);
