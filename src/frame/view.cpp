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

// Linear light of each byte in the cell sums' units.
std::array<int64_t, 256> linear_units() {
    std::array<int64_t, 256> units{};
    for (int v = 0; v < 256; ++v)
        units[v] =
            static_cast<int64_t>(linear_light(uint8_t(v)) * (int64_t{1} << kCellSumBits) + 0.5);
    return units;
}

// The cell each pixel lies in.
struct CellMap {
    std::array<int16_t, kImageWidth> column{};
    std::array<int16_t, kImageHeight> row{};
    std::array<int32_t, kCells> pixels{};  // in each cell

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
    for (int32_t p = 0; p < kImagePixels; ++p) ++map.pixels[map.of(p)];
    return map;
}

// The tables above, made on first use: they derive from flash_measure's, which are made when
// its own globals are, in an order across files that C++ leaves open.
struct Tables {
    CellMap cells = cell_map();
    std::array<int64_t, 256> linear = linear_units();
};

const Tables& tables() {
    static const Tables made;
    return made;
}

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

// Shows `to` (blue, green, red) in place of `from` at pixel `p`, in the picture and the sums.
void replace_pixel(PictureView* view, const Tables& t, int32_t p, const uint8_t* to) {
    uint8_t* at = view->shown.get() + size_t(p) * kImageBytesPerPixel;
    CellSums& sums = view->sums[t.cells.of(p)];
    sums.blue += t.linear[to[0]] - t.linear[at[0]];
    sums.green += t.linear[to[1]] - t.linear[at[1]];
    sums.red += t.linear[to[2]] - t.linear[at[2]];
    std::memcpy(at, to, kImageBytesPerPixel);
}

// Keeps cell by cell what was shown where the renewed picture would make one transition too
// many: those cells' pixels miss this turn.
void limit(PictureView* view, double now_ms, int64_t first, int32_t count) {
    const Tables& t = tables();
    std::array<bool, kCells> held{};
    bool any_held = false;
    for (int c = 0; c < kCells; ++c) {
        const CellSums& sums = view->sums[c];
        const double units = double(t.cells.pixels[c]) * double(int64_t{1} << kCellSumBits);
        const CellLight light = cell_light(double(sums.red) / units, double(sums.green) / units,
                                           double(sums.blue) / units);
        CellPace& pace = view->pace[c];
        Zigzag general = pace.general, red = pace.red;
        // Both zigzags step, whichever turns.
        const bool general_turned =
            zigzag_step(&general, light.luminance, kLimitGeneralChange, kLimitDarkerBelow);
        const bool red_turned = zigzag_step(&red, light.redness, kLimitRedChange, kAnyDarkness);
        const bool transition = general_turned || red_turned;
        if (transition && recent_count(&pace.recent, now_ms, kLimitWindowMs) >= kLimitTransitions) {
            held[c] = any_held = true;  // the allowance is spent
            continue;
        }
        pace.general = general, pace.red = red;
        if (transition) recent_note(&pace.recent, now_ms);
        assert(pace.recent.at.size() <= size_t{kLimitTransitions});  // as view_start reserved
    }
    if (!any_held) return;
    const uint8_t* before = view->before.get();
    each_turn(first, count, [&](int32_t p, int32_t k) {
        if (held[t.cells.of(p)])
            replace_pixel(view, t, p, before + size_t(k) * kImageBytesPerPixel);
    });
}

}  // namespace

PictureView view_start(bool gentle) {
    PictureView view;
    view.gentle = gentle;
    if (gentle) {
        turn_order(), tables();  // made once, before any pass
        view.composed = std::make_unique<uint8_t[]>(kImageBytes);
        view.shown = std::make_unique<uint8_t[]>(kImageBytes);
        view.before = std::make_unique<uint8_t[]>(kImageBytes);
        view.pace = std::make_unique<CellPace[]>(kCells);
        for (int c = 0; c < kCells; ++c) view.pace[c].recent.at.reserve(kLimitTransitions);
        view.sums = std::make_unique<CellSums[]>(kCells);  // of a black picture: none
    }
    return view;
}

uint8_t* view_target(PictureView* view, uint8_t* screen) {
    return view->gentle ? view->composed.get() : screen;
}

void view_take(PictureView* view, double elapsed_ms) {
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
    const Tables& t = tables();
    each_turn(first, count, [&](int32_t p, int32_t k) {
        const size_t at = size_t(p) * kImageBytesPerPixel;
        std::memcpy(before + size_t(k) * kImageBytesPerPixel, shown + at, kImageBytesPerPixel);
        replace_pixel(view, t, p, composed + at);
    });
    view->turns = turns;
    view->primed = true;
    limit(view, elapsed_ms, first, count);
}

void view_show(PictureView* view, double elapsed_ms, uint8_t* screen) {
    if (!view->gentle) return;
    view_take(view, elapsed_ms);
    std::memcpy(screen, view->shown.get(), kImageBytes);
}
