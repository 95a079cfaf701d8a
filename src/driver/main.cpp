// starglobe: plays the soundtrack full screen and, for as long as it plays, composes one
// picture per loop pass from the star field, the turning globe and noise, all driven by the
// soundtrack sample at the playback position. Then a closing card for ten seconds.
//
// Start-up failures print one line (SDL's error, or our own) and end with status -1.
#include <SDL.h>
#include <SDL_mixer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "common/picture.h"
#include "common/stop_signal.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "driver/clock.h"
#include "driver/display.h"
#include "frame/frame_pass.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr int kScreenBits = 24;     // bits per pixel: bytes blue, green, red
constexpr Uint32 kScreenFlags = SDL_HWSURFACE | SDL_DOUBLEBUF | SDL_FULLSCREEN;
constexpr const char* kCaption = "Demo";

constexpr int kAudioRate = kSampleRateHz;  // the soundtrack's own rate: no resampling
constexpr Uint16 kAudioFormat = AUDIO_S16LSB;
constexpr int kAudioChannels = kWavChannels;
constexpr int kAudioChunk = 1024;        // sample frames per mixer buffer

constexpr const char* kSoundtrackPath = "tessaloon.wav";
constexpr int kPlayOnce = 0;             // music loops

constexpr int kFailure = -1;             // exit status 255

// After the shutdown: end by the signal that asked for it, so the caller sees it.
[[noreturn]] void end_by_stop_signal() {
    SDL_Quit();  // the exit hook would not run
    die_of_signal(stop_signal());
}

int fail(const char* message) {
    std::puts(message);
    return kFailure;
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

int main(int, char**) {
    // SDL turns Ctrl-C and kill into a quit event, which the loop ignores like a window-close
    // request; that would leave the demo deaf to them. They stop it here instead, through the
    // ordinary shutdown, so that the display mode and the sound device are given back. Set
    // before SDL starts, which then leaves them in place.
    install_stop_handlers();
    if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0) return fail(SDL_GetError());
    std::atexit(SDL_Quit);

    SDL_Surface* screen = SDL_SetVideoMode(kImageWidth, kImageHeight, kScreenBits, kScreenFlags);
    if (!screen) return fail(SDL_GetError());
    SDL_WM_SetCaption(kCaption, nullptr);
    SDL_ShowCursor(SDL_DISABLE);
    Display display;
    if (!display_open(&display, screen)) return fail(SDL_GetError());

    if (Mix_OpenAudio(kAudioRate, kAudioFormat, kAudioChannels, kAudioChunk) == -1)
        return fail(SDL_GetError());

    PcmTrack track;
    if (!load_wav(kSoundtrackPath, &track.frames, &track.samples)) {
        Mix_CloseAudio();
        return fail("Failed to load WAV");
    }
    AudioAnalyzer analyzer;
    // The noise is rand()'s unseeded sequence; a checked private copy of its generator stands in
    // for the locked library calls where this C library really produces that sequence.
    NoiseSource noise = noise_source_checked();

    Mix_Music* music = Mix_LoadMUS(kSoundtrackPath);
    // The origin is taken before the load is checked, so elapsed time also counts the time that
    // starting playback takes.
    const double start_ms = now_ms();
    if (!music) {
        Mix_CloseAudio();
        return fail(SDL_GetError());
    }
    if (Mix_PlayMusic(music, kPlayOnce) == -1) {
        Mix_FreeMusic(music);
        Mix_CloseAudio();
        return fail(SDL_GetError());
    }

    bool left_early = false;  // Escape or a stop signal: no end card
    while (Mix_PlayingMusic()) {
        const double elapsed_ms = now_ms() - start_ms;
        if (escape_pressed() || stop_signal()) {
            left_early = true;
            break;
        }
        frame_pass(&analyzer, track, elapsed_ms, &noise, display_lock(&display));
        display_present(&display);
    }
    if (!left_early) show_end_card(&display);

    Mix_HaltMusic();
    Mix_FreeMusic(music);
    Mix_CloseAudio();
    display_close(&display);
    if (stop_signal()) end_by_stop_signal();
    return 0;
}
