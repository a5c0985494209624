// Driver entry points that do nothing but count, for measuring what the
// programs themselves cost the host. No allocation, no recording: a call is
// one increment and, for reads, a copy from a prepared feed.
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

extern NullCounts nullCounts;

// Fills all 18 entry points of `link` with the null functions and gives it
// a handle. Writes take every byte; reads take from the feed.
void installNullDriver(CartridgeLink& link);

// The bytes FT_Read hands out, in order, and FT_GetStatus reports as queued.
// Once the feed is used up, reads return FT_OK with what is left (maybe 0
// bytes), like a read that timed out. A null feed makes every read return
// one zero byte, as a cartridge that answers each cmdReadPins with TDO low.
void setReadFeed(const std::uint8_t* bytes, std::size_t size);

// The null FT_Write itself, for the baseline of a bare call through the
// entry-point table.
FT_STATUS FT_API nullWrite(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written);

// A millisecond clock that moves 10^8 ms at every reading, so that each
// timed wait of the pin driver ends after its first pass of clock records.
void installJumpingClock();
void restoreClock();

// Opens /dev/null as the programs' console, so that traces and progress
// lines cost what a fully buffered stream costs and show nowhere.
void silenceConsole();

}  // namespace bench
