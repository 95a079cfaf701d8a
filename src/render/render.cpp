#include "render/render.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "audio/analyzer.h"
#include "common/picture.h"
#include "common/stop_signal.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "frame/frame_pass.h"
#include "render/progress.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kTrackRate = kSampleRateHz;  // sample frames per second of every soundtrack
constexpr double kBytesPerGb = 1e9;
constexpr double kNoteFromGb = 1.0;  // smaller --raw outputs pass without a note

}  // namespace

int64_t frames_before(double limit_ms, const FrameRate& rate) {
    if (!(limit_ms > 0.0)) return 0;
    // The estimate is off by at most one either way; the loops settle it on the frame times
    // themselves, so the count agrees with frame_time_ms to the last bit.
    int64_t n = static_cast<int64_t>(std::ceil(limit_ms * rate_per_second(rate) / kMsPerSecond));
    while (n > 0 && frame_time_ms(n - 1, rate) >= limit_ms) --n;
    while (frame_time_ms(n, rate) < limit_ms) ++n;
    return n;
}

RenderPlan render_plan(const RenderOptions& options, const PcmTrack& track) {
    RenderPlan plan;
    plan.pass_rate = pass_rate(options);
    if (options.frames >= 0) {
        plan.music_frames = options.frames;
    } else {
        const double span_ms = options.seconds >= 0.0 ? options.seconds * kMsPerSecond
                                                      : track.frames * kMsPerSecond / kTrackRate;
        plan.music_frames = frames_before(span_ms, options.fps);
    }
    // The span ends where the first frame not rendered would start.
    plan.passes = frames_before(frame_time_ms(plan.music_frames, options.fps), plan.pass_rate);
    const bool whole_production = options.frames < 0 && options.seconds < 0.0;
    if (whole_production && shows_frames(options))
        plan.card_frames = frames_before(kEndCardMs, options.fps);
    return plan;
}

int64_t pass_shown(int64_t frame, const FrameRate& fps, const FrameRate& rate) {
    // Passes at or before the frame's time, less one; the same comparison of computed times as
    // render() makes, so the two agree to the last bit.
    const double frame_ms = frame_time_ms(frame, fps);
    int64_t n = static_cast<int64_t>(std::floor(frame_ms * rate_per_second(rate) / kMsPerSecond));
    while (n > 0 && frame_time_ms(n, rate) > frame_ms) --n;
    while (frame_time_ms(n + 1, rate) <= frame_ms) ++n;
    return n;
}

std::string raw_size_note(const RenderOptions& options, const RenderPlan& plan) {
    const double gb = static_cast<double>(plan.passes) * kImageBytes / kBytesPerGb;
    if (options.raw_path.empty() || !options.loop_given || gb < kNoteFromGb) return "";
    char note[160];
    std::snprintf(note, sizeof note, "--raw will write %lld pictures of %zu bytes, %.1f GB",
                  static_cast<long long>(plan.passes), kImageBytes, gb);
    return note;
}

std::string render(const RenderOptions& options, const Soundtrack& soundtrack) {
    const PcmTrack& track = soundtrack.track;
    const RenderPlan plan = render_plan(options, track);
    Outputs outputs;
    std::string error = outputs_open(options, plan, soundtrack, &outputs);
    if (!error.empty()) return error;

    Progress progress =
        progress_start(plan.music_frames + plan.card_frames, progress_wanted(options.quiet));
    // An empty vector's data() is null: frame_pass then skips composing.
    std::vector<uint8_t> pixels(needs_pixels(options) ? kImageBytes : 0);
    AudioAnalyzer analyzer;
    // As in the demo: the noise sequence is rand()'s unseeded one, from the first frame.
    NoiseSource noise = noise_source_checked();
    int64_t frame = 0;  // the next output frame
    for (int64_t j = 0; j < plan.passes && error.empty(); ++j) {
        if (stop_signal() != 0) {
            error = kInterrupted;
            break;
        }
        RenderedPass pass;
        pass.index = j;
        pass.elapsed_ms = frame_time_ms(j, plan.pass_rate);
        pass.pixels = pixels.empty() ? nullptr : pixels.data();
        pass.made = frame_pass(&analyzer, track, pass.elapsed_ms, &noise, pixels.data());
        error = outputs_pass(&outputs, pass);

        // Every output frame from here up to the next pass shows this one.
        const double next_ms = j + 1 < plan.passes ? frame_time_ms(j + 1, plan.pass_rate)
                                                   : std::numeric_limits<double>::infinity();
        for (bool repeat = false; frame < plan.music_frames && error.empty() &&
                                  frame_time_ms(frame, options.fps) < next_ms;
             ++frame, repeat = true) {
            error = outputs_frame(&outputs, frame, pass.pixels, repeat);
            progress_update(&progress, frame + 1);
        }
    }
    // After the music, the end card, as the demo shows it: no analysis and no noise.
    for (int64_t c = 0; c < plan.card_frames && error.empty(); ++c, ++frame) {
        if (stop_signal() != 0) {
            error = kInterrupted;
            break;
        }
        error = outputs_frame(&outputs, frame, end_card.bgr, c > 0);
        progress_update(&progress, frame + 1);
    }
    // A signal that cut a write short reports as the interruption it is.
    if (!error.empty() && stop_signal() != 0) error = kInterrupted;

    if (error.empty()) {
        error = outputs_finish(&outputs);
    } else {
        outputs_abandon(&outputs);
    }
    if (error.empty()) {
        progress_finish(&progress, frame);
    } else if (progress.enabled) {
        std::fputc('\n', stderr);  // keep the bar's last state above the message that follows
    }
    return error;
}
