#include <cstring>

#include "Vexlo.h"

int main(int argc, char** argv) {
    CartridgeLink link;
    std::memset(&link, 0, sizeof link);
    link.BindDriver();
    link.opened = 0;
    return runVexlo(link, argc, argv);
}
