#include "driver/play.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cstring>
#include <utility>

#include "common/picture.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "driver/clock.h"
#include "driver/display.h"
#include "frame/run.h"
#include "system/stop_signal.h"
#include "visuals/image_bank.h"

namespace {

constexpr int kAudioRate = kSampleRateHz;  // the soundtrack's own rate: no resampling
constexpr Uint16 kAudioFormat = AUDIO_S16LSB;
constexpr int kAudioChannels = kWavChannels;
constexpr int kAudioChunk = 1024;  // sample frames per mixer buffer
constexpr int kNoLoops = 0;        // the music plays once

void show_end_card(Display* display) {
    const double card_start = now_ms();
    while (now_ms() - card_start <= kEndCardMs && !stop_signal()) {
        std::memcpy(display_lock(display), end_card.bgr, kImageBytes);
        display_present(display);
    }
}

}  // namespace

DemoEnd play_demo(const std::string& soundtrack_path, bool gentle) {
    Display display;
    if (DemoEnd failed = demo_start(&display, SDL_INIT_AUDIO | SDL_INIT_VIDEO);
        failed.failure != DemoFailure::none)
        return failed;

    if (Mix_OpenAudio(kAudioRate, kAudioFormat, kAudioChannels, kAudioChunk) == -1)
        return demo_failed(DemoFailure::sound_device, SDL_GetError());

    // The analysis copy, mapped for the run and let go of behind the music.
    WavFile soundtrack = load_wav(soundtrack_path.c_str());
    int64_t held_from = 0;  // its first sample frame still held in memory
    if (soundtrack.status == WavStatus::interrupted) {
        Mix_CloseAudio();
        return demo_close(&display);
    }
    if (soundtrack.status != WavStatus::ok) {
        Mix_CloseAudio();
        DemoEnd refused = demo_failed(DemoFailure::soundtrack, "");
        refused.refused = std::move(soundtrack);
        return refused;
    }
    DemoRun run = run_start(gentle);

    Mix_Music* music = Mix_LoadMUS(soundtrack_path.c_str());
    // The origin is taken before the load is checked, so elapsed time also counts the time that
    // starting playback takes.
    const double start_ms = now_ms();
    if (!music) {
        Mix_CloseAudio();
        return demo_failed(DemoFailure::other, SDL_GetError());
    }
    if (Mix_PlayMusic(music, kNoLoops) == -1) {
        Mix_FreeMusic(music);
        Mix_CloseAudio();
        return demo_failed(DemoFailure::other, SDL_GetError());
    }

    LoopPasses passes;
    passes.escape = EscapeWatch::next_event;
    passes.going = [] { return Mix_PlayingMusic() != 0; };
    passes.due = [](double) { return true; };  // as fast as composing allows
    passes.pass = [&](double elapsed_ms, uint8_t* screen) {
        run_compose(&run, tap_track(soundtrack.track), elapsed_ms, screen);
        wav_let_go_behind(soundtrack.track, elapsed_ms, &held_from);
    };
    // Escape or a stop signal: no end card.
    if (demo_loop(&display, start_ms, passes)) show_end_card(&display);

    Mix_HaltMusic();
    Mix_FreeMusic(music);
    Mix_CloseAudio();
    return demo_close(&display);
}
