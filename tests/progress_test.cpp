#include "system/progress.h"

#include <gtest/gtest.h>

#include <string>

// That nothing is drawn off a terminal is checked on a real run in render_test.cpp.
namespace {

TEST(ProgressLine, ShowsFramesRateAndTimeLeftOnceTheRateSettles) {
    const struct {
        int64_t done, total;
        double seconds;
        const char* line;
    } cases[] = {
        // 58.7 fps after 48.4 s; the 6157 frames left take 104.8 s.
        {2843, 9000, 48.4, "[#######.................]  2843/9000 frames  58.7 fps  1:45 left"},
        {0, 100, 0.0, "[........................]  0/100 frames  -- fps  --:-- left"},
        {3, 100, 0.1, "[........................]  3/100 frames  -- fps  --:-- left"},
        {50, 50, 125.0, "[########################]  50/50 frames  0.4 fps  done in 2:05"},
    };
    for (const auto& c : cases) EXPECT_EQ(progress_line(c.done, c.total, c.seconds), c.line);
    // 10 of 1,000,000 in 1 s: 99,999 s left, 27 h 46 min 39 s.
    EXPECT_NE(progress_line(10, 1000000, 1.0).find("27:46:39 left"), std::string::npos);
    EXPECT_EQ(progress_line(0, 0, 0.0).substr(0, 26), "[########################]");
    // Passes run unseen before a late --start.
    EXPECT_EQ(progress_skip_line(1950, 7800),
              "[######..................]  skipping to --start  25%");
}

}  // namespace
