#include "noise.h"

#include <cmath>
#include <numbers>

namespace {

// Mixing constants of the splitmix64 sequence and of the 32-bit finaliser (lowbias32).
constexpr uint64_t kSplitmixStep = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kSplitmixMul1 = 0xBF58476D1CE4E5B9ull;
constexpr uint64_t kSplitmixMul2 = 0x94D049BB133111EBull;
constexpr uint32_t kHashMul1 = 0x7FEB352Du;
constexpr uint32_t kHashMul2 = 0x846CA68Bu;
constexpr double kTwoTo53 = 9007199254740992.0;
constexpr double kTwoTo32 = 4294967296.0;

// The twelve edge midpoints of a cube, plus four repeats so that a hash picks one with a
// mask: the gradients of Perlin's improved noise.
constexpr double kGradients[16][3] = {
    {1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {1, 0, 1}, {-1, 0, 1}, {1, 0, -1}, {-1, 0, -1},
    {0, 1, 1}, {0, -1, 1}, {0, 1, -1}, {0, -1, -1}, {1, 1, 0}, {-1, 1, 0}, {0, -1, 1}, {0, -1, -1}};

// Keeps the sum of octaves near [-1, 1]: improved noise rarely leaves about +-0.9.
constexpr double kNoiseScale = 1.1;

uint32_t lattice_hash(int32_t x, int32_t y, int32_t z, uint32_t seed) {
    uint32_t h = hash32(seed ^ static_cast<uint32_t>(x));
    h = hash32(h ^ static_cast<uint32_t>(y));
    return hash32(h ^ static_cast<uint32_t>(z));
}

double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }

double corner(int32_t ix, int32_t iy, int32_t iz, double fx, double fy, double fz, uint32_t seed) {
    const double* g = kGradients[lattice_hash(ix, iy, iz, seed) & 15u];
    return g[0] * fx + g[1] * fy + g[2] * fz;
}

}  // namespace

Vec3 normalized(Vec3 v) {
    const double length = std::sqrt(dot(v, v));
    return v * (1.0 / length);
}

uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= kHashMul1;
    x ^= x >> 15;
    x *= kHashMul2;
    x ^= x >> 16;
    return x;
}

double hash_unit(int32_t x, int32_t y, uint32_t seed) {
    return lattice_hash(x, y, 0, seed) / kTwoTo32;
}

double Rng::uniform() {
    state += kSplitmixStep;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * kSplitmixMul1;
    z = (z ^ (z >> 27)) * kSplitmixMul2;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / kTwoTo53;
}

double Rng::range(double low, double high) { return low + (high - low) * uniform(); }

double Rng::normal() {
    // Box-Muller; 1 - u keeps the logarithm away from 0.
    const double u = 1.0 - uniform();
    const double v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

double gradient_noise(Vec3 p, uint32_t seed) {
    const double fx0 = std::floor(p.x), fy0 = std::floor(p.y), fz0 = std::floor(p.z);
    const auto ix = static_cast<int32_t>(fx0), iy = static_cast<int32_t>(fy0),
               iz = static_cast<int32_t>(fz0);
    const double fx = p.x - fx0, fy = p.y - fy0, fz = p.z - fz0;
    const double u = fade(fx), v = fade(fy), w = fade(fz);
    const double x00 =
        mix(corner(ix, iy, iz, fx, fy, fz, seed), corner(ix + 1, iy, iz, fx - 1, fy, fz, seed), u);
    const double x10 = mix(corner(ix, iy + 1, iz, fx, fy - 1, fz, seed),
                           corner(ix + 1, iy + 1, iz, fx - 1, fy - 1, fz, seed), u);
    const double x01 = mix(corner(ix, iy, iz + 1, fx, fy, fz - 1, seed),
                           corner(ix + 1, iy, iz + 1, fx - 1, fy, fz - 1, seed), u);
    const double x11 = mix(corner(ix, iy + 1, iz + 1, fx, fy - 1, fz - 1, seed),
                           corner(ix + 1, iy + 1, iz + 1, fx - 1, fy - 1, fz - 1, seed), u);
    return mix(mix(x00, x10, v), mix(x01, x11, v), w);
}

double fbm(Vec3 p, int octaves, uint32_t seed) {
    double sum = 0.0, weight = 1.0, total = 0.0;
    for (int octave = 0; octave < octaves; ++octave) {
        sum += weight * gradient_noise(p, seed + static_cast<uint32_t>(octave));
        total += weight;
        weight *= 0.5;
        // An odd factor near 2 keeps the lattices of successive octaves from lining up.
        p = p * 2.03;
    }
    return kNoiseScale * sum / total;
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

double clamp01(double x) { return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x); }

double mix(double a, double b, double t) { return a + (b - a) * t; }
