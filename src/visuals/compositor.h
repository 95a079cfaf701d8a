// Frame compositor: writes every pixel of a frame from the globe picture scaled by `flash`,
// the inverted star field scaled by `pulse`, and noise whose range follows the loudness.
#pragma once
#include <cstdint>

#include "audio/analyzer.h"
#include "visuals/image_bank.h"

// The noise ring holds at most this many entries (the analyzer asks for 20 or 40).
constexpr int32_t kMaxRingLength = 40;

// Fills `w` x `h` packed blue-green-red pixels at `pixels` (rows of exactly 3 * w bytes) from
// the star-field picture `star`, the globe picture `globe` and the frame's controls. Draws
// from the program's noise sequence (noise.h): ring_length values for the ring, then one per
// composed pixel, in pixel order. Writes nothing outside the w * h pixels.
//
// Only the pictures' kImagePixels pixels exist to compose from: when w * h is larger, the
// first kImagePixels pixels are composed and the rest of the target is left untouched (call
// it with a target of exactly the pictures' size to have every pixel written). A
// non-positive w or h gives no pixels; the ring is still filled.
// A ring_length outside 1..kMaxRingLength is taken as the nearest length in that range, and a
// noise_range of 0 (which has no remainder) gives noise 0 on every draw.
void compose_frame(uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                   const RawImage& globe, const FrameControls& controls);

// How many draws back from the current pixel's own draw a ring read lands, for a read at
// `read_offset` entries past the write position of a ring of `ring_length` entries: the entry
// there was written that many pixels earlier (or by the per-frame fill). 1..ring_length.
int32_t ring_lag(int64_t read_offset, int32_t ring_length);
