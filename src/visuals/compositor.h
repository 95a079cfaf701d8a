// Frame compositor: writes every pixel of a frame from the globe picture scaled by `flash`,
// the inverted star field scaled by `pulse`, and noise whose range follows the loudness.
#pragma once
#include <cstdint>

#include "common/frame_controls.h"
#include "common/picture.h"
#include "visuals/noise.h"

// Fills `w` x `h` packed blue-green-red pixels at `pixels` (rows of exactly 3 * w bytes) from
// the star-field picture `star`, the globe picture `globe` and the frame's controls. Draws
// from `noise`: ring_length values for the ring, then one per pixel, in pixel order. A
// non-positive w or h gives no pixels; the ring is still filled.
//
// The pictures have kImagePixels pixels, so w * h may not exceed that; the controls must be
// in the analyzer's ranges (ring_length 1..kLongRing, noise_range at least 1, flash and pulse
// 0..255). All asserted.
void compose_frame(uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                   const RawImage& globe, const FrameControls& controls, NoiseSource* noise);

// How many values compose_frame draws from the noise for a frame of w x h pixels: what a pass
// that is analysed but not composed skips, so that later frames see the same noise.
int64_t frame_draws(int32_t w, int32_t h, const FrameControls& controls);

// How many draws back from the current pixel's own draw a ring read lands, for a read at
// `read_offset` entries past the write position of a ring of `ring_length` entries: the entry
// there was written that many pixels earlier (or by the per-frame fill). 1..ring_length.
int32_t ring_lag(int64_t read_offset, int32_t ring_length);
