#include "audio/level.h"

#include <cstdlib>

#include "common/exact_arithmetic.h"
#include "common/wav_format.h"

namespace {

constexpr int32_t kLevelSteps = 255;  // levels per full scale

// Truncates toward zero to 32 bits. The filters keep |output * 32767| far inside that range
// for every sample the analyzer can tap; beyond it the value saturates instead of being
// undefined.
int32_t truncate_i32(double v) {
    if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN + 1;
    if (!(v < 2147483648.0)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace

int32_t output_level(double output) {
    const int32_t s = std::abs(truncate_i32(output * static_cast<double>(kFullScaleSample)));
    // 64-bit only so that a saturated s stays defined; in range the 32-bit product never overflows.
    return static_cast<int32_t>(int64_t{s} * kLevelSteps / kFullScaleSample);
}
