#include "driver/play.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "common/picture.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "driver/clock.h"
#include "driver/command.h"
#include "driver/display.h"
#include "frame/frame_pass.h"
#include "frame/view.h"
#include "system/stop_signal.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr int kAudioRate = kSampleRateHz;  // the soundtrack's own rate: no resampling
constexpr Uint16 kAudioFormat = AUDIO_S16LSB;
constexpr int kAudioChannels = kWavChannels;
constexpr int kAudioChunk = 1024;                 // sample frames per mixer buffer
constexpr int kNoLoops = 0;                       // the music plays once
constexpr int kFailureStatus = kExitCannotStart;  // main's -1

DemoEnd fail(const char* line, const PlayRequest& request, DemoFailure failure,
             const WavFile* refused = nullptr) {
    std::puts(line);
    std::fflush(stdout);  // before any advice on standard error
    if (request.advise) request.advise(failure, refused);
    return {kFailureStatus, 0};
}

// After a shutdown the signal asked for: SDL is left at once (the exit hook would not run).
DemoEnd stopped() {
    SDL_Quit();
    return {0, stop_signal()};
}

// Whether SDL's video starts on its own: after SDL_Init failed, that puts the blame on sound.
bool video_starts() {
    const bool started = SDL_Init(SDL_INIT_VIDEO) == 0;
    SDL_Quit();
    return started;
}

// One pending event at most per pass: the loop stays as fast as composing allows.
bool escape_pressed() {
    SDL_Event event;
    return SDL_PollEvent(&event) && event.type == SDL_KEYDOWN &&
           event.key.keysym.sym == SDLK_ESCAPE;
}

void show_end_card(Display* display) {
    const double card_start = now_ms();
    while (now_ms() - card_start <= kEndCardMs && !stop_signal()) {
        std::memcpy(display_lock(display), end_card.bgr, kImageBytes);
        display_present(display);
    }
}

}  // namespace

DemoEnd play_demo(const PlayRequest& request) {
    Display display;
    if (const StartUpFailure f = display_start_up(&display, SDL_INIT_AUDIO | SDL_INIT_VIDEO);
        f != StartUpFailure::none) {
        // SDL starts its sound driver with the video: no sound device at all fails there.
        const std::string error = SDL_GetError();
        const bool sound = f == StartUpFailure::sdl && video_starts();
        return fail(error.c_str(), request, sound ? DemoFailure::sound_device : DemoFailure::other);
    }

    if (Mix_OpenAudio(kAudioRate, kAudioFormat, kAudioChannels, kAudioChunk) == -1)
        return fail(SDL_GetError(), request, DemoFailure::sound_device);

    // The analysis copy, mapped for the run and let go of behind the music; the loader's own
    // verdict first.
    const WavFile soundtrack = load_wav(request.soundtrack.c_str());
    int64_t held_from = 0;  // its first sample frame still held in memory
    if (soundtrack.status == WavStatus::interrupted) {
        Mix_CloseAudio();
        display_close(&display);
        return stopped();
    }
    if (soundtrack.status != WavStatus::ok) {
        if (const char* line = wav_status_message(soundtrack.status)) std::puts(line);
        Mix_CloseAudio();
        return fail("Failed to load WAV", request, DemoFailure::soundtrack, &soundtrack);
    }
    AudioAnalyzer analyzer;
    // The noise is rand()'s unseeded sequence; a checked private copy of its generator stands in
    // for the locked library calls where this C library really produces that sequence.
    NoiseSource noise = noise_source_checked();
    PictureView view = view_start(request.gentle);

    Mix_Music* music = Mix_LoadMUS(request.soundtrack.c_str());
    // The origin is taken before the load is checked, so elapsed time also counts the time that
    // starting playback takes.
    const double start_ms = now_ms();
    if (!music) {
        Mix_CloseAudio();
        return fail(SDL_GetError(), request, DemoFailure::other);
    }
    if (Mix_PlayMusic(music, kNoLoops) == -1) {
        Mix_FreeMusic(music);
        Mix_CloseAudio();
        return fail(SDL_GetError(), request, DemoFailure::other);
    }

    bool left_early = false;  // Escape or a stop signal: no end card
    while (Mix_PlayingMusic()) {
        const double elapsed_ms = now_ms() - start_ms;
        if (escape_pressed() || stop_signal()) {
            left_early = true;
            break;
        }
        uint8_t* screen = display_lock(&display);
        frame_pass(&analyzer, soundtrack.track, elapsed_ms, &noise, view_target(&view, screen));
        wav_let_go_behind(soundtrack.track, elapsed_ms, &held_from);
        view_show(&view, elapsed_ms, screen);
        display_present(&display);
    }
    if (!left_early) show_end_card(&display);

    Mix_HaltMusic();
    Mix_FreeMusic(music);
    Mix_CloseAudio();
    display_close(&display);
    if (stop_signal()) return stopped();
    return {};
}
