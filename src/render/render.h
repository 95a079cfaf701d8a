// Offline renderer, the loop: runs the demo's timeline frame by frame without a window or sound
// device and hands what every pass and frame produced to the outputs (render_outputs.h).
//
//     RenderOptions options;      // render_options.h
//     Soundtrack soundtrack;      // soundtrack.h
//     std::string error = render(options, soundtrack);     // empty on success
//
// Two clocks run over the same span of demo time. Analysed passes sit at frame_time_ms(j, R),
// R being --loop-fps (or --fps without it); they run in order from 0 through one
// AudioAnalyzer, so filter and envelope state carries from pass to pass exactly as in the demo,
// and when any output needs pictures every pass is composed, so the noise sequence runs on as
// the demo's would. Output frames sit at frame_time_ms(k, fps), and frame k shows the latest
// pass at or before its time. --controls, --raw and --plot take every pass; --video and --png
// one picture per output frame, followed, when no length is given, by the end card for ten
// seconds as the demo shows it after the music.
#pragma once
#include <cstdint>
#include <string>

#include "audio/wav_loader.h"
#include "render/render_options.h"
#include "render/render_outputs.h"
#include "render/soundtrack.h"

// The number of frames at `rate` that start before `limit_ms`.
int64_t frames_before(double limit_ms, const FrameRate& rate);

// The run's frame counts. Output frames (at --fps): --frames as given; with --seconds every
// frame that starts before that time; with neither every frame that starts before the end of
// `track`. Analysed passes cover the same span: every pass that starts before the time of the
// first frame not rendered. End-card frames come only with --video or --png and no --frames or
// --seconds: ten seconds' worth at --fps.
RenderPlan render_plan(const RenderOptions& options, const PcmTrack& track);

// The analysed pass that output frame `frame` shows: the latest one at or before its time.
int64_t pass_shown(int64_t frame, const FrameRate& fps, const FrameRate& pass_rate);

// A note for the user before a long --raw with --loop-fps: how much it will write, in GB.
// "" when there is nothing worth saying.
std::string raw_size_note(const RenderOptions& options, const RenderPlan& plan);

// Runs the timeline over the soundtrack and writes every enabled output, with a progress bar
// on a terminal. Returns "" on success, else a one-line reason (the first output that failed,
// "interrupted" after a stop signal, or kReaderGone). Outputs appear all together when the run
// succeeds; on failure none of them appears.
std::string render(const RenderOptions& options, const Soundtrack& soundtrack);
