// The shared driver fake, only counting, for measuring what the programs
// themselves cost the host. No allocation, no recording, no hooks: a call
// is one increment and, for reads, a copy from a prepared feed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CartridgeLink.h"

namespace bench {

struct NullCounts {
    std::uint64_t writes = 0;
    std::uint64_t writeBytes = 0;
    std::uint64_t reads = 0;
    std::uint64_t readBytes = 0;
    std::uint64_t statusPolls = 0;
    std::uint64_t other = 0;

    std::uint64_t calls() const { return writes + reads + statusPolls + other; }
};

// The counts of the calls so far.
NullCounts nullCounts();

// Clears `link`, fills all 18 entry points with the counting fake and gives
// it a handle. Writes take every byte; reads take from the feed.
void installNullDriver(CartridgeLink& link);

// The bytes FT_Read hands out, in order, and FT_GetStatus reports as queued.
// Once the feed is used up, reads return FT_OK with what is left (maybe 0
// bytes), like a read that timed out. A null feed makes every read return
// one zero byte, as a cartridge that answers each cmdReadPins with TDO low.
void setReadFeed(const std::uint8_t* bytes, std::size_t size);

// A millisecond clock that moves 10^8 ms at every reading, so that each
// timed wait of the pin driver ends after its first pass of clock records.
void installJumpingClock();
void restoreClock();

// Opens /dev/null as the programs' console, so that traces and progress
// lines cost what a fully buffered stream costs and show nowhere.
void silenceConsole();

}  // namespace bench
