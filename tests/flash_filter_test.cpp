#include "audio/flash_filter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// An input that, from zero history, gives a first output E = b0 * input with
// |E * 32767| truncating to `s` (the half keeps it clear of rounding at either edge).
double input_for_scaled_output(int32_t s, double sign = 1.0) {
    const HighPassFilter fresh;
    return sign * (s + 0.5) / 32767.0 / fresh.b0;
}

FlashLevels first_step(double input) {
    HighPassFilter f;
    return f.step(input);
}

// The smallest truncated |E * 32767| that reaches level q.
int32_t scaled_output_for_level(int32_t q) { return (q * 32767 + 254) / 255; }

TEST(HighPassFilter, StartsWithTheFixedCoefficientsAndNoHistory) {
    const HighPassFilter f;
    EXPECT_EQ(f.b0, 0.7833217276098514);
    EXPECT_EQ(f.b1, -1.5666434552197028);
    EXPECT_EQ(f.b1, -2.0 * f.b0);
    EXPECT_EQ(f.a1, -1.5015427835594561);
    EXPECT_EQ(f.a2, 0.6317441268799493);
    EXPECT_EQ(f.x1, 0.0);
    EXPECT_EQ(f.x2, 0.0);
    EXPECT_EQ(f.y1, 0.0);
    EXPECT_EQ(f.y2, 0.0);
}

TEST(HighPassFilter, StepFromZeroToOneGivesB0AndSaturatesTheFlash) {
    HighPassFilter f;
    const FlashLevels l = f.step(1.0);
    EXPECT_EQ(f.y1, f.b0);  // 0.7833... * 32767 = 25667.3, q = 199
    EXPECT_EQ(l.flash_raw, 1990);
    EXPECT_EQ(l.flash, 255);
    // The history shifted: this input and output are now one back.
    EXPECT_EQ(f.x1, 1.0);
    EXPECT_EQ(f.x2, 0.0);
    EXPECT_EQ(f.y2, 0.0);
}

TEST(HighPassFilter, SecondStepFollowsTheDifferenceEquationLeftToRight) {
    HighPassFilter f;
    f.step(0.25);
    const double e1 = f.y1;
    f.step(-0.5);
    const double expected = f.b1 * 0.25 + f.b0 * -0.5 + f.b0 * 0.0 - f.a1 * e1 - f.a2 * 0.0;
    EXPECT_EQ(f.y1, expected);
    EXPECT_EQ(f.y2, e1);
    EXPECT_EQ(f.x2, 0.25);
}

TEST(HighPassFilter, BlocksAConstantInput) {
    for (const double level : {1.0, -1.0000305180437934, 0.3}) {
        HighPassFilter f;
        FlashLevels l{};
        for (int i = 0; i < 400; ++i) l = f.step(level);
        EXPECT_EQ(l.flash, 0) << level;
        EXPECT_EQ(l.flash_raw, 0) << level;
        EXPECT_LT(std::fabs(f.y1), 1e-12) << level;
    }
}

TEST(HighPassFilter, LevelsStepByTenFromTheTruncatedMagnitude) {
    EXPECT_EQ(first_step(input_for_scaled_output(128)).flash, 0);
    EXPECT_EQ(first_step(input_for_scaled_output(129)).flash, 10);
    EXPECT_EQ(first_step(input_for_scaled_output(256)).flash, 10);
    EXPECT_EQ(first_step(input_for_scaled_output(257)).flash, 20);
    EXPECT_EQ(first_step(input_for_scaled_output(386)).flash, 30);
    // A negative output is truncated toward zero, then its magnitude taken.
    EXPECT_EQ(first_step(input_for_scaled_output(128, -1.0)).flash, 0);
    EXPECT_EQ(first_step(input_for_scaled_output(129, -1.0)).flash, 10);
    EXPECT_EQ(first_step(input_for_scaled_output(257, -1.0)).flash_raw, 20);
}

TEST(HighPassFilter, FlashSaturatesAt255WhileTheRawLevelKeepsCounting) {
    const FlashLevels at25 = first_step(input_for_scaled_output(scaled_output_for_level(25)));
    EXPECT_EQ(at25.flash, 250);
    EXPECT_EQ(at25.flash_raw, 250);
    const FlashLevels at26 = first_step(input_for_scaled_output(scaled_output_for_level(26)));
    EXPECT_EQ(at26.flash, 255);
    EXPECT_EQ(at26.flash_raw, 260);
    // Just below a level boundary stays on the lower level.
    const FlashLevels below21 =
        first_step(input_for_scaled_output(scaled_output_for_level(21) - 1));
    EXPECT_EQ(below21.flash_raw, 200);
    const FlashLevels at21 = first_step(input_for_scaled_output(scaled_output_for_level(21)));
    EXPECT_EQ(at21.flash_raw, 210);
}

}  // namespace
