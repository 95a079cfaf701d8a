#include "frame/run.h"

#include <cassert>
#include <utility>

#include "visuals/compositor.h"
#include "visuals/image_bank.h"

namespace {

// Composes the pass into `into`, the noise owed settled first.
void compose(DemoRun* run, const FramePass& pass, uint8_t* into) {
    if (run->owed_draws > 0) run->noise.skip(std::exchange(run->owed_draws, 0));
    compose_frame(into, kImageWidth, kImageHeight, *star_frames[pass.star_index],
                  *globe_frames[pass.globe_index], pass.controls, &run->noise);
}

}  // namespace

DemoRun run_start(bool gentle) {
    DemoRun run;
#ifdef __EMSCRIPTEN__
    // musl's rand() differs from glibc's: the page draws what the Linux demo draws.
    run.noise = noise_source_unseeded();
#else
    // A checked private copy of the generator stands in for the locked library calls where
    // this C library really produces that sequence.
    run.noise = noise_source_checked();
#endif
    run.view = view_start(gentle);
    return run;
}

FramePass run_analyze(DemoRun* run, Tap tap, double elapsed_ms) {
    FramePass pass;
    pass.controls = tap.track ? run->analyzer.analyze(*tap.track, elapsed_ms)
                              : run->analyzer.analyze_sample(tap.sample);
    pass.star_index = star_index(elapsed_ms);
    pass.globe_index = globe_index(elapsed_ms);
    return pass;
}

FramePass run_compose(DemoRun* run, Tap tap, double elapsed_ms, uint8_t* screen) {
    assert(screen);
    const FramePass pass = run_analyze(run, tap, elapsed_ms);
    compose(run, pass, view_target(&run->view, screen));
    view_show(&run->view, elapsed_ms, screen);
    return pass;
}

FramePass run_unseen(DemoRun* run, Tap tap, double elapsed_ms) {
    const FramePass pass = run_analyze(run, tap, elapsed_ms);
    if (run->view.gentle) {
        compose(run, pass, run->view.composed.get());
        view_take(&run->view, elapsed_ms);
    } else {
        run->owed_draws += frame_draws(kImageWidth, kImageHeight, pass.controls);
    }
    return pass;
}
