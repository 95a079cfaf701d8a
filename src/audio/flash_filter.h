// Flash filter: a second-order high-pass over the analyzer's one-sample-per-frame signal.
// Its output magnitude becomes the `flash` level that lights the globe.
//
//     HighPassFilter f;                  // constant coefficients, zero history
//     FlashLevels l = f.step(sample);    // sample in -1.0000305..1
#pragma once
#include <cstdint>

struct FlashLevels {
    int32_t flash;      // 0..255, in steps of 10, saturating at 255
    int32_t flash_raw;  // unclamped: a non-negative multiple of 10
};

struct HighPassFilter {
    // Second-order high-pass at 0.06401 cycles per sample, Q about 0.867. The two-back input
    // is weighted by b0 as well: there is no separate b2.
    double b0 = 0.7833217276098514;   // current and two-back input
    double b1 = -1.5666434552197028;  // one-back input (-2 * b0)
    double a1 = -1.5015427835594561;  // one-back output
    double a2 = 0.6317441268799493;   // two-back output
    double x1 = 0.0, x2 = 0.0;        // previous two inputs
    double y1 = 0.0, y2 = 0.0;        // previous two outputs

    FlashLevels step(double input);
};
