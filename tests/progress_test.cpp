#include "render/progress.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgressLine, ShowsFramesRateAndTimeLeft) {
    // 2843 of 9000 after 48.4 s: 58.7 fps, 6157 frames left take 104.8 s.
    EXPECT_EQ(progress_line(2843, 9000, 48.4),
              "[#######.................]  2843/9000 frames  58.7 fps  1:45 left");
}

TEST(ProgressLine, PromisesNothingBeforeTheRateSettles) {
    EXPECT_EQ(progress_line(0, 100, 0.0),
              "[........................]  0/100 frames  -- fps  --:-- left");
    EXPECT_EQ(progress_line(3, 100, 0.1),
              "[........................]  3/100 frames  -- fps  --:-- left");
}

TEST(ProgressLine, LongRunsShowHoursAndTheEndShowsTheTotalTime) {
    // 10 of 1,000,000 in 1 s: 99,999 s left, 27 h 46 min 39 s.
    EXPECT_NE(progress_line(10, 1000000, 1.0).find("27:46:39 left"), std::string::npos);
    EXPECT_EQ(progress_line(50, 50, 125.0),
              "[########################]  50/50 frames  0.4 fps  done in 2:05");
    EXPECT_EQ(progress_line(0, 0, 0.0).substr(0, 26), "[########################]");
}

TEST(ProgressBar, QuietOrNotATerminalDrawsNothing) {
    EXPECT_FALSE(progress_wanted(true));
    // The tests run with standard error captured, not on a terminal.
    testing::internal::CaptureStderr();
    Progress progress = progress_start(10, progress_wanted(false));
    for (int64_t done = 1; done <= 10; ++done) progress_update(&progress, done);
    progress_finish(&progress, 10);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
