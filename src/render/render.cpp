#include "render/render.h"

#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "audio/analyzer.h"
#include "common/picture.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "frame/frame_pass.h"
#include "frame/view.h"
#include "render/outputs.h"
#include "system/progress.h"
#include "system/stop_signal.h"
#include "visuals/compositor.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

RenderPlan render_plan(const RenderOptions& options, const PcmTrack& track) {
    const double track_ms = track.frames * kMsPerSecond / kSampleRateHz;
    return plan_timeline(options.fps, options.loop_fps, options.span, track_ms,
                         needs_pixels(options));
}

Outcome render(const RenderOptions& options, const RenderPlan& plan, const Soundtrack& soundtrack,
               const Say& say) {
    const PcmTrack& track = soundtrack.wav.track;
    const RunInfo run{options, plan, soundtrack,
                      framing_for(options.scale, options.size_width, options.size_height)};
    Outputs outputs;
    if (Outcome opened = outputs_open(run, &outputs); !opened) return opened;

    Progress progress = progress_start(plan.frames(), progress_wanted(options.quiet));
    const bool pictures = needs_pixels(options);
    std::vector<uint8_t> pixels(pictures ? kImageBytes : 0);
    PictureView view = view_start(options.gentle);
    AudioAnalyzer analyzer;
    // As in the demo: the noise sequence is rand()'s unseeded one, from the first pass.
    NoiseSource noise = noise_source_checked();
    int64_t skipped_draws = 0;  // noise values owed by passes not composed
    int64_t held_from = 0;      // the music's first sample frame still held in memory
    Outcome result;
    int64_t frame = plan.first_frame;  // the next output frame
    for (int64_t j = 0; j < plan.passes && result; ++j) {
        if (stop_signal() != 0) {
            result = interrupted();
            break;
        }
        if (wav_cut_short()) break;  // said below
        PassView pass;
        pass.index = j;
        pass.elapsed_ms = frame_time_ms(j, plan.pass_rate);
        const bool seen = j >= plan.first_pass;
        // Unseen passes keep the noise moving without composing, unless the gentle view
        // remembers them: what they would draw is counted, and the noise jumps over all of it
        // at once before the next picture, which costs less than moving it on pass by pass.
        uint8_t* into =
            pictures && (seen || options.gentle) ? view_target(&view, pixels.data()) : nullptr;
        if (into && skipped_draws > 0) noise.skip(std::exchange(skipped_draws, 0));
        pass.made = frame_pass(&analyzer, track, pass.elapsed_ms, into ? &noise : nullptr, into);
        wav_let_go_behind(track, pass.elapsed_ms, &held_from);
        if (pictures && !into)
            skipped_draws += frame_draws(kImageWidth, kImageHeight, pass.made.controls);
        if (!seen) progress_skip(&progress, j + 1, plan.first_pass);
        if (into) view_show(&view, pass.elapsed_ms, pixels.data());
        if (!seen) continue;
        result = outputs_pass(&outputs, pass);

        // Every output frame from here up to the next pass shows this one.
        const double next_ms = j + 1 < plan.passes ? frame_time_ms(j + 1, plan.pass_rate)
                                                   : std::numeric_limits<double>::infinity();
        for (bool repeat = false;
             frame < plan.music_frames && result && frame_time_ms(frame, plan.fps) < next_ms;
             ++frame, repeat = true) {
            result = outputs_frame(&outputs, frame - plan.first_frame,
                                   pictures ? pixels.data() : nullptr, repeat);
            progress_update(&progress, frame + 1 - plan.first_frame);
        }
    }
    if (result && wav_cut_short())
        result = failed(soundtrack.name + ": the file was cut short while it was read");
    // After the music, the end card, as the demo shows it: no analysis and no noise.
    for (int64_t c = 0; c < plan.card_frames && result; ++c, ++frame) {
        if (stop_signal() != 0) {
            result = interrupted();
            break;
        }
        result = outputs_frame(&outputs, frame - plan.first_frame, end_card.bgr, c > 0);
        progress_update(&progress, frame + 1 - plan.first_frame);
    }
    // A signal that cut a write short reports as the interruption it is.
    if (!result && stop_signal() != 0) result = interrupted();
    if (result) result = outputs_finish(&outputs);
    if (result) {
        progress_finish(&progress, frame - plan.first_frame);
        for (const std::string& line : outputs_summaries(outputs)) say(line);
    } else if (progress.enabled) {
        std::fputc('\n', stderr);  // keep the bar's last state above the message that follows
    }
    return result;  // unfinished outputs go with `outputs`
}
