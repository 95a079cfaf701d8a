// Audio analyzer: once per frame, turns the soundtrack sample at the playback position into
// the frame's control values for the compositor.
//
//     AudioAnalyzer analyzer;                       // constant coefficients, zeroed state
//     FrameControls c = analyzer.analyze(track, elapsed_ms);
//
// Exactly one sample is analysed per call, so the filters and envelopes run at the frame rate,
// not at the audio rate. State carries from one call to the next for the whole run.
#pragma once
#include <cstdint>

#include "audio/flash_filter.h"
#include "audio/pulse_filter.h"
#include "audio/wav_loader.h"
#include "common/frame_controls.h"

struct AudioAnalyzer {
    HighPassFilter flash_filter;  // high-frequency flash detector
    LadderFilter pulse_filter;    // resonant low-frequency pulse detector
    float range_env = 0.0f;       // smooth loudness envelope; drives noise_range
    float offset_env = 0.0f;      // quick loudness envelope; drives noise_offset

    FrameControls analyze(const PcmTrack& track, double elapsed_ms);
};
