// The star field: a violet nebula with a bright cluster in its middle and a bright star that
// crosses the whole field once over the sequence. The sequence loops: the crossing star is
// out of sight at the seam and every twinkle completes whole cycles.
#pragma once
#include <vector>

#include "canvas.h"

constexpr int kStarFieldFrames = 24;

// The mean level of each channel over the sequence is set to these values (0..255); the
// demo's compositor is balanced for them.
constexpr double kStarMeanRed = 22.0;
constexpr double kStarMeanGreen = 4.0;
constexpr double kStarMeanBlue = 36.0;

// All frames in animation order. Fails when the nebula cannot be balanced to the levels above
// (the stars alone would be too bright).
Outcome render_star_field(std::vector<Picture>* frames);
