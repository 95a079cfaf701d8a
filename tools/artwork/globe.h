// The globe: a sunlit planet with oceans, continents, ice caps and clouds, lit from the left
// with a soft day/night edge, on black. It turns one full turn west to east over the
// sequence, so surface features move left to right and the last frame flows into the first.
#pragma once
#include <vector>

#include "canvas.h"

constexpr int kGlobeFrames = 20;

// All frames in animation order.
std::vector<Picture> render_globe();
