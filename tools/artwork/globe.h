// The globe: a sunlit planet with oceans, continents, ice caps and clouds, lit from the left
// with a soft day/night edge, on black. It turns one full turn west to east over the
// sequence, so surface features move left to right and the last frame flows into the first.
#pragma once
#include <vector>

#include "canvas.h"

constexpr int kGlobeFrames = 20;

// All frames in animation order.
std::vector<Picture> render_globe();

// The application icon: the globe as the first frame shows it, with its glow, filling a
// size × size square on a transparent background.
Picture render_globe_icon(int size);
