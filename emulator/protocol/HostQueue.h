// The bytes the cartridge has for the host, read with FT_Read.
#pragma once

#include <cstdint>
#include <deque>

struct HostQueue {
    std::deque<std::uint8_t> bytes;
    // The last reply answered a pin read: its FT_Read is counted, not logged.
    bool lastWasPins = false;
};
