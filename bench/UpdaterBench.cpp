// Host cost of the FPGA updater: the pin driver, the TAP walk and whole XSVF
// files played through the real player, with driver entry points that only
// count and a clock that ends every wait after one pass. What is left is the
// updater's own work per driver call.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CartridgeCommands.h"
#include "Corpus.h"
#include "NullDriver.h"
#include "PinDriver.h"
#include "PlayFromMemory.h"
#include "SyntheticTop.h"
#include "TapState.h"
#include "XsvfInputs.h"
#include "XsvfPlayer.h"

namespace {

CartridgeLink link;

void setUp() {
    bench::installNullDriver(link);
    bench::setReadFeed(nullptr, 0);
    bench::installJumpingClock();
    bench::silenceConsole();
    linkPtr = &link;
}

// Calls, bytes and time per call and per bit, from the counts of the run.
void report(benchmark::State& state, const bench::NullCounts& before, double bitsPerIteration) {
    const bench::NullCounts c = bench::nullCounts();
    const double calls = static_cast<double>(c.calls() - before.calls());
    const double bytes = static_cast<double>(c.writeBytes - before.writeBytes + c.readBytes - before.readBytes);
    const double reads = static_cast<double>(c.reads - before.reads);
    using benchmark::Counter;
    state.counters["calls"] = Counter(calls, Counter::kAvgIterations);
    state.counters["reads"] = Counter(reads, Counter::kAvgIterations);
    state.counters["bytes"] = Counter(bytes, Counter::kAvgIterations);
    state.counters["s_per_call"] = Counter(calls, Counter::kIsRate | Counter::kInvert);
    if (bitsPerIteration > 0) {
        state.counters["s_per_bit"] =
            Counter(bitsPerIteration * static_cast<double>(state.iterations()), Counter::kIsRate | Counter::kInvert);
    }
}

ShiftValue& patternValue(int bits) {
    static ShiftValue value;
    value.length = static_cast<std::int16_t>((bits + 7) / 8);
    for (int i = 0; i < value.length; ++i) {
        value.bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    return value;
}

// The baseline: one FT_Write straight through the entry-point table.
void BM_BareCall(benchmark::State& state) {
    setUp();
    std::uint8_t pins = 0x06;
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        DWORD written = 0;
        // Read the pointer afresh each time, as a call through the record does.
        PFN_FT_Write write = link.FT_Write;
        benchmark::DoNotOptimize(write);
        benchmark::DoNotOptimize(write(link.deviceHandle, &pins, 1, &written));
    }
    report(state, before, 0);
}
BENCHMARK(BM_BareCall);

// The same through the link's checked call.
void BM_CheckedCall(benchmark::State& state) {
    setUp();
    std::uint8_t pins = 0x06;
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        DWORD written = 0;
        benchmark::DoNotOptimize(link.Write(&pins, 1, &written));
        benchmark::ClobberMemory();
    }
    report(state, before, 0);
}
BENCHMARK(BM_CheckedCall);

// One pin change: header and pin byte, two calls.
void BM_WritePins(benchmark::State& state) {
    setUp();
    const bench::NullCounts before = bench::nullCounts();
    std::uint8_t pins = 0;
    for (auto _ : state) {
        writePins(pins);
        pins = static_cast<std::uint8_t>(pins ^ PIN_TCK);
    }
    report(state, before, 0);
}
BENCHMARK(BM_WritePins);

// Single-mode shifts; the argument is the bit count, the second whether TDO
// is captured, the third whether the pin commands are batched (--batch).
void BM_ShiftSingle(benchmark::State& state) {
    setUp();
    const int bits = static_cast<int>(state.range(0));
    const bool capture = state.range(1) != 0;
    setPinBatching(state.range(2) != 0);
    const ShiftValue& tdi = patternValue(bits);
    static ShiftValue captured;
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        shiftBits(bits, tdi, capture ? &captured : nullptr, true);
    }
    flushPins();
    report(state, before, bits);
    setPinBatching(false);
}
BENCHMARK(BM_ShiftSingle)->ArgNames({"bits", "tdo", "batch"})->ArgsProduct({{32, 4096}, {0, 1}, {0, 1}});

