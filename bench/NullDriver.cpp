#include "NullDriver.h"

#include <cstdio>

#include "Console.h"
#include "FakeD2xx.h"
#include "platform/Platform.h"

namespace bench {

namespace {

std::int64_t jumpingNow = 0;
std::int64_t jumpingClock() { return jumpingNow += 100000000; }

std::int64_t (*savedClock)() = nullptr;

}  // namespace

NullCounts nullCounts() {
    const fake_d2xx::Driver& d = fake_d2xx::driver();
    NullCounts c;
    c.writes = d.countOf(D2xxEntry::FT_Write);
    c.writeBytes = d.bytesWritten;
    c.reads = d.countOf(D2xxEntry::FT_Read);
    c.readBytes = d.bytesRead;
    c.statusPolls = d.countOf(D2xxEntry::FT_GetStatus);
    for (std::uint64_t n : d.counts) {
        c.other += n;
    }
    c.other -= c.writes + c.reads + c.statusPolls;
    return c;
}

void installNullDriver(CartridgeLink& link) {
    // Counts go on from run to run; the benchmarks take differences.
    fake_d2xx::Driver& d = fake_d2xx::driver();
    d.hooks = {};
    d.state = nullptr;
    d.record = nullptr;
    link = CartridgeLink{};
    fake_d2xx::install(link);
    link.opened = 1;
}

void setReadFeed(const std::uint8_t* bytes, std::size_t size) { fake_d2xx::driver().setReadFeed(bytes, size); }

void installJumpingClock() {
    if (savedClock == nullptr) {
        savedClock = platform::clockMs;
    }
    platform::clockMs = jumpingClock;
}

void restoreClock() {
    if (savedClock != nullptr) {
        platform::clockMs = savedClock;
    }
}

void silenceConsole() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink != nullptr) {
        consoleOut = sink;
        consoleErr = sink;
    }
}

}  // namespace bench
