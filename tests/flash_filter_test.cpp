#include "audio/flash_filter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(HighPassFilter, StepResponseMatchesAnIndependentModel) {
    // A 0 -> 1 step, outputs from a separate double-precision model of the difference equation
    // evaluated left to right; the first is b0, q 199.
    const struct { double y; int32_t flash_raw, flash; } expected[] = {
        {0x1.910f8ba4a93b8p-1, 1990, 255}, {0x1.924c586dd7ad8p-2, 1000, 255},
        {0x1.855475eaffcf0p-4, 240, 240},  {-0x1.b000abf162538p-4, 260, 255}};
    HighPassFilter f;
    for (const auto& e : expected) {
        const FlashLevels l = f.step(1.0);
        EXPECT_EQ(f.y1, e.y);
        EXPECT_EQ(l.flash_raw, e.flash_raw) << e.y;
        EXPECT_EQ(l.flash, e.flash) << e.y;
    }
}

TEST(HighPassFilter, BlocksAConstantInput) {
    for (const double level : {1.0, -1.0000305180437934, 0.3}) {
        HighPassFilter f;
        FlashLevels l{};
        for (int i = 0; i < 400; ++i) l = f.step(level);
        EXPECT_EQ(l.flash_raw, 0) << level;
        EXPECT_LT(std::fabs(f.y1), 1e-12) << level;
    }
}

TEST(HighPassFilter, LevelsStepByTenFromTheTruncatedMagnitudeAndFlashSaturates) {
    // s is the first output's |E * 32767| truncated; 3213, 2699 and 3341 are the least s of
    // levels 25, 21 and 26. A negative output is truncated toward zero, then its magnitude taken.
    const struct { int32_t s; double sign; int32_t flash_raw, flash; } cases[] = {
        {128, 1, 0, 0},      {129, 1, 10, 10},    {256, 1, 10, 10},    {257, 1, 20, 20},
        {128, -1, 0, 0},     {129, -1, 10, 10},   {257, -1, 20, 20},   {2698, 1, 200, 200},
        {2699, 1, 210, 210}, {3213, 1, 250, 250}, {3341, 1, 260, 255}};
    for (const auto& c : cases) {
        HighPassFilter f;
        // From zero history E = b0 * input; the half keeps |E * 32767| clear of either edge.
        const FlashLevels l = f.step(c.sign * (c.s + 0.5) / 32767.0 / f.b0);
        EXPECT_EQ(l.flash_raw, c.flash_raw) << c.s << " sign " << c.sign;
        EXPECT_EQ(l.flash, c.flash) << c.s << " sign " << c.sign;
    }
}

}  // namespace
