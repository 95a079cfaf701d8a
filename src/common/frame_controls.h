// The per-frame control record: what the analysis of one soundtrack sample hands to the
// compositor.
#pragma once
#include <cstdint>

struct FrameControls {
    int32_t flash = 0;         // 0..255: brightness factor for the globe picture
    int32_t pulse = 0;         // 0, 100, 200 or 255: darkening factor for the star field
    bool invert = false;       // selects the compositor's second channel routing
    int32_t noise_range = 1;   // 1..1019: modulus of every noise draw
    int32_t noise_offset = 0;  // 0..510: offset of the first ring read
    int32_t ring_length = 20;  // 20 or 40: entries in the frame's noise ring
};
