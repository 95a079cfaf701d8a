// Pictures of the artwork generator: a floating-point canvas to paint on, the 8-bit RGB
// picture it becomes, and PNG files through libpng.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "common/picture.h"

constexpr int kArtWidth = kImageWidth;  // pixels: the demo's screen
constexpr int kArtHeight = kImageHeight;

// Display values (0 = black, 255 = full), red, green, blue per pixel, rows top to bottom.
// Painting adds light; values above 255 are squeezed or clipped when the canvas is finished.
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;

    float* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Canvas make_canvas(int width, int height);

// 8-bit red, green, blue per pixel, rows top to bottom, no gap between rows; and, for the
// icons only, an 8-bit opacity per pixel (empty: opaque).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> alpha;
};

struct Levels {
    double red = 0.0, green = 0.0, blue = 0.0;
};

Levels mean_levels(const Picture& picture);

// The fixed per-pixel offset, in [-dither/2, dither/2), that finish() adds before rounding.
double dither_offset(int x, int y, double dither);
// One display value rounded to 8 bits after adding `offset`, clipped to 0..255.
uint8_t to_level(double value, double offset);

// Rounds every value to 8 bits, clipping to 0..255. `dither` (in steps of one level) adds a
// fixed per-pixel offset before rounding, which hides banding in dark gradients.
Picture finish(const Canvas& canvas, double dither);

// Runs work(0) .. work(count - 1), spread over the machine's cores. Each call must touch only
// what is its own (its frame, its channel), so that the pictures come out exactly as in turn.
void for_each_in_parallel(int count, const std::function<void(int)>& work);

// Writes an 8-bit RGB PNG, RGBA when the picture has opacities; a failed write leaves no file.
Outcome write_png(const std::string& path, const Picture& picture);
// Reads any PNG as 8-bit RGB.
Outcome read_png(const std::string& path, Picture* picture);
