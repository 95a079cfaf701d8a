// The clock's readings never go backwards and keep moving while the monotonic clock fails,
// so that the ten-second end card always ends.
#include "driver/clock.h"

#include <gtest/gtest.h>

namespace {

// Scripted sources: each reading takes the next entry; a negative entry is a failed call.
struct Script {
    const double* ms;
    int count;
    int next;
};
Script primary_script, backup_script;

int play(Script& s, timespec* out) {
    const double ms = s.next < s.count ? s.ms[s.next] : s.ms[s.count - 1];
    ++s.next;
    if (ms < 0) return -1;
    out->tv_sec = static_cast<time_t>(ms / 1000);
    out->tv_nsec = static_cast<long>((ms - out->tv_sec * 1000.0) * 1e6);
    return 0;
}
int scripted_primary(timespec* out) { return play(primary_script, out); }
int scripted_backup(timespec* out) { return play(backup_script, out); }
int always_fails(timespec*) { return -1; }

Clock scripted(const double* primary, int n, const double* backup = nullptr, int m = 0) {
    primary_script = {primary, n, 0};
    backup_script = {backup, m, 0};
    Clock clock;
    clock.primary = scripted_primary;
    clock.backup = backup ? scripted_backup : always_fails;
    return clock;
}

}  // namespace

TEST(Clock, ConvertsSecondsAndNanoseconds) {
    EXPECT_EQ(timespec_ms({1, 500000000}), 1500.0);
    EXPECT_EQ(timespec_ms({0, 1}), 0.000001);
    const double first[] = {1500.0};
    Clock clock = scripted(first, 1);
    EXPECT_EQ(clock.read(), 1500.0) << "the first reading is the monotonic clock's own value";
}

TEST(Clock, SystemReadingsNeverDecrease) {
    double previous = now_ms();
    EXPECT_GT(previous, 0.0);
    for (int i = 0; i < 100000; ++i) {
        const double now = now_ms();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(Clock, NeverGoesBackwards) {
    const double readings[] = {1000.0, 1005.0, 990.0, 1010.0};
    Clock clock = scripted(readings, 4);
    EXPECT_EQ(clock.read(), 1000.0);
    EXPECT_EQ(clock.read(), 1005.0);
    EXPECT_EQ(clock.read(), 1005.0);
    EXPECT_EQ(clock.read(), 1010.0);
}

TEST(Clock, BridgesAnOutageWithTheBackupAndCarriesOn) {
    // The monotonic clock fails for three readings; the realtime clock measures the gap.
    const double primary[] = {1000.0, -1, -1, -1, 1050.0, 1060.0};
    const double backup[] = {5000.0, 5020.0, 5030.0};
    Clock clock = scripted(primary, 6, backup, 3);
    EXPECT_EQ(clock.read(), 1000.0);
    const double a = clock.read();  // no previous backup answer yet: a small fixed step
    EXPECT_GT(a, 1000.0);
    EXPECT_EQ(clock.read(), a + 20.0);
    EXPECT_EQ(clock.read(), a + 30.0);
    // Back on the monotonic clock: continues from the last reading instead of jumping.
    EXPECT_EQ(clock.read(), a + 30.0);
    EXPECT_EQ(clock.read(), a + 40.0);
}

TEST(Clock, FirstReadingOfAFailingClockIsZero) {
    const double primary[] = {-1};
    Clock clock = scripted(primary, 1);
    EXPECT_EQ(clock.read(), 0.0);
}

TEST(Clock, TenSecondsStillPassWhenNoClockAnswers) {
    // The end card waits for readings to move 10,000 ms past its start; with both clocks dead
    // that must still happen, after a bounded number of readings.
    Clock clock;
    clock.primary = always_fails;
    clock.backup = always_fails;
    const double card_start = clock.read();
    long readings = 0;
    while (clock.read() - card_start <= 10000.0 && readings < 1000000) ++readings;
    EXPECT_LT(readings, 1000000);
}
