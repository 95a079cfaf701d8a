#include "audio/flash_filter.h"

#include <cfloat>
#include <cmath>

// The filter's bits must not depend on the compiler: every double operation is rounded to double
// before the next (SSE2 arithmetic, no x87 excess precision, no value-changing optimisations).
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not carry excess precision");
#ifdef __FAST_MATH__
#error "the flash filter's arithmetic must not be reordered: build without -ffast-math"
#endif

namespace {

constexpr int32_t kFullScaleSample = 32767;  // output 1.0 maps to the largest 16-bit sample
constexpr double kFullScale = 32767.0;
constexpr int32_t kLevelSteps = 255;        // levels per full scale, before the x10 gain
constexpr int32_t kRawGain = 10;        // flash_raw = kRawGain * level
constexpr int32_t kFlashMax = 255;      // flash saturates here

// Truncates toward zero to 32 bits. The filter keeps |E * 32767| below about 71,000, far inside
// the range; outside it (never reached from the analyzer's tap) the value saturates instead of
// being undefined.
int32_t truncate_i32(double v) {
    if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN + 1;
    if (!(v < 2147483648.0)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace

FlashLevels HighPassFilter::step(double input) {
    // Left to right, each product and sum rounded to double.
    const double e = b1 * x1 + b0 * input + b0 * x2 - a1 * y1 - a2 * y2;
    y2 = y1;
    y1 = e;
    x2 = x1;
    x1 = input;

    // Truncate the scaled output first, then take the magnitude.
    const int32_t s = std::abs(truncate_i32(e * kFullScale));
    // 64-bit only so that a saturated s stays defined; in range the 32-bit product never overflows.
    const int32_t q = static_cast<int32_t>(int64_t{s} * kLevelSteps / kFullScaleSample);
    const int32_t raw = kRawGain * q;
    return FlashLevels{raw <= kFlashMax ? raw : kFlashMax, raw};
}
