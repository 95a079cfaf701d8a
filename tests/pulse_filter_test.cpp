#include "audio/pulse_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

TEST(LadderFilter, UnitStepReachesPulse100OnTheSeventhStep) {
    // Exact outputs from an independent model of the filter: about 4.3e-6 after the first step,
    // 3.9e-3 after the seventh, the first to reach pulse 100.
    const double expected_y4[8] = {
        0x1.210918ed8e401p-18, 0x1.37ff5af0c9cbap-15, 0x1.52284ba35db34p-13,
        0x1.f6b27d0f0cf74p-12, 0x1.25f5d5b4bea70p-10, 0x1.2414104111d99p-9,
        0x1.0256dc88cd473p-8,  0x1.a324015639ad6p-8};
    LadderFilter f;
    for (int step = 1; step <= 8; ++step) {
        const PulseLevels l = f.step(1.0);
        EXPECT_EQ(f.y4, expected_y4[step - 1]) << "step " << step;
        EXPECT_EQ(l.pulse, step < 7 ? 0 : 100) << "step " << step;
    }
    EXPECT_NEAR(expected_y4[0], 4.3e-6, 0.05e-6);
    EXPECT_NEAR(expected_y4[6], 3.9e-3, 0.05e-3);
}

TEST(LadderFilter, LevelsAt129And257And386) {
    const struct { int32_t s, pulse; } cases[] = {{128, 0},   {129, 100}, {256, 100},  {257, 200},
                                                  {385, 200}, {386, 255}, {20000, 255}};
    for (const auto& c : cases) {
        // A stage-4 value whose soft clip v - v^3 / 6, times 32767, truncates to s.
        const double target = (c.s + 0.5) / 32767.0;
        double v = target;
        for (int i = 0; i < 40; ++i) v = target + v * v * v / 6.0;
        for (const double sign : {1.0, -1.0}) {
            // No stage gain, no resonance and a feedback of one: stage 4 carries y4 forward.
            LadderFilter f;
            f.p = f.r = 0.0;
            f.k = -1.0;
            f.y4 = sign * v;
            const PulseLevels l = f.step(0.0);
            ASSERT_EQ(static_cast<int32_t>(std::fabs(f.y4 * 32767.0)), c.s);
            EXPECT_EQ(l.pulse, c.pulse) << c.s << " sign " << sign;
            EXPECT_EQ(l.strong, c.pulse == 255) << c.s << " sign " << sign;
        }
    }
}

TEST(LadderFilter, OnlyFourLevelsAndStrongExactlyAt255UnderLoudInput) {
    LadderFilter f;
    std::set<int32_t> seen;
    uint32_t noise = 12345;
    for (int i = 0; i < 20000; ++i) {
        noise = noise * 1664525u + 1013904223u;
        // Alternating loud square waves of slowly changing period, with a little noise.
        const double square = ((i / (3 + (i / 1000) % 40)) % 2) ? 1.0 : -1.0000305180437934;
        const double input = square * ((i / 500) % 5) / 4.0 + ((noise >> 16) - 32768.0) / 1e6;
        const PulseLevels l = f.step(input);
        seen.insert(l.pulse);
        ASSERT_EQ(l.strong, l.pulse == 255) << i;
        ASSERT_LT(std::fabs(f.y4), 0.95) << i;
    }
    EXPECT_EQ(seen, (std::set<int32_t>{0, 100, 200, 255}));
}

}  // namespace
