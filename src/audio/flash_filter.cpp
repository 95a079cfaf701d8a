#include "audio/flash_filter.h"

#include "audio/level.h"
#include "common/exact_arithmetic.h"
#include "common/frame_controls.h"

namespace {

constexpr int32_t kRawGain = 10;  // flash_raw = kRawGain * level

}  // namespace

FlashLevels HighPassFilter::step(double input) {
    const HighPassCoefficients& c = kFlashFilter;
    // Left to right, each product and sum rounded to double.
    const double e = c.b1 * x1 + c.b0 * input + c.b0 * x2 - c.a1 * y1 - c.a2 * y2;
    y2 = y1;
    y1 = e;
    x2 = x1;
    x1 = input;

    const int32_t raw = kRawGain * output_level(e);
    return FlashLevels{raw <= kMaxFlash ? raw : kMaxFlash, raw};
}
