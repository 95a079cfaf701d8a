// One pass of the demo's timeline, shared by the live demo and the offline renderer so that
// both compose the same frames from the same clock reading.
#pragma once
#include <cstdint>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"

// Analyses the sample at `elapsed_ms`, picks the two pictures for that time and, when `pixels`
// is not null, composes the frame into it (kImageWidth x kImageHeight packed blue-green-red
// pixels). Returns the frame's controls.
FrameControls frame_pass(AudioAnalyzer* analyzer, const PcmTrack& track, double elapsed_ms,
                         uint8_t* pixels);
