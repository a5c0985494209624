#include "Updater.h"

namespace {

CartridgeLink bindLink() {
    CartridgeLink link{};
    link.BindDriver();
    link.opened = 0;
    return link;
}

// The program's one link, bound before main runs; never closed.
CartridgeLink cartridge = bindLink();

}  // namespace

int main(int argc, char** argv) { return updaterMain(cartridge, argc, argv); }
