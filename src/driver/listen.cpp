#include "driver/listen.h"

#include <SDL.h>

#include <cstdio>

#include "audio/analyzer.h"
#include "common/stop_signal.h"
#include "driver/capture.h"
#include "driver/clock.h"
#include "driver/display.h"
#include "frame/frame_pass.h"
#include "frame/view.h"
#include "visuals/noise.h"

namespace {

constexpr int kFailureStatus = 255;  // the demo's start-up failure

DemoEnd fail(const std::string& line) {
    std::fprintf(stderr, "starglobe: %s\n", line.c_str());
    return {kFailureStatus, 0};
}

// One pending event at most per pass, as in the demo: Escape ends the run.
bool escape_pressed() {
    SDL_Event event;
    return SDL_PollEvent(&event) && event.type == SDL_KEYDOWN &&
           event.key.keysym.sym == SDLK_ESCAPE;
}

}  // namespace

DemoEnd listen_demo(const std::string& source, bool gentle) {
    // The sound first, so that a missing server is said before the screen goes black.
    Capture capture;
    if (Outcome started = capture_start(&capture, source); !started) return fail(started.message);

    // No sound device of SDL's: nothing is played while listening.
    Display display;
    if (display_start_up(&display, SDL_INIT_VIDEO) != StartUpFailure::none) {
        std::puts(SDL_GetError());
        return {kFailureStatus, 0};
    }
    AudioAnalyzer analyzer;
    NoiseSource noise = noise_source_checked();
    PictureView view = view_start(gentle);
    // There is no end of the music: the clock only turns the star field and the globe.
    const double start_ms = now_ms();
    while (!stop_signal() && !escape_pressed()) {
        const double elapsed_ms = now_ms() - start_ms;
        uint8_t* screen = display_lock(&display);
        frame_pass_sample(&analyzer, capture_newest(capture), elapsed_ms, &noise,
                          view_target(&view, screen));
        view_show(&view, elapsed_ms, screen);
        display_present(&display);
    }
    capture_stop(&capture);
    display_close(&display);
    if (stop_signal()) {
        SDL_Quit();  // the exit hook would not run
        return {0, stop_signal()};
    }
    return {};
}
