#include "frame/flash_measure.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "common/exact_arithmetic.h"
#include "common/picture.h"

namespace {

constexpr double kRedScale = 320.0;
constexpr double kSaturatedRed = 0.8;  // R / (R + G + B)
constexpr double kLumaRed = 0.2126, kLumaGreen = 0.7152, kLumaBlue = 0.0722;

constexpr int kNewtonSteps = 60;  // far more than y^5 = a needs from 1 for any a in (0, 1]

// x^2.4 for x in (0, 1] from IEEE's basic operations alone, so that every machine and the web
// page get the same bits (C libraries' pow differ in the last one): x^2 times the fifth root
// of x^2, the root by Newton's method from above.
double power_2_4(double x) {
    const double a = x * x;
    double y = 1.0;
    for (int i = 0; i < kNewtonSteps; ++i) y = (4.0 * y + a / (y * y * y * y)) / 5.0;
    return a * y;
}

// sRGB's transfer function: a byte to its linear value, 0..1.
std::array<double, 256> linear_table() {
    std::array<double, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const double c = v / 255.0;
        table[v] = c <= 0.04045 ? c / 12.92 : power_2_4((c + 0.055) / 1.055);
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

}  // namespace

void measure_cells(const uint8_t* picture, int step, CellLights* cells) {
    assert(step >= 1);
    std::array<double, kCells> r{}, g{}, b{};
    std::array<int32_t, kCells> counted{};
    for (int y = 0; y < kImageHeight; y += step) {
        const int row = cell_of(y, kImageHeight) * kCellsAcross;
        const uint8_t* line = picture + size_t(y) * kImagePitch;
        for (int c = 0; c < kCellsAcross; ++c) {
            double sr = 0.0, sg = 0.0, sb = 0.0;  // this row's run of the cell, in registers
            int n = 0;
            for (int x = kColumnStart[c]; x < kColumnStart[c + 1]; x += step, ++n) {
                const uint8_t* p = line + x * kImageBytesPerPixel;
                sb += kLinear[p[0]], sg += kLinear[p[1]], sr += kLinear[p[2]];
            }
            r[row + c] += sr, g[row + c] += sg, b[row + c] += sb;
            counted[row + c] += n;
        }
    }
    for (int c = 0; c < kCells; ++c) {
        const double n = counted[c];
        (*cells)[c] = cell_light(r[c] / n, g[c] / n, b[c] / n);
    }
}

double linear_light(uint8_t byte) { return kLinear[byte]; }

CellLight cell_light(double r, double g, double b) {
    const double sum = r + g + b;
    const bool saturated = sum > 0.0 && r / sum >= kSaturatedRed;
    CellLight light;
    light.luminance = kLumaRed * r + kLumaGreen * g + kLumaBlue * b;
    light.redness = saturated ? std::max(0.0, (r - g - b) * kRedScale) : 0.0;
    return light;
}

int cell_left(int column) { return kColumnStart[column]; }
int cell_top(int row) { return kRowStart[row]; }

bool zigzag_step(Zigzag* z, double v, double threshold, double darker_below) {
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
    if (z->counted || std::fabs(z->ext - z->pivot) < threshold ||
        std::min(z->pivot, z->ext) >= darker_below)
        return false;
    z->counted = true;
    return true;
}

void recent_note(RecentTransitions* recent, double time) {
    assert(recent->at.empty() || time >= recent->at.back());
    recent->at.push_back(time);
}

int32_t recent_count(RecentTransitions* recent, double now, double window) {
    std::vector<double>& at = recent->at;
    at.erase(at.begin(),
             std::find_if(at.begin(), at.end(), [&](double time) { return now - time < window; }));
    return static_cast<int32_t>(at.size());
}
