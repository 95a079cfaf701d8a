#include "driver/listen.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio/analyzer.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "driver/capture.h"
#include "driver/clock.h"
#include "driver/command.h"
#include "driver/display.h"
#include "frame/frame_pass.h"
#include "frame/view.h"
#include "system/stop_signal.h"
#include "visuals/noise.h"

namespace {

constexpr int kFailureStatus = kExitCannotStart;
// Pictures a second: what a screen shows. More would be composed for nobody.
constexpr double kPicturesPerSecond = 60.0;
constexpr double kPictureMs = kMsPerSecond / kPicturesPerSecond;
constexpr double kPassMs = kMsPerSecond / kLiveLookPassesPerSecond;
// Sound that stops arriving for this long (a suspended source, a frozen server) is silence.
constexpr double kStaleMs = 200.0;
// Between pictures the ring is looked at this often for an onset: sound clearly louder than
// the loudest the last picture heard. An onset is shown at once rather than at the next of the
// 60 pictures, which would leave it waiting up to a whole picture (16.7 ms) on its way to the
// screen; the period of pictures then starts again from it. Onsets come no sooner than half a
// picture after the previous one, so pictures never come more than 120 a second.
constexpr double kNapMs = 1.0;
constexpr double kOnsetAfterMs = kPictureMs / 2;
constexpr int kOnsetRise = 4096;  // of the 32,767 of full scale: an eighth

DemoEnd fail(const std::string& line) {
    say(line);
    return {kFailureStatus, 0};
}

// Every pending event: Escape ends the run.
bool escape_pressed() {
    SDL_Event event;
    bool escape = false;
    while (SDL_PollEvent(&event))
        escape |= event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE;
    return escape;
}

// What the passes since the previous picture hear: the sound that arrived meanwhile, spread
// evenly over them, so that the last pass hears the newest sample (the right one of its frame).
struct Hearing {
    uint64_t heard = 0;         // ring samples the passes have been given
    double news_ms = 0.0;       // when sound last arrived
    uint64_t from = 0, to = 0;  // this picture's span of new samples
    bool quiet = false;         // nothing arrived for kStaleMs: silence
    uint64_t scanned = 0;       // ring samples looked at for an onset
    int news_peak = 0;          // the loudest sample arrived since the last picture
    int shown_peak = 0;         // the loudest the last picture heard

    // Whether the sound arrived since the last picture holds an onset.
    bool onset(const Capture& capture) {
        const uint64_t end = capture_written(capture);
        uint64_t at =
            std::max({scanned, heard, end - std::min<uint64_t>(end, SoundRing::kSamples / 2)});
        for (; at < end; ++at)
            news_peak =
                std::max(news_peak, std::abs(int{capture.ring.samples[at % SoundRing::kSamples]}));
        scanned = end;
        return news_peak > shown_peak + kOnsetRise;
    }
    void update(const Capture& capture, double elapsed_ms) {
        onset(capture);
        shown_peak = news_peak;
        news_peak = 0;
        to = scanned;
        from = std::max(heard, to - std::min<uint64_t>(to, SoundRing::kSamples / 2));
        if (to != from) news_ms = elapsed_ms;
        quiet = to == from && elapsed_ms - news_ms > kStaleMs;
        heard = to;
    }
    int16_t sample(const Capture& capture, int64_t pass, int64_t passes) const {
        if (quiet || to == 0) return 0;
        const uint64_t at =
            to == from
                ? to - 1
                : (from +
                   (to - from) * static_cast<uint64_t>(pass + 1) / static_cast<uint64_t>(passes) -
                   1) |
                      1;
        return capture.ring.samples[at % SoundRing::kSamples];
    }
};

}  // namespace

DemoEnd listen_demo(const std::string& source, bool gentle) {
    // The sound first, so that a missing server is said before the screen goes black.
    Capture capture;
    const Outcome started = capture_start(&capture, source);
    if (started.kind == OutcomeKind::interrupted) return {0, stop_signal()};
    if (!started) return fail(started.message);
    std::fprintf(stderr,
                 "%slistening to %s (sound every %.1f ms); the picture answers sound and stays "
                 "white while all is silent\n",
                 kMessagePrefix, quoted_name(capture.description).c_str(),
                 capture.fragment_bytes * kMsPerSecond / kWavByteRate);

    // No sound device of SDL's: nothing is played while listening.
    Display display;
    if (display_start_up(&display, SDL_INIT_VIDEO) != StartUpFailure::none) {
        std::puts(SDL_GetError());
        return {kFailureStatus, 0};
    }
    AudioAnalyzer analyzer;
    NoiseSource noise = noise_source_checked();
    PictureView view = view_start(gentle);
    Hearing hearing;
    // The analyzer runs at the live look's pass rate, pass j at j * kPassMs; a picture is
    // composed from the newest pass only, kPicturesPerSecond times a second, and at once for an
    // onset (see kNapMs). There is no end of the music: the clock only turns the star field and
    // the globe.
    const double start_ms = now_ms();
    int64_t passes = 0;
    double next_picture_ms = 0.0, last_picture_ms = -kPictureMs;
    while (!stop_signal() && !escape_pressed()) {
        const double elapsed_ms = now_ms() - start_ms;
        if (elapsed_ms < next_picture_ms) {
            if (elapsed_ms - last_picture_ms >= kOnsetAfterMs && hearing.onset(capture)) {
                next_picture_ms = elapsed_ms + kPictureMs;
            } else {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
                    std::min(kNapMs, next_picture_ms - elapsed_ms)));
                continue;
            }
        } else {
            // Behind time (a slow screen), the next picture follows at once, a pass later.
            next_picture_ms = std::max(next_picture_ms + kPictureMs, elapsed_ms + kPassMs);
        }
        last_picture_ms = elapsed_ms;
        const int64_t due =
            std::max<int64_t>(1, static_cast<int64_t>(elapsed_ms / kPassMs) + 1 - passes);
        hearing.update(capture, elapsed_ms);
        for (int64_t j = 0; j + 1 < due; ++j)
            analyzer.analyze_sample(hearing.sample(capture, j, due));
        passes += due;
        uint8_t* screen = display_lock(&display);
        frame_pass_sample(&analyzer, hearing.sample(capture, due - 1, due), elapsed_ms, &noise,
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
