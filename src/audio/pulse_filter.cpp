#include "audio/pulse_filter.h"

#include <cfloat>

#include "audio/level.h"

// The filter's bits must not depend on the compiler: every double operation is rounded to double
// before the next (SSE2 arithmetic, no x87 excess precision, no value-changing optimisations).
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not carry excess precision");
#ifdef __FAST_MATH__
#error "the pulse filter's arithmetic must not be reordered: build without -ffast-math"
#endif

namespace {

constexpr double kClipDivisor = 6.0;        // cubic soft clip y - y^3 / 6
constexpr int32_t kPulseGain = 100;         // the unclamped level is kPulseGain * level
constexpr int32_t kPulseMax = 255;          // pulse saturates here
constexpr int32_t kStrongAbove = 200;       // an unclamped level above this is a strong pulse

}  // namespace

PulseLevels LadderFilter::step(double input) {
    // Each stage: first product plus second, then minus the feedback product, rounded in turn.
    const double x = input - r * y4;  // resonance from the previous frame's clipped output
    const double s1 = oldx * p + x * p - k * y1;
    oldx = x;
    y1 = s1;
    const double s2 = oldy1 * p + p * s1 - k * y2;
    oldy1 = s1;
    y2 = s2;
    const double s3 = oldy2 * p + p * s2 - k * y3;
    oldy2 = s2;
    y3 = s3;
    const double s4 = oldy3 * p + p * s3 - k * y4;
    oldy3 = s3;
    // Square, then cube, then a true division (a reciprocal multiply would round differently).
    y4 = s4 - ((s4 * s4) * s4) / kClipDivisor;

    const int32_t q = output_level(y4);
    const int64_t m = int64_t{kPulseGain} * q;
    return PulseLevels{m <= kPulseMax ? static_cast<int32_t>(m) : kPulseMax, m > kStrongAbove};
}
