#include "FuzzSupport.h"

#include <cstdlib>

#include "Console.h"
#include "FakeD2xx.h"
#include "TempFolder.h"
#include "platform/Platform.h"

namespace fuzz {

namespace {

std::int64_t g_now = 0;
std::int64_t g_step = 1;

std::int64_t fakeClock() {
    g_now += g_step;
    return g_now;
}

void fakeSleep(std::uint32_t ms) { g_now += ms; }

}  // namespace

void fault(const char* what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void installQuietDriver(CartridgeLink& link) {
    fake_d2xx::Driver& d = fake_d2xx::driver();
    d = fake_d2xx::Driver{};
    static const std::uint8_t nothing = 0;
    d.setReadFeed(&nothing, 0);
    fake_d2xx::install(link);
    link.opened = 1;
    link.driverModule = nullptr;
}

void installClock(std::int64_t stepMs) {
    g_step = stepMs;
    platform::clockMs = fakeClock;
    platform::sleepMs = fakeSleep;
}

void silenceConsole() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) {
        fault("cannot open /dev/null");
    }
    consoleOut = sink;
    consoleErr = sink;
}

std::string tempPath(const char* name) {
    static const TempFolder folder("vexlo-fuzz");
    return folder.file(name);
}

std::FILE* openBytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return std::fopen("/dev/null", "rb");
    }
    // fmemopen takes a non-const buffer but a "rb" stream never writes it.
    return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

}  // namespace fuzz
