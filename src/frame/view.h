// What the viewer is shown of each pass: the composed picture as it is, or, in gentle mode,
// the composed picture passed through a filter in time.
//
//     PictureView view = view_start(gentle);          // allocates, once
//     frame_pass(..., view_target(&view, screen));    // compose where the view wants it
//     view_show(&view, elapsed_ms, screen);           // what the viewer sees lands in screen
//
// The demo flashes hard by design: strong flashes and pulses switch the colour routing and
// invert the star field many times a second, and noise sparkles over the whole picture. The
// gentle filter keeps, per pixel and channel, a level that moves toward each new pass by the
// weight dt / (kGentleTimeMs + dt), dt being the milliseconds since the previous pass: a
// first-order low-pass with that time constant, the same in milliseconds at any pass rate.
// Changes faster than a few a second fade to a fraction of their contrast, while the music's
// sections (white in near silence, dark and noisy when loud) still come and go within a
// second. The arithmetic is single-precision float, each product and sum rounded in turn, so
// that the renderer and the web page show the same gentle frames.
#pragma once
#include <cstdint>
#include <memory>

// The filter's time constant in milliseconds.
constexpr double kGentleTimeMs = 200.0;

struct PictureView {
    bool gentle = false;
    std::unique_ptr<uint8_t[]> composed;  // gentle: where passes are composed
    std::unique_ptr<float[]> level;       // gentle: the shown level of every byte, 0..255
    double last_ms = 0.0;                 // the previous pass's time
    bool primed = false;                  // a pass has been shown
};

// A view; gentle ones allocate their buffers here and never again.
PictureView view_start(bool gentle);

// Where to compose the next pass: `screen` itself, or the gentle view's own picture.
uint8_t* view_target(PictureView* view, uint8_t* screen);

// Puts what the viewer sees of the pass composed at `elapsed_ms` into `screen` (a picture of
// kImageBytes). Without gentle mode the pass is already there. Passes must come in time order.
void view_show(PictureView* view, double elapsed_ms, uint8_t* screen);
