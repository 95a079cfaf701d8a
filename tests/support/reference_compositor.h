// The compositor written out the plain way, one rand() call per draw and a real ring: the
// yardstick compose_frame is timed (bench/) and checked (tests/) against. Not in the program.
#pragma once
#include <cstdint>

#include "common/frame_controls.h"
#include "common/picture.h"

// Same contract as compose_frame for w * h up to kImagePixels, ring_length 1..40 and a
// positive noise_range; draws from the C library's rand() directly.
void reference_compose_frame(uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                             const RawImage& globe, const FrameControls& controls);

// The k-th of a family of varied frame controls for comparisons and timings: every field
// spread over the analyzer's ranges (both ring lengths, both routings, all four pulse
// levels, flash and noise from their ends to their middles), the same for the same k.
FrameControls varied_controls(uint32_t k);
