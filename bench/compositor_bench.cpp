// Time per frame of the shipped compositor beside the plain reference, composing a run of
// frames with varied controls from the pictures the demo would show at 60 frames a second; and
// a gentle pass (the shipped compositor into the gentle view, then the view shown) at the live
// loop's pace, whose difference from the shipped compositor is what the gentle view costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "frame/view.h"
#include "support/reference_compositor.h"
#include "visuals/compositor.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;  // clock step between frames
constexpr uint32_t kControlVariety = 256;   // distinct control records cycled through

template <typename Compose>
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
    NoiseSource noise = noise_source_checked();
    state.counters["generator"] = noise.use_rand ? 0 : 1;  // 1: fast noise path in use
    run_frames(state, [&noise](uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                               const RawImage& globe, const FrameControls& controls) {
        compose_frame(pixels, w, h, star, globe, controls, &noise);
    });
}

constexpr double kLivePassMs = 1000.0 / 1300.0;  // the live loop's pace under Xvfb here

void BM_GentlePass(benchmark::State& state) {
    NoiseSource noise = noise_source_checked();
    PictureView view = view_start(true);
    std::vector<uint8_t> screen(kImageBytes);
    uint32_t pass = 0;
    for (auto _ : state) {
        const double elapsed_ms = pass * kLivePassMs;
        compose_frame(view_target(&view, screen.data()), kImageWidth, kImageHeight,
                      *star_for(elapsed_ms), *globe_for(elapsed_ms),
                      varied_controls(pass % kControlVariety), &noise);
        view_show(&view, elapsed_ms, screen.data());
        benchmark::DoNotOptimize(screen.data());
        benchmark::ClobberMemory();
        ++pass;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ReferenceCompositor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShippedCompositor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GentlePass)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
