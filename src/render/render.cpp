#include "render/render.h"

#include <cstdio>
#include <limits>
#include <vector>

#include "common/picture.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "frame/run.h"
#include "render/outputs.h"
#include "system/progress.h"
#include "system/stop_signal.h"
#include "visuals/image_bank.h"

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
    DemoRun demo = run_start(options.gentle);  // as the demo starts one
    int64_t held_from = 0;                     // the music's first sample frame still held
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
        // Passes before the first one shown keep the noise where the demo's would be.
        const Tap tap = tap_track(track);
        pass.made = !pictures ? run_analyze(&demo, tap, pass.elapsed_ms)
                    : seen    ? run_compose(&demo, tap, pass.elapsed_ms, pixels.data())
                              : run_unseen(&demo, tap, pass.elapsed_ms);
        wav_let_go_behind(track, pass.elapsed_ms, &held_from);
        if (!seen) {
            progress_skip(&progress, j + 1, plan.first_pass);
            continue;
        }
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
