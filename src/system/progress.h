// A progress bar for long renders, drawn over itself on standard error:
//
//     [#########...............]  2843/9000 frames  58.7 fps  1:45 left
//
// It is drawn only when standard error is a terminal, so logs and pipes stay clean.
//
//     Progress progress = progress_start(total, progress_wanted(quiet));
//     ...progress_update(&progress, done) after every frame...
//     progress_finish(&progress, done);   // leaves the last line standing
//
// Before the first frame of a late --start, the passes run unseen show as a skip:
//
//     [######..................]  skipping to --start  25%
#pragma once
#include <cstdint>
#include <string>

struct Progress {
    bool enabled = false;
    int64_t total = 0;           // frames in the whole run
    double started_s = 0.0;      // monotonic seconds at the start
    double last_drawn_s = -1.0;  // monotonic seconds of the last redraw; negative: none yet
    bool skipped = false;        // a skip was shown; the frames' rate starts after it
};

// Whether a bar should be drawn: standard error is a terminal and --quiet was not given.
bool progress_wanted(bool quiet);

Progress progress_start(int64_t total, bool enabled);

// Redraws the bar for `done` frames, at most a few times a second.
void progress_update(Progress* progress, int64_t done);

// Redraws the skip for `done` of `total` passes run unseen, at most a few times a second.
void progress_skip(Progress* progress, int64_t done, int64_t total);

// Draws the bar a last time for `done` frames and ends its line.
void progress_finish(Progress* progress, int64_t done);

// The bar's text for `done` of `total` frames after `seconds` of work (no line ending).
std::string progress_line(int64_t done, int64_t total, double seconds);

// The skip's text for `done` of `total` passes (no line ending).
std::string progress_skip_line(int64_t done, int64_t total);
