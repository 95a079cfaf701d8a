// Time per frame of the shipped compositor beside the plain reference, composing a run of
// frames with varied controls from the pictures the demo would show at 60 frames a second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "reference_compositor.h"
#include "visuals/compositor.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;  // clock step between frames
constexpr uint32_t kControlVariety = 256;   // distinct control records cycled through

using Compose = void (*)(uint8_t*, int32_t, int32_t, const RawImage&, const RawImage&,
                         const FrameControls&);

void run_frames(benchmark::State& state, Compose compose) {
    std::vector<uint8_t> target(kImageBytes);
    uint32_t frame = 0;
    for (auto _ : state) {
        const double elapsed_ms = frame * kFrameMs;
        compose(target.data(), kImageWidth, kImageHeight, *star_for(elapsed_ms),
                *globe_for(elapsed_ms), varied_controls(frame % kControlVariety));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
        ++frame;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ReferenceCompositor(benchmark::State& state) {
    std::srand(1);
    run_frames(state, reference_compose_frame);
}

void BM_ShippedCompositor(benchmark::State& state) {
    noise_restart();
    state.counters["generator"] = noise_init() ? 1 : 0;  // 1: fast noise path in use
    run_frames(state, compose_frame);
}

BENCHMARK(BM_ReferenceCompositor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShippedCompositor)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
