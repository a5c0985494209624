// Host cost of one sector request in the drive image server: Handle (read
// the number and count, trace line, copy, reply built, one write) and the
// whole ServeOnce cycle (poll, sync bytes, Handle), with entry points that
// only count and reads fed from memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "CartridgeCommands.h"
#include "Console.h"
#include "NullDriver.h"
#include "VexloServer.h"

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

void BM_Handle(benchmark::State& state) { run(state, false, false); }
void BM_ServeOnce(benchmark::State& state) { run(state, true, false); }
void BM_HandleLineBufferedConsole(benchmark::State& state) { run(state, false, true); }

#define SECTOR_ARGS ArgNames({"sectors", "size"})->Args({1, 512})->Args({8, 512})->Args({31, 512})->Args({15, 1024})
BENCHMARK(BM_Handle)->SECTOR_ARGS;
BENCHMARK(BM_ServeOnce)->SECTOR_ARGS;
BENCHMARK(BM_HandleLineBufferedConsole)->Args({31, 512});

}  // namespace

BENCHMARK_MAIN();
