// The clock's readings never go backwards and keep moving while the monotonic clock fails, so
// that the ten-second end card always ends, and after ten seconds of real time.
#include "driver/clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/timeline.h"

namespace {

// Scripted sources: each reading takes the next entry, the last one repeating; a negative
// entry is a failed call. Stalls are added up instead of waited.
std::vector<double> primary_script, backup_script;
size_t primary_next, backup_next;
double stalled_ms;

int play(const std::vector<double>& script, size_t& next, timespec* out) {
    const double ms = script[std::min(next++, script.size() - 1)];
    out->tv_sec = static_cast<time_t>(ms / 1000);
    out->tv_nsec = static_cast<long>((ms - out->tv_sec * 1000.0) * 1e6);
    return ms < 0 ? -1 : 0;
}

Clock scripted(const std::vector<double>& primary, const std::vector<double>& backup = {-1}) {
    primary_script = primary, backup_script = backup;
    primary_next = backup_next = 0, stalled_ms = 0.0;
    Clock clock;
    clock.primary = [](timespec* out) { return play(primary_script, primary_next, out); };
    clock.backup = [](timespec* out) { return play(backup_script, backup_next, out); };
    clock.stall = [](double ms) { stalled_ms += ms; };
    return clock;
}

std::vector<double> readings(Clock clock, size_t count) {
    std::vector<double> values(count);
    for (double& v : values) v = clock.read();
    return values;
}

}  // namespace

TEST(Clock, StartsAtTheMonotonicValueAndNeverGoesBackwards) {
    EXPECT_EQ(timespec_ms({1, 500000000}), 1500.0);
    EXPECT_EQ(timespec_ms({0, 1}), 0.000001);
    EXPECT_EQ(readings(scripted({1000.0, 1005.0, 990.0, 1010.0}), 4),
              (std::vector<double>{1000.0, 1005.0, 1005.0, 1010.0}));
    EXPECT_EQ(readings(scripted({-1}), 1), std::vector<double>{0.0});
    const double first = now_ms();
    EXPECT_GT(first, 0.0);
    EXPECT_GE(now_ms(), first);
}

TEST(Clock, BridgesAnOutageWithTheBackupAndCarriesOn) {
    // The monotonic clock fails for three readings; the realtime clock measures the gap after
    // a first small fixed step, and the monotonic clock takes over again without a jump.
    const std::vector<double> r =
        readings(scripted({1000.0, -1, -1, -1, 1050.0, 1060.0}, {5000.0, 5020.0, 5030.0}), 6);
    const double a = r[1];
    EXPECT_GT(a, 1000.0);
    EXPECT_EQ(r, (std::vector<double>{1000.0, a, a + 20.0, a + 30.0, a + 30.0, a + 40.0}));
    EXPECT_EQ(stalled_ms, 0.0) << "a clock answered: no reason to wait";
    // A realtime clock set back during the outage moves the reading by nothing, not backwards.
    const std::vector<double> set_back =
        readings(scripted({1000.0, -1, -1, -1}, {5000.0, 4000.0, 4010.0}), 4);
    EXPECT_EQ(set_back,
              (std::vector<double>{1000.0, set_back[1], set_back[1], set_back[1] + 10.0}));
}

TEST(Clock, TheCardWaitsOutTenSecondsWhenNoClockAnswers) {
    Clock clock = scripted({-1});
    const double card_start = clock.read();
    long count = 0;
    while (clock.read() - card_start <= kEndCardMs && count < 1000000) ++count;
    EXPECT_LT(count, 1000000) << "the card never ends";
    EXPECT_GE(stalled_ms, kEndCardMs) << "the card would end before ten seconds of real time";
    EXPECT_LE(stalled_ms, kEndCardMs + 10.0);
}
