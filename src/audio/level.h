// How far a filter output reaches toward full scale, in 255 steps: the common measure from
// which the flash and pulse filters derive their levels.
//
//     int32_t q = output_level(e);    // |e| of 1.0 (a full-scale sample) gives 255
#pragma once
#include <cstdint>

// |output * 32767| truncated toward zero to 32 bits (the truncation before the magnitude),
// times 255 / 32767 with truncating integer division.
int32_t output_level(double output);
