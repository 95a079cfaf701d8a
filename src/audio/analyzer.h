// Audio analyzer: once per pass, turns the soundtrack sample at the playback position into the
// pass's control values for the compositor.
//
//     AudioAnalyzer analyzer;                                 // zeroed filters and envelopes
//     FrameControls c = analyzer.analyze(track, elapsed_ms);  // the sample playing then
//     FrameControls l = analyzer.analyze_sample(newest);      // a sample heard live
//
// Exactly one sample is analysed per call, so the filters and envelopes run at the loop's
// pass rate, not at the audio rate. State carries from one call to the next for the whole run.
//
// Frozen arithmetic. The demo's look is defined by these exact numbers, and the renderer, the
// web page and the tests pin them bit for bit (tests/support/analyzer_model.py is the
// independent model); what looks odd below is kept on purpose:
// - The tap position is (elapsed_ms + elapsed_ms) * 44100.0 / 1000.0 in doubles: the time is
//   doubled by an addition, not multiplied into the rate, because that rounds differently.
// - It counts interleaved samples, two per sample frame, so an even position reads the left
//   sample and an odd one the right: the tap wanders between the channels.
// - It is truncated toward zero to 64 bits and then only its low 32 bits kept, as the
//   original's conversion does, so a clock past 48,695 s (2^32 samples) wraps to the track's
//   start; tap_limit_ms says where. The tap then holds the last sample of the track.
// - Levels truncate |output * 32767| before scaling to 255 steps (audio/level.h).
// - The envelopes are single precision, every product and sum rounded to float in turn.
#pragma once
#include <cstdint>

#include "audio/flash_filter.h"
#include "audio/pulse_filter.h"
#include "audio/wav_loader.h"
#include "common/frame_controls.h"

// The latest time, in ms, whose tap position still fits the 32 bits kept of it: from here on
// the tap would wrap to the start of the track.
constexpr double kTapLimitMs = 48695000.0;

// The interleaved sample playing at `elapsed_ms` (see above); past the end of the track the
// last one, and silence for a track without samples.
int16_t tap_sample(const PcmTrack& track, double elapsed_ms);

struct AudioAnalyzer {
    HighPassFilter flash_filter;  // high-frequency flash detector
    LadderFilter pulse_filter;    // resonant low-frequency pulse detector
    float range_env = 0.0f;       // smooth loudness envelope; drives noise_range
    float offset_env = 0.0f;      // quick loudness envelope; drives noise_offset

    FrameControls analyze(const PcmTrack& track, double elapsed_ms);
    FrameControls analyze_sample(int16_t sample);
};
