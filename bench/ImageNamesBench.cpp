// Host cost of giving 8.3 names to long names that all share their first
// letters, as `vexlo-image create` and `Vexlo -drvimg FOLDER` do: every
// name collides with the ones before it. 10000 of them should take well
// under a second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "AtariImage.h"

namespace {

atari::SourceNode collidingNames(std::size_t count) {
    atari::SourceNode root;
    root.folder = true;
    root.children.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "a rather long file name %05zu.text", i);
        root.children[i].name = name;
    }
    return root;
}

// The whole build (names, layout, the image in memory), empty files.
void BM_BuildWithCollidingNames(benchmark::State& state) {
    const atari::SourceNode root = collidingNames(std::size_t(state.range(0)));
    for (auto _ : state) {
        atari::BuiltImage image;
        std::string error;
        if (!atari::buildImage(root, atari::BuildOptions{}, image, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(image.renamed.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildWithCollidingNames)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

// The names alone.
void BM_AtariNames(benchmark::State& state) {
    const atari::SourceNode root = collidingNames(std::size_t(state.range(0)));
    for (auto _ : state) {
        atari::NameTable names;
        for (const atari::SourceNode& child : root.children) benchmark::DoNotOptimize(atari::atariName(child.name, names));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AtariNames)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
