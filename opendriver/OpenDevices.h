// An open device as its handle names it, and the list of open devices:
// shared by the files that open devices (Discovery.cpp), move their bytes
// (Transfers.cpp) and set them up (Settings.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "D2xxApi.h"

namespace d2xx {

struct Device {
    const Wire* wire = nullptr;
    WirePort* port = nullptr;
    std::vector<std::uint8_t> rx;  // received, not yet read: rx[rxHead..]
    std::size_t rxHead = 0;
    std::vector<std::uint8_t> chunk;  // one bulk IN transfer
    ULONG readTimeoutMs = 0;          // 0: wait for ever, as D2XX
    ULONG writeTimeoutMs = 0;
    DWORD inSize = 4096;
    DWORD outSize = 4096;

    std::size_t queued() const { return rx.size() - rxHead; }
};

// A wire result as the D2XX status the programs see.
FT_STATUS statusOf(int wireResult);

// Takes over a port just opened: default transfer sizes, then the handle.
FT_HANDLE adoptPort(const Wire& wire, WirePort* port);

enum class Lookup { keep, forget };  // forget: off the list, for closing

// The open device a handle names, or null for a stale or foreign handle.
Device* lookUp(FT_HANDLE handle, Lookup lookup);

// Every call that takes a handle goes through here, so that a stale or
// foreign handle is refused instead of followed: FT_INVALID_HANDLE, or what
// `operation` makes of the device.
template <typename Operation>
FT_STATUS withDevice(FT_HANDLE handle, Operation operation, Lookup lookup = Lookup::keep) {
    Device* d = lookUp(handle, lookup);
    return d == nullptr ? FT_INVALID_HANDLE : operation(*d);
}

}  // namespace d2xx
