#include "frame/flash_check.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

#include "common/picture.h"

namespace {

constexpr int kWindowsAcross = kCellsAcross - kCellsPerWindow + 1;
constexpr int kWindowCells = kCellsPerWindow * kCellsPerWindow;
constexpr int kQuarterOfWindow = kWindowCells / 4;  // cells a flash must cover

// The flashes a quarter of the window at (wx, wy) shows at least: half the transitions of its
// kQuarterOfWindow-th busiest cell.
int32_t window_flashes(const std::array<int32_t, kCells>& counts, int wx, int wy) {
    std::array<int32_t, kWindowCells> cells{};
    for (int y = 0; y < kCellsPerWindow; ++y)
        for (int x = 0; x < kCellsPerWindow; ++x)
            cells[y * kCellsPerWindow + x] = counts[(wy + y) * kCellsAcross + wx + x];
    std::nth_element(cells.begin(), cells.begin() + (kQuarterOfWindow - 1), cells.end(),
                     std::greater<>());
    return cells[kQuarterOfWindow - 1] / kTransitionsPerFlash;
}

}  // namespace

FlashCheck flash_check_start(double fps) {
    FlashCheck check;
    check.fps = fps;
    check.general.resize(kCells);
    check.red.resize(kCells);
    check.general_at.resize(kCells);
    check.red_at.resize(kCells);
    return check;
}

void flash_check_frame(FlashCheck* check, const uint8_t* picture) {
    assert(check->general.size() == kCells && check->fps > 0.0);  // made by flash_check_start
    CellLights cells;
    measure_cells(picture, 1, &cells);
    const int64_t now = check->frames++;
    std::array<int32_t, kCells> general{}, red{};
    double picture_luminance = 0.0;
    for (int c = 0; c < kCells; ++c) {
        const int column = c % kCellsAcross, row = c / kCellsAcross;
        const double pixels =
            double(cell_left(column + 1) - cell_left(column)) * (cell_top(row + 1) - cell_top(row));
        picture_luminance += cells[c].luminance * pixels / kImagePixels;
        if (zigzag_step(&check->general[c], cells[c].luminance, kGeneralChange, kDarkerBelow))
            recent_note(&check->general_at[c], double(now));
        if (zigzag_step(&check->red[c], cells[c].redness, kRedChange, kAnyDarkness))
            recent_note(&check->red_at[c], double(now));
        general[c] = recent_count(&check->general_at[c], double(now), check->fps);
        red[c] = recent_count(&check->red_at[c], double(now), check->fps);
    }
    const auto second = static_cast<size_t>(std::floor(static_cast<double>(now) / check->fps));
    if (check->seconds.size() <= second) check->seconds.resize(second + 1);
    FlashSecond& worst = check->seconds[second];
    worst.luminance += (picture_luminance - worst.luminance) / ++worst.frames;  // running mean
    // A window needs a quarter of its cells with a flash's transitions or more to hold one.
    const auto enough = [](const std::array<int32_t, kCells>& counts) {
        return std::count_if(counts.begin(), counts.end(), [](int32_t n) {
                   return n >= kTransitionsPerFlash;
               }) >= kQuarterOfWindow;
    };
    const bool any_general = enough(general), any_red = enough(red);
    for (int wy = 0; wy < kWindowsAcross && (any_general || any_red); ++wy)
        for (int wx = 0; wx < kWindowsAcross; ++wx) {
            const int32_t flashes = any_general ? window_flashes(general, wx, wy) : 0;
            if (flashes > worst.general) {
                worst.general = flashes;
                worst.window_x = cell_left(wx);
                worst.window_y = cell_top(wy);
            }
            if (any_red) worst.red = std::max(worst.red, window_flashes(red, wx, wy));
        }
}

int32_t seconds_failing(const FlashCheck& check) {
    return static_cast<int32_t>(
        std::count_if(check.seconds.begin(), check.seconds.end(), [](const FlashSecond& s) {
            return s.general > kMaxFlashesPerSecond || s.red > kMaxFlashesPerSecond;
        }));
}

size_t worst_second(const FlashCheck& check) {
    size_t worst = 0;
    for (size_t s = 0; s < check.seconds.size(); ++s) {
        const auto most = [](const FlashSecond& x) { return std::max(x.general, x.red); };
        if (most(check.seconds[s]) > most(check.seconds[worst])) worst = s;
    }
    return worst;
}
