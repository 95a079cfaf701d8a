// Flash filter: a second-order high-pass over the analyzer's one-sample-per-pass signal. Its
// output magnitude becomes the `flash` level that lights the globe.
//
//     HighPassFilter f;                  // zero history
//     FlashLevels l = f.step(sample);    // sample in -1.0000305..1
#pragma once
#include <cstdint>

struct FlashLevels {
    int32_t flash;      // 0..255, in steps of 10, saturating at 255
    int32_t flash_raw;  // unclamped: a non-negative multiple of 10
};

// The high-pass design b0 = b2 = (1 + cos w) / 2 / (1 + alpha), b1 = -(1 + cos w) / (1 + alpha),
// a1 = -2 cos w / (1 + alpha), a2 = (1 - alpha) / (1 + alpha) at w = 2 pi * 0.06401 radians
// per pass, Q about 0.867; these stored values are the demo's, to the last bit. The two-back
// input is weighted by b0 as well: there is no separate b2.
struct HighPassCoefficients {
    double b0;  // current and two-back input
    double b1;  // one-back input (-2 * b0)
    double a1;  // one-back output
    double a2;  // two-back output
};
constexpr HighPassCoefficients kFlashFilter = {0.7833217276098514, -1.5666434552197028,
                                               -1.5015427835594561, 0.6317441268799493};

struct HighPassFilter {
    double x1 = 0.0, x2 = 0.0;  // previous two inputs
    double y1 = 0.0, y2 = 0.0;  // previous two outputs

    FlashLevels step(double input);
};
