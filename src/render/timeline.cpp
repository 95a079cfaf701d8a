#include "render/timeline.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "common/timeline.h"

double frame_time_ms(int64_t k, const FrameRate& rate) {
    assert(rate.num > 0 && rate.den > 0 && (rate.ratio || rate.value > 0.0));
    const double frame = static_cast<double>(k);
    if (rate.ratio)
        return (frame * kMsPerSecond * static_cast<double>(rate.den)) /
               static_cast<double>(rate.num);
    return frame * kMsPerSecond / rate.value;
}

double rate_per_second(const FrameRate& rate) {
    return static_cast<double>(rate.num) / static_cast<double>(rate.den);
}

int64_t frames_before(double limit_ms, const FrameRate& rate) {
    if (!(limit_ms > 0.0)) return 0;
    // The estimate is off by at most one either way; the loops settle it on the frame times
    // themselves, so the count agrees with frame_time_ms to the last bit.
    int64_t n = static_cast<int64_t>(std::ceil(limit_ms * rate_per_second(rate) / kMsPerSecond));
    while (n > 0 && frame_time_ms(n - 1, rate) >= limit_ms) --n;
    while (frame_time_ms(n, rate) < limit_ms) ++n;
    return n;
}

int64_t pass_shown(int64_t frame, const FrameRate& fps, const FrameRate& rate) {
    // Passes at or before the frame's time, less one; the same comparison of computed times as
    // the render loop makes, so the two agree to the last bit.
    const double frame_ms = frame_time_ms(frame, fps);
    int64_t n = static_cast<int64_t>(std::floor(frame_ms * rate_per_second(rate) / kMsPerSecond));
    while (n > 0 && frame_time_ms(n, rate) > frame_ms) --n;
    while (frame_time_ms(n + 1, rate) <= frame_ms) ++n;
    return n;
}

RenderPlan plan_timeline(const FrameRate& fps, const FrameRate& pass_rate, const Span& span,
                         double track_ms, bool end_card) {
    RenderPlan plan;
    plan.fps = fps;
    plan.pass_rate = pass_rate;
    const double start_ms = span.start_s * kMsPerSecond;
    plan.first_frame = frames_before(start_ms, fps);
    if (span.frames >= 0) {
        plan.music_frames = plan.first_frame + span.frames;
    } else {
        const double end_ms =
            span.seconds >= 0.0 ? start_ms + span.seconds * kMsPerSecond : track_ms;
        plan.music_frames = std::max(plan.first_frame, frames_before(end_ms, fps));
    }
    const bool whole_tail = span.frames < 0 && span.seconds < 0.0;
    if (whole_tail && end_card) plan.card_frames = frames_before(kEndCardMs, fps);
    // The span ends where the first frame not rendered would start; with no frame of music to
    // show, no pass is needed at all.
    if (plan.music_frames > plan.first_frame) {
        plan.passes = frames_before(frame_time_ms(plan.music_frames, fps), pass_rate);
        plan.first_pass = pass_shown(plan.first_frame, fps, pass_rate);
    }
    return plan;
}
