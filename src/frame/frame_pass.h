// One pass of the demo's timeline, shared by the live demo, the offline renderer and the web
// page, so that all of them compose the same frames from the same clock reading.
//
//     AudioAnalyzer analyzer;                       // zeroed filters and envelopes
//     NoiseSource noise = noise_source_checked();   // the noise sequence from its start
//     FramePass pass = frame_pass(&analyzer, track, elapsed_ms, &noise, pixels);
#pragma once
#include <cstdint>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "common/frame_controls.h"
#include "visuals/noise.h"

// What one pass decided: the controls and the pictures it composed from.
struct FramePass {
    FrameControls controls;
    int32_t star_index = 0;   // into star_frames
    int32_t globe_index = 0;  // into globe_frames
};

// Analyses the sample playing at `elapsed_ms`, picks the two pictures for that time and
// composes the frame into `pixels` (kImageWidth x kImageHeight packed blue-green-red pixels),
// drawing from `noise`. With null pixels the frame is not composed but the noise moves on as
// if it had been, so that later frames see the same noise; with null noise only the controls
// and the pictures are decided.
FramePass frame_pass(AudioAnalyzer* analyzer, const PcmTrack& track, double elapsed_ms,
                     NoiseSource* noise, uint8_t* pixels);

// The same for a sample heard live (a microphone, what the computer plays) rather than tapped
// from a track; `elapsed_ms` still turns the star field and the globe.
FramePass frame_pass_sample(AudioAnalyzer* analyzer, int16_t sample, double elapsed_ms,
                            NoiseSource* noise, uint8_t* pixels);
