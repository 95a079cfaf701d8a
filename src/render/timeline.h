// The renderer's timeline: output frames at --fps and analysed passes at --loop-fps over the
// same span of demo time, which of them a run renders, and which pass each frame shows.
//
//     RenderPlan plan = plan_timeline(fps, pass_rate, span, track_ms, end_card);
//     for passes j in [0, plan.passes): frame_time_ms(j, plan.pass_rate) ...
//     frame k in [plan.first_frame, plan.music_frames) shows pass_shown(k, fps, pass_rate)
//
// Frame k at a rate is taken at frame_time_ms(k, rate) ms after the music starts. Every pass
// from 0 runs, in order, so that filter and envelope state and the noise are exactly the live
// demo's; the passes before the first rendered frame run unseen.
#pragma once
#include <cstdint>

#include "audio/analyzer.h"

// A frame rate as given: a whole or decimal number (60, 29.97) or a ratio N/D (30000/1001).
// num / den is the exact rate in every case (29.97 is 2997/100), which is what ffmpeg is told.
struct FrameRate {
    int64_t num = 60;
    int64_t den = 1;
    bool ratio = false;   // given as N/D
    double value = 60.0;  // the number as given, when not a ratio
};

// The longest timeline, in ms: the analyzer's tap holds the last sample of a track up to here
// and would wrap to its start beyond (audio/analyzer.h). About 13 hours 31 minutes.
constexpr double kMaxTimelineMs = kTapLimitMs;

// Milliseconds after the start of the music at which frame `k` at `rate` is taken:
// (k * 1000.0 * D) / N for a ratio, k * 1000.0 / F for a number F. These exact double
// expressions keep whole-number rates on the very frame times the live demo would read.
double frame_time_ms(int64_t k, const FrameRate& rate);

// The rate as a double, num / den, for estimates only.
double rate_per_second(const FrameRate& rate);

// The number of frames at `rate` that start before `limit_ms`.
int64_t frames_before(double limit_ms, const FrameRate& rate);

// The analysed pass that output frame `frame` shows: the latest one at or before its time.
int64_t pass_shown(int64_t frame, const FrameRate& fps, const FrameRate& pass_rate);

// What the command line asks of the timeline.
struct Span {
    int64_t frames = -1;    // --frames: this many output frames; -1 when not given
    double seconds = -1.0;  // --seconds: frames that start within this long; negative: not given
    double start_s = 0.0;   // --start: the first frame is the first at or after this time
};

// How many of each kind of frame a run has.
struct RenderPlan {
    FrameRate fps;             // output frames a second
    FrameRate pass_rate;       // analysed passes a second
    int64_t first_frame = 0;   // the first output frame rendered (by --start)
    int64_t music_frames = 0;  // output frames end here while the music plays
    int64_t card_frames = 0;   // end-card frames after them
    int64_t first_pass = 0;    // the first pass shown; the ones before it run unseen
    int64_t passes = 0;        // analysed passes end here

    int64_t frames() const { return music_frames - first_frame + card_frames; }
};

// The plan for `span` over a track of `track_ms`. Output frames: --frames as given from the
// first; with --seconds every frame that starts before start + seconds; with neither every
// frame that starts before the end of the track, then, when `end_card`, ten seconds of end
// card. Passes run up to the time of the first frame not rendered.
RenderPlan plan_timeline(const FrameRate& fps, const FrameRate& pass_rate, const Span& span,
                         double track_ms, bool end_card);
