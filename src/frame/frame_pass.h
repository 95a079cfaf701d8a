// What one pass of the demo's timeline decided (frame/run.h runs the passes): what the
// renderer's outputs and the tests look at.
#pragma once
#include <cstdint>

#include "common/frame_controls.h"

// The controls the analysis gave and the two pictures the pass composes from.
struct FramePass {
    FrameControls controls;
    int32_t star_index = 0;   // into star_frames
    int32_t globe_index = 0;  // into globe_frames
};
