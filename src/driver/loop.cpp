#include "driver/loop.h"

#include <utility>

#include "driver/clock.h"
#include "system/stop_signal.h"

namespace {

// Whether SDL's video starts on its own: after SDL_Init failed, that puts the blame on sound.
bool video_starts() {
    const bool started = SDL_Init(SDL_INIT_VIDEO) == 0;
    SDL_Quit();
    return started;
}

bool is_escape(const SDL_Event& event) {
    return event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE;
}

}  // namespace

DemoEnd demo_failed(DemoFailure failure, std::string error) {
    DemoEnd end;
    end.failure = failure;
    end.error = std::move(error);
    return end;
}

bool escape_pressed(EscapeWatch watch) {
    SDL_Event event;
    if (watch == EscapeWatch::next_event) return SDL_PollEvent(&event) && is_escape(event);
    bool escape = false;
    while (SDL_PollEvent(&event)) escape |= is_escape(event);
    return escape;
}

DemoEnd demo_start(Display* display, Uint32 subsystems) {
    const StartUpFailure f = display_start_up(display, subsystems);
    if (f == StartUpFailure::none) return {};
    // SDL starts its sound driver with the video: no sound device at all fails there.
    std::string error = SDL_GetError();
    const bool sound = f == StartUpFailure::sdl && (subsystems & SDL_INIT_AUDIO) && video_starts();
    return demo_failed(sound ? DemoFailure::sound_device : DemoFailure::other, std::move(error));
}

bool demo_loop(Display* display, double start_ms, const LoopPasses& passes) {
    while (passes.going()) {
        const double elapsed_ms = now_ms() - start_ms;
        if (escape_pressed(passes.escape) || stop_signal()) return false;
        if (!passes.due(elapsed_ms)) continue;
        passes.pass(elapsed_ms, display_lock(display));
        display_present(display);
    }
    return true;
}

DemoEnd demo_close(Display* display) {
    display_close(display);
    DemoEnd end;
    if (stop_signal()) {
        SDL_Quit();
        end.stop_signal = stop_signal();
    }
    return end;
}
