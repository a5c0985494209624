// Host cost of one sector request in the drive image server: Handle (read
// the number and count, trace line, copy, reply built, one write) and the
// whole ServeOnce cycle (poll, sync bytes, Handle), with entry points that
// only count and reads fed from memory; and a server left idle: its share
// of a core while it waits, and how late it sees a request.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "CartridgeCommands.h"
#include "Console.h"
#include "NullDriver.h"
#include "VexloServer.h"
#include "platform/Platform.h"

namespace {

CartridgeLink link;

// An image in memory as Load leaves it, without a file: the partition's boot
// sector at buffer offset 1024, every byte touched once.
void fakeLoad(DriveImage& image, std::uint16_t bytesPerSector) {
    if (image.pImage == nullptr) {
        image.pImage = new std::uint8_t[DriveImage::IMAGE_BYTES];
        for (std::uint32_t i = 0; i < DriveImage::IMAGE_BYTES; ++i) {
            image.pImage[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
        }
    }
    image.partitionStart = 2;
    image.partitionOffset = 1024;
    image.bytesPerSector = bytesPerSector;
    image.fatCount = 2;
    image.sectorsPerFat = 40;
    image.rootEntries = 512;
}

// Requests walk the whole image so the copies are not all served from cache.
std::uint16_t nextSector(std::uint32_t& cursor, std::uint16_t bytesPerSector, int count) {
    const std::uint32_t sectors = (DriveImage::IMAGE_BYTES - 1024) / bytesPerSector - static_cast<std::uint32_t>(count);
    cursor = (cursor + 1009) % sectors;
    return static_cast<std::uint16_t>(cursor);
}

void run(benchmark::State& state, bool wholeCycle, bool lineBuffered) {
    const int count = static_cast<int>(state.range(0));
    const auto bytesPerSector = static_cast<std::uint16_t>(state.range(1));
    bench::installNullDriver(link);
    bench::silenceConsole();
    if (lineBuffered) {
        // As on a terminal: every trace line is one write to the console.
        std::setvbuf(consoleOut, nullptr, _IOLBF, BUFSIZ);
    }
    static VexloServer server(&link, nullptr);
    server.link = &link;
    fakeLoad(server.image, bytesPerSector);

    std::uint8_t request[6] = {SYNC1, SYNC2, cmdReadSector, 0, 0, static_cast<std::uint8_t>(count)};
    std::uint32_t cursor = 0;
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        const std::uint16_t first = nextSector(cursor, bytesPerSector, count);
        request[3] = static_cast<std::uint8_t>(first & 0xFF);
        request[4] = static_cast<std::uint8_t>(first >> 8);
        if (wholeCycle) {
            bench::setReadFeed(request, sizeof request);
            server.ServeOnce();
        } else {
            bench::setReadFeed(request + 3, 3);
            server.Handle(cmdReadSector);
        }
    }
    if (lineBuffered) {
        std::fflush(consoleOut);
        std::setvbuf(consoleOut, nullptr, _IOFBF, BUFSIZ);
    }
    const bench::NullCounts c = bench::nullCounts();
    const std::uint64_t writes = c.writes - before.writes;
    const std::uint64_t expected = state.iterations();
    if (writes != expected) {
        state.SkipWithError("not every request was answered with one write");
    }
    const std::int64_t dataBytes = static_cast<std::int64_t>(count) * bytesPerSector;
    state.SetBytesProcessed(dataBytes * static_cast<std::int64_t>(state.iterations()));
    using benchmark::Counter;
    state.counters["calls"] = Counter(static_cast<double>(c.calls() - before.calls()), Counter::kAvgIterations);
    state.counters["reply_bytes"] = Counter(static_cast<double>(c.writeBytes - before.writeBytes), Counter::kAvgIterations);
}

// An idle server: the request "arrives" (FT_GetStatus starts reporting it)
// `idle` ms after the cycle starts. Measured: the processor time the server
// takes while it waits, as a share of the waiting time, and how late it sees
// the request after its arrival. Argument pause 0 polls without pause (the
// server before the idle pause), 1 is the server as built.
std::chrono::steady_clock::time_point g_arrival;
std::chrono::steady_clock::time_point g_seen;
bool g_reported = false;

FT_STATUS FT_API idleStatus(FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
    *tx = 0;
    *events = 0;
    const auto now = std::chrono::steady_clock::now();
    *rx = 0;
    if (now >= g_arrival) {
        if (!g_reported) {
            g_reported = true;
            g_seen = now;
        }
        *rx = 6;
    }
    return FT_OK;
}

void noPause() {}

void BM_IdleServer(benchmark::State& state) {
    const auto idle = std::chrono::milliseconds(state.range(0));
    const bool pauses = state.range(1) != 0;
    bench::installNullDriver(link);
    bench::silenceConsole();
    link.FT_GetStatus = idleStatus;
    void (*const pause)() = platform::idlePause;
    if (!pauses) {
        platform::idlePause = noPause;
    }
    static VexloServer server(&link, nullptr);
    server.link = &link;
    fakeLoad(server.image, 512);
    const std::uint8_t request[6] = {SYNC1, SYNC2, cmdReadSector, 0, 0, 1};

    double lateUs = 0;
    double worstLateUs = 0;
    double busyMs = 0;
    double idleMs = 0;
    for (auto _ : state) {
        bench::setReadFeed(request, sizeof request);
        const std::clock_t cpuStart = std::clock();  // processor time on Linux
        const auto start = std::chrono::steady_clock::now();
        g_arrival = start + idle;
        g_reported = false;
        server.ServeOnce();
        const double cpuMs = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const double late = std::chrono::duration<double, std::micro>(g_seen - g_arrival).count();
        lateUs += late;
        worstLateUs = std::max(worstLateUs, late);
        busyMs += cpuMs;
        idleMs += std::chrono::duration<double, std::milli>(g_seen - start).count();
    }
    platform::idlePause = pause;
    using benchmark::Counter;
    state.counters["core_percent"] = Counter(100.0 * busyMs / idleMs);
    state.counters["late_us"] = Counter(lateUs / double(state.iterations()));
    state.counters["worst_late_us"] = Counter(worstLateUs);
}

void BM_Handle(benchmark::State& state) { run(state, false, false); }
void BM_ServeOnce(benchmark::State& state) { run(state, true, false); }
void BM_HandleLineBufferedConsole(benchmark::State& state) { run(state, false, true); }

#define SECTOR_ARGS ArgNames({"sectors", "size"})->Args({1, 512})->Args({8, 512})->Args({31, 512})->Args({15, 1024})
BENCHMARK(BM_Handle)->SECTOR_ARGS;
BENCHMARK(BM_ServeOnce)->SECTOR_ARGS;
BENCHMARK(BM_HandleLineBufferedConsole)->Args({31, 512});
BENCHMARK(BM_IdleServer)
    ->ArgNames({"idle_ms", "pause"})
    ->Args({200, 0})
    ->Args({200, 1})
    ->Args({20, 1})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
