// The flash check (--flashes): how often the pictures flash, by the general-flash and red-flash
// definitions of WCAG 2.2 (success criterion 2.3.1 and its notes), counted over the frames the
// renderer outputs, at the output frame rate.
//
//     FlashCheck check = flash_check_start(60.0);     // frames a second
//     flash_check_frame(&check, picture);             // every output frame, in order
//     ...check.seconds: one FlashSecond per second of frames...
//
// The interpretation chosen, for a full-screen picture whose viewing distance is unknown:
// - Relative luminance from sRGB: each channel linearised (c / 12.92 up to 0.04045, else
//   ((c + 0.055) / 1.055)^2.4), then 0.2126 R + 0.7152 G + 0.0722 B.
// - Areas, not pixels: the picture is measured in cells, kCellsAcross x kCellsAcross of them,
//   each by its mean linear red, green and blue (the pixel noise of the demo is far finer than
//   any area that matters). A 10-degree field is taken as a window a third of the picture's
//   width and height (kCellsPerWindow x kCellsPerWindow cells), at every cell position.
// - A general transition is a change of relative luminance of at least 0.10 where the darker
//   state is below 0.80; a red transition a change of at least 20 in (R - G - B) x 320 (0 where
//   negative, and 0 unless the red is saturated, R / (R + G + B) >= 0.8), linear values.
// - Changes are measured between turning points: a cell's series is followed as a zigzag that
//   turns only when it has moved back by the threshold, so a ramp over many frames is one
//   transition, and noise smaller than the threshold none.
// - A flash is a pair of opposing transitions: a cell's flashes in a period are half its
//   transitions there. A window has as many flashes in a period as a quarter of its area
//   (a quarter of its cells) has at least: the flash must cover a quarter of the field.
// - "Any one second": every period of one second of frames, sliding frame by frame; a second
//   of output reports the most flashes in any period that ends within it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kCellsPerWindow = 8;                 // a window's side, in cells
constexpr int kCellsAcross = 3 * kCellsPerWindow;  // windows a third of the picture a side
constexpr int kMaxFlashesPerSecond = 3;            // more than this fails the criterion

// The worst of one second of output.
struct FlashSecond {
    int32_t general = 0;   // most general flashes in a one-second period ending in it
    int32_t red = 0;       // most red flashes likewise
    int32_t window_x = 0;  // the top-left pixel of the window with the most general flashes
    int32_t window_y = 0;
    double luminance = 0.0;  // the mean relative luminance of its frames, 0..1
    int32_t frames = 0;      // frames in it so far
};

// A cell's series followed as a zigzag (see above).
struct Zigzag {
    double pivot = 0.0;            // the last turning point
    double ext = 0.0;              // the farthest point of the current leg
    int direction = 0;             // +1 rising, -1 falling, 0 not yet moved by the threshold
    double low = 0.0, high = 0.0;  // before the first leg: the range so far
    bool started = false;
    bool counted = false;  // the current leg has been counted as a transition
};

struct FlashCheck {
    double fps = 60.0;
    int64_t frames = 0;                // frames seen
    std::vector<Zigzag> general, red;  // per cell
    // Per cell, the frames of its transitions within the last second, oldest first.
    std::vector<std::vector<int64_t>> general_at, red_at;
    std::vector<FlashSecond> seconds;  // one per second of frames seen so far
};

FlashCheck flash_check_start(double fps);

// Takes the next output frame: 400 x 300 pixels of blue, green, red.
void flash_check_frame(FlashCheck* check, const uint8_t* picture);

// How many seconds exceed kMaxFlashesPerSecond, general or red; and the worst second.
int32_t seconds_failing(const FlashCheck& check);
size_t worst_second(const FlashCheck& check);
