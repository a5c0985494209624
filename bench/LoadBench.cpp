// DriveImage::Load of the full 20 MB window from a file in the page cache,
// beside plain reads of the same bytes. The file (the whole 86 MB up to the
// window's end, every byte written, no holes) is made once per run in a
// temporary folder and read once before timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "AhdiRoot.h"
#include "DriveImage.h"
#include "NullDriver.h"
#include "TempFolder.h"

namespace {

constexpr std::uint64_t FILE_BYTES = std::uint64_t{DriveImage::WINDOW_FILE_OFFSET} +
                                     (DriveImage::IMAGE_BYTES - DriveImage::HEAD_BYTES);

std::string imagePath;

bool makeImage(const TempFolder& folder) {
    imagePath = folder.file("drive.img");
    std::FILE* file = std::fopen(imagePath.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::vector<std::uint8_t> chunk(1 << 20);
    bool ok = true;
    for (std::uint64_t at = 0; ok && at < FILE_BYTES; at += chunk.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), FILE_BYTES - at));
        for (std::size_t i = 0; i < n; ++i) {
            chunk[i] = static_cast<std::uint8_t>((at + i) * 131 + ((at + i) >> 9));
        }
        if (at == 0) {
            // AHDI root sector: partition 0 active at sector 2.
            const ahdi::RootSector root{168160, 0x01, {'B', 'G', 'M'}, 2, 40000};
            ahdi::writeRootSector(chunk.data(), root);
        }
        ok = std::fwrite(chunk.data(), 1, n, file) == n;
    }
    return std::fclose(file) == 0 && ok;
}

// Reads the whole file once so every timed read comes from the page cache.
void warm() {
    std::FILE* file = std::fopen(imagePath.c_str(), "rb");
    std::vector<std::uint8_t> buffer(1 << 20);
    while (file != nullptr && std::fread(buffer.data(), 1, buffer.size(), file) > 0) {
    }
    if (file != nullptr) {
        std::fclose(file);
    }
}

// The two reads Load makes, plainly: head and window into `buffer`.
bool plainRead(std::uint8_t* buffer) {
    std::FILE* file = std::fopen(imagePath.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::size_t got = std::fread(buffer, 1, DriveImage::HEAD_BYTES, file);
    std::fseek(file, long(DriveImage::WINDOW_FILE_OFFSET), SEEK_SET);
    got += std::fread(buffer + DriveImage::HEAD_BYTES, 1, DriveImage::IMAGE_BYTES - DriveImage::HEAD_BYTES, file);
    std::fclose(file);
    return got == DriveImage::IMAGE_BYTES;
}

void setWindowBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * DriveImage::IMAGE_BYTES);
}

void BM_DriveImageLoad(benchmark::State& state) {
    bench::silenceConsole();
    DriveImage image;
    for (auto _ : state) {
        if (image.Load(imagePath.c_str()) != 1) {
            state.SkipWithError("Load failed");
            break;
        }
        benchmark::DoNotOptimize(image.pImage);
    }
    setWindowBytes(state);
}
BENCHMARK(BM_DriveImageLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// A fresh 20 MB buffer each time, as Load has: the first touch of its pages
// is part of the cost.
void BM_PlainFreadFreshBuffer(benchmark::State& state) {
    for (auto _ : state) {
        auto* buffer = new std::uint8_t[DriveImage::IMAGE_BYTES];
        if (!plainRead(buffer)) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(buffer);
        delete[] buffer;
    }
    setWindowBytes(state);
}
BENCHMARK(BM_PlainFreadFreshBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same reads into one buffer kept across iterations: the bare copy out
// of the page cache.
void BM_PlainFreadReusedBuffer(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(DriveImage::IMAGE_BYTES);
    for (auto _ : state) {
        if (!plainRead(buffer.data())) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    setWindowBytes(state);
}
BENCHMARK(BM_PlainFreadReusedBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const TempFolder folder("vexlo-bench");
    if (!makeImage(folder)) {
        std::fprintf(stderr, "cannot write the test image under the temporary folder\n");
        return 1;
    }
    warm();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