// Block mode: 4097 bits as one write of clock records.
void BM_ShiftBlock(benchmark::State& state) {
    setUp();
    const bool exitOnLast = state.range(0) != 0;
    const ShiftValue& tdi = patternValue(BLOCK_SHIFT_BITS);
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        shiftBits(BLOCK_SHIFT_BITS, tdi, nullptr, exitOnLast);
    }
    report(state, before, BLOCK_SHIFT_BITS);
}
BENCHMARK(BM_ShiftBlock)->ArgName("exit")->Arg(0)->Arg(1);

// A TAP walk through the states an XSVF run visits: reset, IR shift, IR
// pause, DR shift, DR pause, Run-Test/Idle.
void BM_TapWalk(benchmark::State& state) {
    setUp();
    const std::uint8_t targets[] = {TAP_RESET,  TAP_RUNTEST_IDLE, TAP_IRSHIFT, TAP_IRPAUSE,
                                    TAP_DRSHIFT, TAP_DRPAUSE,     TAP_DRSHIFT, TAP_RUNTEST_IDLE};
    TapState tap = TAP_RESET;
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        for (std::uint8_t target : targets) {
            benchmark::DoNotOptimize(tapGotoState(tap, target));
        }
    }
    report(state, before, 0);
}
BENCHMARK(BM_TapWalk);

// A wait: one pass of 32 clock records (the clock ends it at once).
void BM_Wait(benchmark::State& state) {
    setUp();
    const bench::NullCounts before = bench::nullCounts();
    for (auto _ : state) {
        waitMicroseconds(1000);
    }
    report(state, before, 0);
}
BENCHMARK(BM_Wait);

// Whole files through the player, read from memory, single transfers or
// batched.
void playFile(benchmark::State& state, const std::vector<std::uint8_t>& bytes, bool batch) {
    if (bytes.empty()) {
        state.SkipWithError("XSVF file not available");
        return;
    }
    setUp();
    setPinBatching(batch);
    static SXsvfInfo info;
    const bench::NullCounts before = bench::nullCounts();
    int result = 0;
    for (auto _ : state) {
        result = bench::playFromMemory(bytes, info);
    }
    if (result != 0) {
        state.SkipWithError(("player ended with error " + std::to_string(result)).c_str());
    }
    report(state, before, 0);
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
    setPinBatching(false);
}

void BM_PlayTop555(benchmark::State& state) {
    static const std::vector<std::uint8_t> top = testkit::syntheticTopXsvf(555, 14000, 15000000);
    playFile(state, top, false);
}
BENCHMARK(BM_PlayTop555)->Unit(benchmark::kMillisecond);

void BM_PlayTop555Batch(benchmark::State& state) {
    static const std::vector<std::uint8_t> top = testkit::syntheticTopXsvf(555, 14000, 15000000);
    playFile(state, top, true);
}
BENCHMARK(BM_PlayTop555Batch)->Unit(benchmark::kMillisecond);

// One benchmark per corpus file, made before the command line is read (at
// start-up, as BENCHMARK's own are).
bool registerCorpus() {
    for (const char* name : testkit::corpusXsvfFiles) {
        const std::vector<std::uint8_t>* bytes = &bench::keptCorpusXsvf(name);
        benchmark::RegisterBenchmark((std::string("BM_PlayCorpus/") + name).c_str(),
                                     [bytes](benchmark::State& state) { playFile(state, *bytes, false); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_PlayCorpusBatch/") + name).c_str(),
                                     [bytes](benchmark::State& state) { playFile(state, *bytes, true); })
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}
[[maybe_unused]] const bool corpusRegistered = registerCorpus();

}  // namespace

BENCHMARK_MAIN();
