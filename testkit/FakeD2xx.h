// One fake of the 18 driver entry points for the tests, the benchmarks and
// the fuzz targets. Each entry point counts its call, then runs its hook
// if one is set (with the state pointer first) or else its quiet default,
// and, when a record is given, appends what it was called with.
//
// The quiet defaults succeed and do nothing a device would: writes take
// every byte, reads hand out the read feed, both queues report what is left
// of the feed, FT_OpenEx hands out handle 1, FT_Open finds no device.
// Counting alone allocates nothing, so the benchmarks measure the programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CartridgeLink.h"

namespace fake_d2xx {

// One recorded call.
struct Call {
    std::string fn;                  // "FT_Write", "FT_Read", ... (tests add "sleep")
    std::vector<std::uint8_t> data;  // bytes written, bytes a read handed out, FT_OpenEx's description
    std::uint32_t args[3] = {};      // the numeric arguments in order: count, mask, sizes, ...
    FT_HANDLE handle = nullptr;      // the device handle it was given, if it takes one
};

// A hook replaces the default of one entry point.
struct Hooks {
#define VEXLO_FAKE_HOOK(name, step, missing, params, args, method) \
    FT_STATUS (*name)(void* state, VEXLO_D2XX_SPREAD params) = nullptr;
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_FAKE_HOOK)
#undef VEXLO_FAKE_HOOK
};

struct Driver {
    Hooks hooks;
    void* state = nullptr;             // handed to every hook
    std::vector<Call>* record = nullptr;  // where calls are recorded; null: not recorded

    // Calls of each entry point, by D2xxEntry.
    std::uint64_t counts[D2XX_ENTRY_COUNT] = {};
    std::uint64_t bytesWritten = 0;  // by the default FT_Write
    std::uint64_t bytesRead = 0;     // by the default FT_Read

    // The read feed. Without one, every read answers with as many zero bytes
    // as it asked for, as a cartridge that always says 0.
    const std::uint8_t* feed = nullptr;
    std::size_t feedLeft = 0;
    bool feedSet = false;

    std::uint64_t countOf(D2xxEntry entry) const { return counts[static_cast<std::size_t>(entry)]; }
    // Reads hand out `size` bytes from `bytes`, then nothing (FT_OK, 0 bytes,
    // as a read that timed out). A null `bytes` removes the feed.
    void setReadFeed(const std::uint8_t* bytes, std::size_t size) {
        feedSet = bytes != nullptr || size != 0;
        feed = bytes;
        feedLeft = feedSet ? size : 0;
    }
};

// The driver the entry points below consult. Reset it with `driver() = {}`.
Driver& driver();

// The entry points themselves.
#define VEXLO_FAKE_ENTRY(name, step, missing, params, args, method) FT_STATUS FT_API name params;
VEXLO_D2XX_ENTRY_POINTS(VEXLO_FAKE_ENTRY)
#undef VEXLO_FAKE_ENTRY

// Fills all 18 entry points of `link` with the fake and gives it handle 1;
// the rest of the record is left as it is.
inline void install(CartridgeLink& link) {
#define VEXLO_FAKE_INSTALL(name, step, missing, params, args, method) link.name = fake_d2xx::name;
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_FAKE_INSTALL)
#undef VEXLO_FAKE_INSTALL
    link.deviceHandle = reinterpret_cast<FT_HANDLE>(std::uintptr_t{1});
}

}  // namespace fake_d2xx
