#include "audio/pulse_filter.h"

#include "audio/level.h"
#include "common/exact_arithmetic.h"
#include "common/frame_controls.h"

namespace {

constexpr double kClipDivisor = 6.0;   // cubic soft clip y - y^3 / 6
constexpr int32_t kPulseGain = 100;    // the unclamped level is kPulseGain * level
constexpr int32_t kStrongAbove = 200;  // an unclamped level above this is a strong pulse

}  // namespace

PulseLevels LadderFilter::step(double input) {
    const LadderTuning& t = kPulseFilter;
    // Each stage: first product plus second, then minus the feedback product, rounded in turn.
    const double x = input - t.r * y4;  // resonance from the previous pass's clipped output
    const double s1 = oldx * t.p + x * t.p - t.k * y1;
    oldx = x;
    y1 = s1;
    const double s2 = oldy1 * t.p + t.p * s1 - t.k * y2;
    oldy1 = s1;
    y2 = s2;
    const double s3 = oldy2 * t.p + t.p * s2 - t.k * y3;
    oldy2 = s2;
    y3 = s3;
    const double s4 = oldy3 * t.p + t.p * s3 - t.k * y4;
    oldy3 = s3;
    // Square, then cube, then a true division (a reciprocal multiply would round differently).
    y4 = s4 - ((s4 * s4) * s4) / kClipDivisor;

    const int64_t m = int64_t{kPulseGain} * output_level(y4);
    return PulseLevels{m <= kMaxPulse ? static_cast<int32_t>(m) : kMaxPulse, m > kStrongAbove};
}
