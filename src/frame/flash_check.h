// The flash check (the renderer's --flashes): how often the pictures flash, by the general-flash
// and red-flash definitions of WCAG 2.2 (success criterion 2.3.1 and its notes), counted over the
// frames the renderer outputs, at the output frame rate.
//
//     FlashCheck check = flash_check_start(60.0);     // frames a second
//     flash_check_frame(&check, picture);             // every output frame, in order
//     ...check.seconds: one FlashSecond per second of frames...
//
// The measure and its interpretation of the definitions are frame/flash_measure.h's; here, on
// top of it:
// - A flash is a pair of opposing transitions: a cell's flashes in a period are half its
//   transitions there. A window has as many flashes in a period as a quarter of its area
//   (a quarter of its cells) has at least: the flash must cover a quarter of the field.
// - "Any one second": every period of one second of frames, sliding frame by frame; a second
//   of output reports the most flashes in any period that ends within it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/flash_measure.h"

// The worst of one second of output.
struct FlashSecond {
    int32_t general = 0;   // most general flashes in a one-second period ending in it
    int32_t red = 0;       // most red flashes likewise
    int32_t window_x = 0;  // the top-left pixel of the window with the most general flashes
    int32_t window_y = 0;
    double luminance = 0.0;  // the mean relative luminance of its frames, 0..1
    int32_t frames = 0;      // frames in it so far
};

struct FlashCheck {
    double fps = 60.0;
    int64_t frames = 0;                // frames seen
    std::vector<Zigzag> general, red;  // per cell
    // Per cell, the frames of its transitions within the last second.
    std::vector<RecentTransitions> general_at, red_at;
    std::vector<FlashSecond> seconds;  // one per second of frames seen so far
};

FlashCheck flash_check_start(double fps);

// Takes the next output frame: 400 x 300 pixels of blue, green, red.
void flash_check_frame(FlashCheck* check, const uint8_t* picture);

// How many seconds exceed kMaxFlashesPerSecond, general or red; and the worst second.
int32_t seconds_failing(const FlashCheck& check);
size_t worst_second(const FlashCheck& check);
