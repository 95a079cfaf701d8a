#include "audio/flash_filter.h"

#include <cfloat>

#include "audio/level.h"

// The filter's bits must not depend on the compiler: every double operation is rounded to double
// before the next (SSE2 arithmetic, no x87 excess precision, no value-changing optimisations).
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not carry excess precision");
#ifdef __FAST_MATH__
#error "the flash filter's arithmetic must not be reordered: build without -ffast-math"
#endif

namespace {

constexpr int32_t kRawGain = 10;        // flash_raw = kRawGain * level
constexpr int32_t kFlashMax = 255;      // flash saturates here

}  // namespace

FlashLevels HighPassFilter::step(double input) {
    // Left to right, each product and sum rounded to double.
    const double e = b1 * x1 + b0 * input + b0 * x2 - a1 * y1 - a2 * y2;
    y2 = y1;
    y1 = e;
    x2 = x1;
    x1 = input;

    const int32_t q = output_level(e);
    const int32_t raw = kRawGain * q;
    return FlashLevels{raw <= kFlashMax ? raw : kFlashMax, raw};
}
