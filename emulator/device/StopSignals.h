// A run stopped from outside still leaves its summary and counts behind:
// `Vexlo -drvimg` serves until Ctrl-C or SIGTERM ends it (on Windows, the
// console's Ctrl-C, Ctrl-Break and close events). The signal handler only
// wakes a watcher thread; the watcher waits until no driver call is in
// progress, has the cartridge write its summary, and then ends the process
// as the signal would have (killed by it; on Windows, the console's
// Ctrl-C exit status).
#pragma once

// Serves `owner` from now on (the latest owner wins); installs the handlers
// on the first call. A signal the process ignores stays ignored.
void watchForStop(void* owner, void (*writeSummary)(void* owner));
// `owner` goes away; waits while its summary is being written.
void unwatchForStop(void* owner);

// Held for the length of each driver call, so the summary is never written
// in the middle of one.
class DriverCallScope {
public:
    DriverCallScope();
    ~DriverCallScope();
    DriverCallScope(const DriverCallScope&) = delete;
    DriverCallScope& operator=(const DriverCallScope&) = delete;
};
