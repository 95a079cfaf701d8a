#include "system/progress.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "common/timeline.h"

namespace {

constexpr int kBarWidth = 24;  // characters between the brackets
// Often enough to look alive, rarely enough to cost nothing.
constexpr double kRedrawInterval_s = 0.2;
// Before this much work the rate is too unsteady to promise a finishing time.
constexpr double kMinSecondsForEstimate = 0.5;
// After the carriage return: erase what a longer earlier line left behind.
constexpr const char* kEraseToEndOfLine = "\x1b[K";

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// m:ss, or h:mm:ss from an hour on.
std::string clock_text(double seconds) {
    const int64_t s = static_cast<int64_t>(seconds + 0.5);
    char text[32];
    if (s >= kSecondsPerHour)
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64,
                      s / kSecondsPerHour, s % kSecondsPerHour / kSecondsPerMinute,
                      s % kSecondsPerMinute);
    else
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64, s / kSecondsPerMinute,
                      s % kSecondsPerMinute);
    return text;
}

void draw_line(const std::string& line) {
    std::fprintf(stderr, "\r%s%s", line.c_str(), kEraseToEndOfLine);
    std::fflush(stderr);
}

void draw(const Progress& progress, int64_t done) {
    draw_line(progress_line(done, progress.total, now_s() - progress.started_s));
}

// Whether it is time to draw again; notes the time when it is.
bool due(Progress* progress) {
    const double now = now_s();
    if (progress->last_drawn_s >= 0.0 && now - progress->last_drawn_s < kRedrawInterval_s)
        return false;
    progress->last_drawn_s = now;
    return true;
}

// "[####....]": `done` of `total`.
std::string bar(int64_t done, int64_t total) {
    const double fraction =
        total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    const int filled = fraction >= 1.0 ? kBarWidth : static_cast<int>(fraction * kBarWidth);
    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '.');
    return line + "]";
}

}  // namespace

bool progress_wanted(bool quiet) { return !quiet && isatty(STDERR_FILENO) == 1; }

Progress progress_start(int64_t total, bool enabled) {
    Progress progress;
    progress.enabled = enabled;
    progress.total = total;
    progress.started_s = now_s();
    return progress;
}

void progress_update(Progress* progress, int64_t done) {
    if (!progress->enabled) return;
    if (progress->skipped) {
        // The frames' rate and time left count from the end of the skip.
        progress->skipped = false;
        progress->started_s = now_s();
        progress->last_drawn_s = -1.0;
    }
    if (due(progress)) draw(*progress, done);
}

void progress_skip(Progress* progress, int64_t done, int64_t total) {
    if (!progress->enabled) return;
    progress->skipped = true;
    if (due(progress)) draw_line(progress_skip_line(done, total));
}

std::string progress_skip_line(int64_t done, int64_t total) {
    const int64_t percent = total > 0 ? done * 100 / total : 100;
    return bar(done, total) + "  skipping to --start  " + std::to_string(percent) + "%";
}

void progress_finish(Progress* progress, int64_t done) {
    if (!progress->enabled) return;
    draw(*progress, done);
    std::fputc('\n', stderr);
    progress->enabled = false;
}

std::string progress_line(int64_t done, int64_t total, double seconds) {
    std::string line =
        bar(done, total) + "  " + std::to_string(done) + "/" + std::to_string(total) + " frames";

    const bool steady = seconds >= kMinSecondsForEstimate && done > 0;
    char rate[32] = "-- fps";
    if (steady) std::snprintf(rate, sizeof rate, "%.1f fps", static_cast<double>(done) / seconds);
    line += "  ";
    line += rate;
    if (done >= total) {
        line += "  done in " + clock_text(seconds);
    } else {
        line += "  ";
        line += steady ? clock_text(static_cast<double>(total - done) * seconds /
                                    static_cast<double>(done)) +
                             " left"
                       : "--:-- left";
    }
    return line;
}
