#include "render/flash_check.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

#include "common/picture.h"

namespace {

constexpr double kGeneralChange = 0.10;  // relative luminance
constexpr double kDarkerBelow = 0.80;    // a general transition's darker state
constexpr double kRedChange = 20.0;      // in (R - G - B) x 320
constexpr double kRedScale = 320.0;
constexpr double kSaturatedRed = 0.8;  // R / (R + G + B)
constexpr double kLumaRed = 0.2126, kLumaGreen = 0.7152, kLumaBlue = 0.0722;
constexpr int kCells = kCellsAcross * kCellsAcross;
constexpr int kWindowsAcross = kCellsAcross - kCellsPerWindow + 1;
constexpr int kWindowCells = kCellsPerWindow * kCellsPerWindow;
constexpr int kQuarterOfWindow = kWindowCells / 4;  // cells a flash must cover

// sRGB's transfer function: a byte to its linear value, 0..1.
std::array<double, 256> linear_table() {
    std::array<double, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const double c = v / 255.0;
        table[v] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return table;
}

const std::array<double, 256> kLinear = linear_table();

int cell_of(int pixel, int pixels) { return pixel * kCellsAcross / pixels; }

// The first pixel of every cell along a side of `pixels`, and one past the last.
template <int kPixels>
std::array<int, kCellsAcross + 1> cell_starts() {
    std::array<int, kCellsAcross + 1> starts{};
    for (int p = kPixels - 1; p >= 0; --p) starts[cell_of(p, kPixels)] = p;
    starts[kCellsAcross] = kPixels;
    return starts;
}

const std::array<int, kCellsAcross + 1> kColumnStart = cell_starts<kImageWidth>();
const std::array<int, kCellsAcross + 1> kRowStart = cell_starts<kImageHeight>();

// Moves the zigzag to `v`; true when that completes a transition of at least `threshold`
// (and, for the general kind, one whose darker state is below kDarkerBelow).
bool zigzag_step(Zigzag* z, double v, double threshold, bool needs_dark) {
    const auto counts = [&](double from, double to) {
        return std::fabs(to - from) >= threshold &&
               (!needs_dark || std::min(from, to) < kDarkerBelow);
    };
    if (!z->started) {
        *z = Zigzag{};
        z->started = true;
        z->low = z->high = z->pivot = z->ext = v;
        return false;
    }
    if (z->direction == 0) {
        z->low = std::min(z->low, v);
        z->high = std::max(z->high, v);
        if (v - z->low >= threshold) {
            z->direction = 1, z->pivot = z->low, z->ext = v;
        } else if (z->high - v >= threshold) {
            z->direction = -1, z->pivot = z->high, z->ext = v;
        } else {
            return false;
        }
    } else if ((v - z->ext) * z->direction >= 0) {
        z->ext = v;  // further along the same leg
    } else if (std::fabs(v - z->ext) >= threshold) {
        // Turned back by the threshold: a new leg from the old one's far end.
        z->pivot = z->ext, z->ext = v, z->direction = -z->direction, z->counted = false;
    } else {
        return false;
    }
    if (z->counted || !counts(z->pivot, z->ext)) return false;
    z->counted = true;
    return true;
}

// Keeps the transitions of the last second of frames (frame numbers after `now - fps`).
int32_t recent(std::vector<int64_t>* at, int64_t now, double fps) {
    at->erase(at->begin(), std::find_if(at->begin(), at->end(), [&](int64_t f) {
                  return static_cast<double>(now - f) < fps;
              }));
    return static_cast<int32_t>(at->size());
}

// The flashes a quarter of the window at (wx, wy) shows at least: half the transitions of its
// kQuarterOfWindow-th busiest cell.
int32_t window_flashes(const std::array<int32_t, kCells>& counts, int wx, int wy) {
    std::array<int32_t, kWindowCells> cells{};
    for (int y = 0; y < kCellsPerWindow; ++y)
        for (int x = 0; x < kCellsPerWindow; ++x)
            cells[y * kCellsPerWindow + x] = counts[(wy + y) * kCellsAcross + wx + x];
    std::nth_element(cells.begin(), cells.begin() + (kQuarterOfWindow - 1), cells.end(),
                     std::greater<>());
    return cells[kQuarterOfWindow - 1] / 2;
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
    // Mean linear red, green and blue of every cell.
    std::array<double, kCells> r{}, g{}, b{};
    for (int y = 0; y < kImageHeight; ++y) {
        const int row = cell_of(y, kImageHeight) * kCellsAcross;
        const uint8_t* p = picture + size_t(y) * kImagePitch;
        for (int c = 0; c < kCellsAcross; ++c) {
            double sr = 0.0, sg = 0.0, sb = 0.0;  // this row's run of the cell, in registers
            for (int x = kColumnStart[c]; x < kColumnStart[c + 1]; ++x, p += kImageBytesPerPixel)
                sb += kLinear[p[0]], sg += kLinear[p[1]], sr += kLinear[p[2]];
            r[row + c] += sr, g[row + c] += sg, b[row + c] += sb;
        }
    }
    const int64_t now = check->frames++;
    std::array<int32_t, kCells> general{}, red{};
    double picture_luminance = 0.0;
    for (int c = 0; c < kCells; ++c) {
        const double n =
            double(kColumnStart[c % kCellsAcross + 1] - kColumnStart[c % kCellsAcross]) *
            (kRowStart[c / kCellsAcross + 1] - kRowStart[c / kCellsAcross]);
        const double cr = r[c] / n, cg = g[c] / n, cb = b[c] / n;
        const double luminance = kLumaRed * cr + kLumaGreen * cg + kLumaBlue * cb;
        picture_luminance += luminance * n / kImagePixels;
        const double sum = cr + cg + cb;
        const bool saturated = sum > 0.0 && cr / sum >= kSaturatedRed;
        const double redness = saturated ? std::max(0.0, (cr - cg - cb) * kRedScale) : 0.0;
        if (zigzag_step(&check->general[c], luminance, kGeneralChange, true))
            check->general_at[c].push_back(now);
        if (zigzag_step(&check->red[c], redness, kRedChange, false))
            check->red_at[c].push_back(now);
        general[c] = recent(&check->general_at[c], now, check->fps);
        red[c] = recent(&check->red_at[c], now, check->fps);
    }
    const auto second = static_cast<size_t>(std::floor(static_cast<double>(now) / check->fps));
    if (check->seconds.size() <= second) check->seconds.resize(second + 1);
    FlashSecond& worst = check->seconds[second];
    worst.luminance += (picture_luminance - worst.luminance) / ++worst.frames;  // running mean
    // A window needs a quarter of its cells with two transitions or more to hold a flash.
    const auto enough = [](const std::array<int32_t, kCells>& counts) {
        return std::count_if(counts.begin(), counts.end(), [](int32_t n) { return n >= 2; }) >=
               kQuarterOfWindow;
    };
    const bool any_general = enough(general), any_red = enough(red);
    for (int wy = 0; wy < kWindowsAcross && (any_general || any_red); ++wy)
        for (int wx = 0; wx < kWindowsAcross; ++wx) {
            const int32_t flashes = any_general ? window_flashes(general, wx, wy) : 0;
            if (flashes > worst.general) {
                worst.general = flashes;
                worst.window_x = wx * kImageWidth / kCellsAcross;
                worst.window_y = wy * kImageHeight / kCellsAcross;
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
