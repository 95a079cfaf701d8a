// How flashing is measured, by WCAG 2.2's general-flash and red-flash definitions (success
// criterion 2.3.1 and its notes): the one home of the thresholds, of the measure and of the
// record of recent transitions that both the flash check (frame/flash_check.h, the renderer's
// --flashes) and the gentle view's limit on flashing (frame/view.h) apply to a picture.
//
//     CellLights cells;
//     measure_cells(picture, 1, &cells);      // every pixel; 4: every fourth each way
//     if (zigzag_step(&zig[c], cells[c].luminance, kGeneralChange, kDarkerBelow))
//         recent_note(&recent[c], now);
//     ...recent_count(&recent[c], now, window)...   // the cell's transitions in the window
//
// The interpretation chosen, for a full-screen picture whose viewing distance is unknown:
// - Relative luminance from sRGB: each channel linearised (c / 12.92 up to 0.04045, else
//   ((c + 0.055) / 1.055)^2.4), then 0.2126 R + 0.7152 G + 0.0722 B.
// - Areas, not pixels: the picture is measured in cells, kCellsAcross x kCellsAcross of them,
//   each by its mean linear red, green and blue (the demo's pixel noise is far finer than any
//   area that matters). A 10-degree field is a window a third of the picture's width and
//   height, kCellsPerWindow cells each way.
// - A general transition is a change of relative luminance of at least kGeneralChange where
//   the darker state is below kDarkerBelow; a red transition a change of at least kRedChange in
//   (R - G - B) x 320 (0 where negative, and 0 unless the red is saturated, R / (R + G + B)
//   >= 0.8), linear values.
// - Changes are measured between turning points: a cell's series is followed as a zigzag that
//   turns only when it has moved back by the threshold, so a ramp over many frames is one
//   transition, and noise below the threshold none.
// - A flash is a pair of opposing transitions; more than kMaxFlashesPerSecond in any one
//   second fails.
#pragma once
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

constexpr int kCellsPerWindow = 8;                 // a window's side, in cells
constexpr int kCellsAcross = 3 * kCellsPerWindow;  // windows a third of the picture a side
constexpr int kCells = kCellsAcross * kCellsAcross;
constexpr int kMaxFlashesPerSecond = 3;
constexpr int kTransitionsPerFlash = 2;

constexpr double kGeneralChange = 0.10;  // relative luminance
constexpr double kDarkerBelow = 0.80;    // a general transition's darker state
constexpr double kRedChange = 20.0;      // in (R - G - B) x 320
constexpr double kAnyDarkness = std::numeric_limits<double>::infinity();  // red: no condition

// What a cell shows, by its mean linear light.
struct CellLight {
    double luminance = 0.0;  // relative luminance, 0..1
    double redness = 0.0;    // (R - G - B) x 320 where the red is saturated, else 0
};
using CellLights = std::array<CellLight, kCells>;

// sRGB's transfer function: the linear light of a channel's byte, 0..1.
double linear_light(uint8_t byte);

// What a cell of mean linear red, green and blue `r`, `g`, `b` (each 0..1) shows.
CellLight cell_light(double r, double g, double b);

// Measures every cell of `picture` (400 x 300 pixels of blue, green, red) from its pixels every
// `step` columns and rows (1: all of them).
void measure_cells(const uint8_t* picture, int step, CellLights* cells);

// The top-left pixel of cell `column` (or `row`) of the grid.
int cell_left(int column);
int cell_top(int row);

// A cell's series followed as a zigzag (see above).
struct Zigzag {
    double pivot = 0.0;            // the last turning point
    double ext = 0.0;              // the farthest point of the current leg
    int direction = 0;             // +1 rising, -1 falling, 0 not yet moved by the threshold
    double low = 0.0, high = 0.0;  // before the first leg: the range so far
    bool started = false;
    bool counted = false;  // the current leg has been counted as a transition
};

// Moves the zigzag to `v`; true when that completes a transition of at least `threshold`
// whose darker state is below `darker_below` (kAnyDarkness: no such condition).
bool zigzag_step(Zigzag* zigzag, double v, double threshold, double darker_below);

// A cell's transitions lately: their times, oldest first, in the owner's unit (the check's
// frames, the limit's milliseconds). A transition belongs to the window ending `now` while
// `now - time < window`; older ones are forgotten. The record grows only when more transitions
// fit a window than ever before: reserve the most a window can hold to keep it off the heap.
struct RecentTransitions {
    std::vector<double> at;
};

// Notes a transition at `time`, none earlier than the last noted.
void recent_note(RecentTransitions* recent, double time);

// Forgets the transitions that have left the window ending `now` and counts those left.
int32_t recent_count(RecentTransitions* recent, double now, double window);
