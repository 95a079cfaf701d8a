// The offline renderer's loop: runs the demo's timeline pass by pass without a window or sound
// device and hands what every pass and frame produced to the outputs (render/outputs.h).
//
//     RenderPlan plan = render_plan(options, soundtrack.wav.track);
//     Outcome o = render(options, plan, soundtrack);
//
// Passes run from 0, in order, through one DemoRun (frame/run.h), so filter and envelope state
// carries from pass to pass exactly as in the demo; when any output wants pictures every pass is
// composed, or its noise skipped before the first frame shown, so the noise sequence runs on
// as the demo's would. Output frame k shows the latest pass at or before its time; a whole
// production's picture outputs end on the end card for ten seconds.
#pragma once
#include "common/outcome.h"
#include "render/options.h"
#include "render/soundtrack.h"
#include "render/timeline.h"

// The run's frames and passes for these options over `track`.
RenderPlan render_plan(const RenderOptions& options, const PcmTrack& track);

// Runs the timeline and writes every output, with a progress bar on a terminal. The outputs
// appear together when the run succeeds, and `say` then hears what they sum up; on a failure
// or a stop signal none of them does.
Outcome render(const RenderOptions& options, const RenderPlan& plan, const Soundtrack& soundtrack,
               const Say& say);
