// What the viewer is shown of each pass: the composed picture as it is, or, in gentle mode,
// the composed picture passed through a filter in time that keeps it from flashing.
//
//     PictureView view = view_start(gentle);          // allocates, once
//     compose_frame(view_target(&view, screen), ...); // compose where the view wants it
//     view_show(&view, elapsed_ms, screen);           // what the viewer sees lands in screen
//
// The demo flashes hard by design: strong flashes and pulses switch the colour routing and
// invert the star field many times a second, and noise sparkles over the whole picture. The
// gentle view does two things, both in milliseconds, the same at any pass rate:
// - It renews slowly. Each pixel keeps showing one composed pass, colours and all, and takes
//   the newest pass only once every kGentleRenewMs, each pixel at its own moment: the pixels
//   take their turns in a fixed scattered order, kImagePixels of them every kGentleRenewMs. So
//   the noise still sparkles in full colour, only a pixel at a time and a few times a second,
//   and any area of the picture shows a mix of the passes of the last kGentleRenewMs: its
//   light follows the music's sections but cannot jump, and fast flashes and pulses fade to a
//   fraction of their contrast. (Averaging passes instead would turn the noise grey.) Whole
//   numbers and copies, so that the renderer and the web page show the same gentle frames.
// - It limits. Music can still pulse hard and fast enough to flash through the renewal, so the
//   picture shown is measured as the flash check measures it (frame/flash_measure.h), cell by
//   cell and more strictly: a cell that has made its allowance of transitions within the last
//   stretch of time keeps what it shows, missing its pixels' turns, until a further transition
//   fits. No cell, and so no quarter of any field, can then flash more than
//   kMaxFlashesPerSecond times in any second.
#pragma once
#include <cstdint>
#include <memory>

#include "frame/flash_measure.h"

// How often each pixel takes the newest pass, in milliseconds.
constexpr double kGentleRenewMs = 200.0;

// The limit, stricter than the check on every count so that what the check sees of the
// pictures shown (whole frames, a few of the passes) always fits it: transitions of 0.07
// rather than 0.10 with the darker state below 0.85 (red: 14 rather than 20), measured on
// every pixel as the check does, at most 6 (three flashes) in any 1.2 s rather than 1 s.
constexpr int kLimitTransitions = kMaxFlashesPerSecond * kTransitionsPerFlash;
constexpr double kLimitWindowMs = 1200.0;

// A cell's light as shown: the sums of its pixels' linear red, green and blue, each 0..1 in
// units of 2^-kCellSumBits, kept up to date pixel by pixel. Whole numbers, so that they never
// drift however long the view runs.
constexpr int kCellSumBits = 24;
struct CellSums {
    int64_t red = 0, green = 0, blue = 0;
};

// A cell's transitions lately, for the limit.
struct CellPace {
    Zigzag general, red;       // over what the cell has shown
    RecentTransitions recent;  // of either kind, in ms; never more than kLimitTransitions
};

struct PictureView {
    bool gentle = false;
    std::unique_ptr<uint8_t[]> composed;  // gentle: where passes are composed
    std::unique_ptr<uint8_t[]> shown;     // gentle: what the viewer sees
    std::unique_ptr<uint8_t[]> before;    // gentle: the renewed pixels' bytes before this pass
    std::unique_ptr<CellPace[]> pace;     // gentle: per cell, for the limit
    std::unique_ptr<CellSums[]> sums;     // gentle: per cell, of `shown`
    int64_t turns = 0;                    // pixels' turns taken since the start (see above)
    bool primed = false;                  // a pass has been shown
};

// A view; gentle ones allocate their buffers here and never again.
PictureView view_start(bool gentle);

// Where to compose the next pass: `screen` itself, or the gentle view's own picture.
uint8_t* view_target(PictureView* view, uint8_t* screen);

// Puts what the viewer sees of the pass composed at `elapsed_ms` into `screen` (a picture of
// kImageBytes). Without gentle mode the pass is already there. Passes must come in time order.
void view_show(PictureView* view, double elapsed_ms, uint8_t* screen);

// The same without handing the picture out: for a pass nobody sees, which the gentle view
// must still take in to show the later ones as it would have.
void view_take(PictureView* view, double elapsed_ms);
