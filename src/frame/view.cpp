#include "frame/view.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/picture.h"

namespace {

// The order in which pixels take their turns: every pixel once, scattered so that each cell
// of the picture renews evenly over time and no sweep or pattern shows. Fisher and Yates'
// shuffle driven by Marsaglia's xorshift32 from a fixed seed: whole numbers only, the same
// order everywhere.
std::vector<int32_t> scattered_order() {
    std::vector<int32_t> order(kImagePixels);
    for (int32_t p = 0; p < kImagePixels; ++p) order[p] = p;
    uint32_t state = 0x9E3779B9u;
    for (int32_t i = kImagePixels - 1; i > 0; --i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        std::swap(order[i], order[state % uint32_t(i + 1)]);
    }
    return order;
}

const std::vector<int32_t>& turn_order() {
    static const std::vector<int32_t> order = scattered_order();
    return order;
}

// The turns taken from the start until `elapsed_ms`: kImagePixels every kGentleRenewMs.
int64_t turns_until(double elapsed_ms) {
    return static_cast<int64_t>(std::floor(elapsed_ms * (kImagePixels / kGentleRenewMs)));
}

// The limit's measure of a cell: stricter than the check's (see view.h).
constexpr double kLimitGeneralChange = 0.07;
constexpr double kLimitDarkerBelow = 0.85;
constexpr double kLimitRedChange = 14.0;
constexpr int kLimitStep = 4;  // pixels measured: every fourth column of every fourth row

// Whether the cell has made its allowance of transitions within the window before `now_ms`.
bool pace_spent(const CellPace& pace, double now_ms) {
    return pace.count == kLimitTransitions && now_ms - pace.at[pace.next] < kLimitWindowMs;
}

void pace_note(CellPace* pace, double now_ms) {
    pace->at[pace->next] = now_ms;
    pace->next = (pace->next + 1) % kLimitTransitions;
    pace->count = std::min(pace->count + 1, kLimitTransitions);
}

// The cell each pixel lies in.
struct CellMap {
    std::array<int16_t, kImageWidth> column{};
    std::array<int16_t, kImageHeight> row{};

    int of(int32_t pixel) const {
        return row[pixel / kImageWidth] * kCellsAcross + column[pixel % kImageWidth];
    }
};

CellMap cell_map() {
    CellMap map;
    for (int c = 0; c < kCellsAcross; ++c) {
        for (int x = cell_left(c); x < cell_left(c + 1); ++x) map.column[x] = int16_t(c);
        for (int y = cell_top(c); y < cell_top(c + 1); ++y) map.row[y] = int16_t(c);
    }
    return map;
}

const CellMap kCellMap = cell_map();

// The pixels whose turn it is, from position `first` of the order on: `count` of them,
// wrapping around. Calls visit(pixel, k), k counting from 0.
template <typename Visit>
void each_turn(int64_t first, int32_t count, Visit visit) {
    const std::vector<int32_t>& order = turn_order();
    const auto start = static_cast<int32_t>(first % kImagePixels);
    const int32_t before_wrap = std::min(count, kImagePixels - start);
    for (int32_t k = 0; k < before_wrap; ++k) visit(order[start + k], k);
    for (int32_t k = before_wrap; k < count; ++k) visit(order[k - before_wrap], k);
}

void copy_pixel(uint8_t* to, const uint8_t* from) {
    std::memcpy(to, from, kImageBytesPerPixel);
}

// Keeps cell by cell what was shown where the renewed picture would make one transition too
// many: those cells' pixels miss this turn.
void limit(PictureView* view, double now_ms, int64_t first, int32_t count) {
    CellLights& lights = *view->lights;
    measure_cells(view->shown.get(), kLimitStep, &lights);
    std::array<bool, kCells> held{};
    bool any_held = false;
    for (int c = 0; c < kCells; ++c) {
        CellPace& pace = view->pace[c];
        Zigzag general = pace.general, red = pace.red;
        // Both zigzags step, whichever turns.
        const bool general_turned =
            zigzag_step(&general, lights[c].luminance, kLimitGeneralChange, kLimitDarkerBelow);
        const bool red_turned = zigzag_step(&red, lights[c].redness, kLimitRedChange, kAnyDarkness);
        const bool transition = general_turned || red_turned;
        if (transition && pace_spent(pace, now_ms)) {
            held[c] = any_held = true;
            continue;
        }
        pace.general = general, pace.red = red;
        if (transition) pace_note(&pace, now_ms);
    }
    if (!any_held) return;
    uint8_t* shown = view->shown.get();
    const uint8_t* before = view->before.get();
    each_turn(first, count, [&](int32_t p, int32_t k) {
        if (held[kCellMap.of(p)])
            copy_pixel(shown + p * kImageBytesPerPixel, before + k * kImageBytesPerPixel);
    });
}

}  // namespace

PictureView view_start(bool gentle) {
    PictureView view;
    view.gentle = gentle;
    if (gentle) {
        turn_order();  // made once, before any pass
        view.composed = std::make_unique<uint8_t[]>(kImageBytes);
        view.shown = std::make_unique<uint8_t[]>(kImageBytes);
        view.before = std::make_unique<uint8_t[]>(kImageBytes);
        view.pace = std::make_unique<CellPace[]>(kCells);
        view.lights = std::make_unique<CellLights>();
    }
    return view;
}

uint8_t* view_target(PictureView* view, uint8_t* screen) {
    return view->gentle ? view->composed.get() : screen;
}

void view_show(PictureView* view, double elapsed_ms, uint8_t* screen) {
    if (!view->gentle) return;
    const int64_t turns = turns_until(elapsed_ms);
    assert(turns >= view->turns);
    // The first pass, and any that comes a whole round after the one before, renews every
    // pixel: there is nothing older to keep.
    const bool all = !view->primed || turns - view->turns >= kImagePixels;
    const int64_t first = all ? 0 : view->turns;
    const auto count = static_cast<int32_t>(all ? kImagePixels : turns - view->turns);
    uint8_t* shown = view->shown.get();
    uint8_t* before = view->before.get();
    const uint8_t* composed = view->composed.get();
    each_turn(first, count, [&](int32_t p, int32_t k) {
        const size_t at = size_t(p) * kImageBytesPerPixel;
        copy_pixel(before + size_t(k) * kImageBytesPerPixel, shown + at);
        copy_pixel(shown + at, composed + at);
    });
    view->turns = turns;
    view->primed = true;
    limit(view, elapsed_ms, first, count);
    std::memcpy(screen, shown, kImageBytes);
}
