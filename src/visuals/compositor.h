// Frame compositor: writes every pixel of a frame from the globe picture scaled by `flash`,
// the inverted star field scaled by `pulse`, and noise whose range follows the loudness.
#pragma once
#include <cstdint>

#include "audio/analyzer.h"
#include "visuals/image_bank.h"

// Fills `w` x `h` packed blue-green-red pixels at `pixels` (rows of exactly 3 * w bytes) from
// the star-field picture `star`, the globe picture `globe` and the frame's controls. Draws
// ring_length + w * h values from the program's noise sequence.
void compose_frame(uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                   const RawImage& globe, const FrameControls& controls);
