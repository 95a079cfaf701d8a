// One run of the demo's timeline, the same for the live demo, listening, the renderer and the
// web page: the analyzer, the noise and the view it owns, and what a pass of it can be.
//
//     DemoRun run = run_start(gentle);   // zeroed filters, the noise from its start, the view
//     FramePass seen = run_compose(&run, tap_track(track), elapsed_ms, screen);
//     run_unseen(&run, tap_track(track), elapsed_ms);   // a pass before the first one shown
//     run_analyze(&run, tap_live(sample), elapsed_ms);  // listening between two pictures
//
// Passes come in time order, each analysing one sample. The noise is one sequence over the
// run: a composed pass draws its values; an unseen pass owes them, and the next composed pass
// jumps over all that is owed at once, which costs less than moving on pass by pass; either
// way every picture sees the noise it would have seen had every pass been composed. A pass
// that is only analysed moves neither the noise nor the view: the passes between a live
// screen's pictures, and a render that makes no pictures at all.
#pragma once
#include <cstdint>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "common/frame_controls.h"
#include "frame/view.h"
#include "visuals/noise.h"

// What one pass decided: the controls the analysis gave and the two pictures it composes from
// (what the renderer's outputs and the tests look at).
struct FramePass {
    FrameControls controls;
    int32_t star_index = 0;   // into star_frames
    int32_t globe_index = 0;  // into globe_frames
};

// What a pass analyses: the sample of a track playing at the pass's time, or one heard live.
struct Tap {
    const PcmTrack* track = nullptr;  // the music, tapped at the pass's time...
    int16_t sample = 0;               // ...or, without one, the newest sample heard
};
inline Tap tap_track(const PcmTrack& track) { return {&track, 0}; }
inline Tap tap_live(int16_t sample) { return {nullptr, sample}; }

struct DemoRun {
    AudioAnalyzer analyzer;
    NoiseSource noise;
    PictureView view;
    int64_t owed_draws = 0;  // noise values of unseen passes, skipped before the next picture
};

// A fresh run, gentle or not. The noise is the C library's unseeded rand() sequence natively,
// and glibc's on the web page, so that the page looks as the demo does on Linux.
DemoRun run_start(bool gentle);

// A pass shown: analyses, composes and puts what the viewer sees into `screen` (kImageBytes of
// packed blue-green-red pixels).
FramePass run_compose(DemoRun* run, Tap tap, double elapsed_ms, uint8_t* screen);

// A pass nobody sees: analysed, its noise owed. A gentle view remembers the passes before the
// one it shows, so a gentle run composes the pass into its view all the same.
FramePass run_unseen(DemoRun* run, Tap tap, double elapsed_ms);

// A pass analysed only: the controls and the pictures it would compose from.
FramePass run_analyze(DemoRun* run, Tap tap, double elapsed_ms);
