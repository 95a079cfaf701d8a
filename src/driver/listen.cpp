#include "driver/listen.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/timeline.h"
#include "common/wav_format.h"
#include "driver/capture.h"
#include "driver/clock.h"
#include "driver/display.h"
#include "driver/say.h"
#include "frame/run.h"
#include "system/stop_signal.h"

namespace {

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
    if (started.kind == OutcomeKind::interrupted) {
        DemoEnd stopped;
        stopped.stop_signal = stop_signal();
        return stopped;
    }
    if (!started) return demo_failed(DemoFailure::sound_source, started.message);
    std::fprintf(stderr,
                 "%slistening to %s (sound every %.1f ms); the picture answers sound and stays "
                 "white while all is silent\n",
                 kMessagePrefix, quoted_name(capture.description).c_str(),
                 capture.fragment_bytes * kMsPerSecond / kWavByteRate);

    // No sound device of SDL's: nothing is played while listening.
    Display display;
    if (DemoEnd failed = demo_start(&display, SDL_INIT_VIDEO); failed.failure != DemoFailure::none)
        return failed;
    DemoRun run = run_start(gentle);
    Hearing hearing;
    // The analyzer runs at the live look's pass rate, pass j at j * kPassMs; a picture is
    // composed from the newest pass only, kPicturesPerSecond times a second, and at once for an
    // onset (see kNapMs). There is no end of the music: the clock only turns the star field and
    // the globe.
    int64_t passes_heard = 0;
    double next_picture_ms = 0.0, last_picture_ms = -kPictureMs;
    LoopPasses passes;
    passes.escape = EscapeWatch::every_event;  // looked for every millisecond, between pictures
    passes.going = [] { return true; };
    passes.due = [&](double elapsed_ms) {
        if (elapsed_ms < next_picture_ms) {
            if (elapsed_ms - last_picture_ms < kOnsetAfterMs || !hearing.onset(capture)) {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
                    std::min(kNapMs, next_picture_ms - elapsed_ms)));
                return false;
            }
            next_picture_ms = elapsed_ms + kPictureMs;
        } else {
            // Behind time (a slow screen), the next picture follows at once, a pass later.
            next_picture_ms = std::max(next_picture_ms + kPictureMs, elapsed_ms + kPassMs);
        }
        last_picture_ms = elapsed_ms;
        return true;
    };
    passes.pass = [&](double elapsed_ms, uint8_t* screen) {
        const int64_t due =
            std::max<int64_t>(1, static_cast<int64_t>(elapsed_ms / kPassMs) + 1 - passes_heard);
        hearing.update(capture, elapsed_ms);
        for (int64_t j = 0; j + 1 < due; ++j)
            run_analyze(&run, tap_live(hearing.sample(capture, j, due)), elapsed_ms);
        passes_heard += due;
        run_compose(&run, tap_live(hearing.sample(capture, due - 1, due)), elapsed_ms, screen);
    };
    demo_loop(&display, now_ms(), passes);
    capture_stop(&capture);
    return demo_close(&display);
}
