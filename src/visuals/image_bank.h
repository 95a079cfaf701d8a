// Image bank: every picture of the demo, compiled in as read-only data in exactly the pixel
// layout of the 24-bit display surface, so a picture is read byte for byte against the surface
// or copied into it whole. Nothing is loaded or decoded at run time.
#pragma once
#include <array>
#include <cstdint>

#include "common/picture.h"

extern const std::array<const RawImage*, kStarFrameCount> star_frames;    // animation order
extern const std::array<const RawImage*, kGlobeFrameCount> globe_frames;  // animation order
extern const RawImage& end_card;                                          // white title on black

// The pictures showing at `elapsed_ms`: star_frames[star_index(ms)] and
// globe_frames[globe_index(ms)]. A negative time (only a failing clock gives one) picks frame 0.
const RawImage* star_for(double elapsed_ms);
const RawImage* globe_for(double elapsed_ms);
int32_t star_index(double elapsed_ms);
int32_t globe_index(double elapsed_ms);
