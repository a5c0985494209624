// Host cost of the two driver libraries the programs can load on Linux:
// the cartridge emulator, and the open-source driver over libftdi1 with the
// fake libusb and the same emulated cartridge behind it. The difference is
// what libftdi1, our D2XX layer and the USB framing cost the host per call;
// a real device adds its USB time on top, which no host figure shows.
#include <dlfcn.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CartridgeLink.h"
#include "NullDriver.h"
#include "PinDriver.h"
#include "PlayFromMemory.h"
#include "XsvfInputs.h"
#include "XsvfPlayer.h"

namespace {

struct Driver {
    const char* name;
    CartridgeLink link{};
    bool ready = false;
};

Driver emulator{"emulator"};
Driver opendriver{"opendriver"};

// Binds and opens as the updater does: the link's open sequence, then
// 6400-byte transfers and a latency of 1 ms.
void openDriver(Driver& d, const std::string& path) {
    d.link.BindDriverFrom(path.c_str());
    if (d.link.FT_OpenEx == nullptr || d.link.OpenCartridge() != 0) {
        std::fprintf(stderr, "bench_drivers: cannot open the cartridge through %s\n", path.c_str());
        return;
    }
    d.link.SetUSBParameters(6400, 6400);
    d.link.SetLatencyTimer(1);
    d.ready = true;
}

void setUp() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    const std::string out = std::string("/tmp/vexlo-bench-drivers-") + std::to_string(getpid());
    setenv("VEXLO_EMULATOR", ("log=none;out=" + out).c_str(), 1);
    unsetenv("VEXLO_FAKE_USB");
    openDriver(emulator, std::string(EMULATOR_DIR) + "/libftd2xx.so");
    // Loaded first, the fake is the libusb-1.0.so.0 that libftdi1 gets.
    if (dlopen(FAKEUSB_DIR "/libusb-1.0.so.0", RTLD_NOW | RTLD_GLOBAL) == nullptr) {
        std::fprintf(stderr, "bench_drivers: %s\n", dlerror());
        return;
    }
    openDriver(opendriver, std::string(OPENDRIVER_DIR) + "/libftd2xx.so");
    bench::silenceConsole();
}

Driver& pick(int which) { return which == 0 ? emulator : opendriver; }

// The driver the benchmark's argument names, loaded; null (and the
// benchmark skipped) when it is not there.
Driver* readyDriver(benchmark::State& state) {
    setUp();
    Driver& d = pick(static_cast<int>(state.range(0)));
    if (!d.ready) {
        state.SkipWithError("driver not available");
        return nullptr;
    }
    return &d;
}

// One pin record (cmdSetPins and the pin byte), as the pin driver writes it.
void BM_Write4(benchmark::State& state) {
    Driver* ready = readyDriver(state);
    if (ready == nullptr) {
        return;
    }
    Driver& d = *ready;
    std::uint8_t record[4] = {0x53, 0x59, 4, 0x06};
    for (auto _ : state) {
        DWORD written = 0;
        d.link.FT_Write(d.link.deviceHandle, record, 4, &written);
        benchmark::DoNotOptimize(written);
    }
    state.SetLabel(d.name);
}
BENCHMARK(BM_Write4)->Arg(0)->Arg(1);

// FT_Read of one byte that is already waiting: replies to a batch of
// cmdGetPower written outside the timing.
void BM_ReadReadyByte(benchmark::State& state) {
    Driver* ready = readyDriver(state);
    if (ready == nullptr) {
        return;
    }
    Driver& d = *ready;
    constexpr int batch = 2000;
    static std::vector<std::uint8_t> requests;
    for (int i = 0; i < batch; ++i) {
        requests.insert(requests.end(), {0x53, 0x59, 12});
    }
    int left = 0;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            DWORD written = 0;
            d.link.FT_Write(d.link.deviceHandle, requests.data(), static_cast<DWORD>(batch * 3), &written);
            left = batch;
            state.ResumeTiming();
        }
        std::uint8_t b = 0;
        DWORD got = 0;
        d.link.FT_Read(d.link.deviceHandle, &b, 1, &got);
        benchmark::DoNotOptimize(b);
        --left;
    }
    // Leave nothing queued for the next benchmark.
    while (left-- > 0) {
        std::uint8_t b = 0;
        DWORD got = 0;
        d.link.FT_Read(d.link.deviceHandle, &b, 1, &got);
    }
    state.SetLabel(d.name);
}
BENCHMARK(BM_ReadReadyByte)->Arg(0)->Arg(1);

// A command and its one-byte reply (cmdGetPower), as each TDO read and each
// acknowledgement is: the reply is never waiting in the driver's buffer.
void BM_CommandAndReply(benchmark::State& state) {
    Driver* ready = readyDriver(state);
    if (ready == nullptr) {
        return;
    }
    Driver& d = *ready;
    std::uint8_t request[3] = {0x53, 0x59, 12};
    for (auto _ : state) {
        DWORD written = 0, got = 0;
        std::uint8_t b = 0;
        d.link.FT_Write(d.link.deviceHandle, request, 3, &written);
        d.link.FT_Read(d.link.deviceHandle, &b, 1, &got);
        benchmark::DoNotOptimize(b);
    }
    state.SetLabel(d.name);
}
BENCHMARK(BM_CommandAndReply)->Arg(0)->Arg(1);

// A whole corpus file through the real player and the driver; the pin
// driver's waits end after one pass of clock records.
void playFile(benchmark::State& state, int which, const std::vector<std::uint8_t>& bytes) {
    setUp();
    Driver& d = pick(which);
    if (!d.ready || bytes.empty()) {
        state.SkipWithError("driver or file not available");
        return;
    }
    linkPtr = &d.link;
    bench::installJumpingClock();
    static SXsvfInfo info;
    int result = 0;
    for (auto _ : state) {
        result = bench::playFromMemory(bytes, info);
    }
    bench::restoreClock();
    if (result != 0) {
        state.SkipWithError(("player ended with error " + std::to_string(result)).c_str());
    }
    state.SetLabel(d.name);
}

// One benchmark per corpus file and driver, made before the command line
// is read (at start-up, as BENCHMARK's own are).
bool registerCorpus() {
    for (const char* name : {"hackrf_xc2c64a_default.xsvf", "numato_xc9572xl_counter_svf2xsvf.xsvf"}) {
        const std::vector<std::uint8_t>* bytes = &bench::keptCorpusXsvf(name);
        for (int which = 0; which < 2; ++which) {
            benchmark::RegisterBenchmark(
                (std::string("BM_PlayCorpus/") + name + "/" + pick(which).name).c_str(),
                [bytes, which](benchmark::State& state) { playFile(state, which, *bytes); })
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}
[[maybe_unused]] const bool corpusRegistered = registerCorpus();

}  // namespace

BENCHMARK_MAIN();
