#include "Console.h"
#include "Updater.h"

namespace {

CartridgeLink bindLink() {
    // The console streams may not be set up yet this early: a binding error
    // must still reach the terminal.
    if (consoleOut == nullptr) {
        consoleOut = stdout;
    }
    if (consoleErr == nullptr) {
        consoleErr = stderr;
    }
    CartridgeLink link{};
    link.BindDriver();
    link.opened = 0;
    return link;
}

// The program's one link, bound before main runs; never closed.
CartridgeLink cartridge = bindLink();

}  // namespace

int main() { return runUpdater(cartridge); }
