#include "globe.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "noise.h"

namespace {

constexpr double kCentreX = 200.0;  // px
constexpr double kCentreY = 150.0;
constexpr double kRadius = 100.0;     // px: leaves room for the atmosphere's glow
constexpr int kSupersample = 3;       // samples per pixel along each axis, for smooth edges
constexpr double kIconExtent = 1.06;  // icon half-width in globe radii: the glow fits inside

// Light comes from the left, a little above and in front: two thirds of the disc are in day.
constexpr Vec3 kSunDirection{-0.85, 0.25, 0.35};
constexpr double kTerminatorSoftness = 0.28;  // width of the twilight band, in cos(angle)
constexpr double kAmbient = 0.0;              // night stays black
constexpr double kExposure = 1.3;

constexpr double kLandShare = 0.34;  // of the surface
constexpr double kGamma = 2.2;       // display encoding of the colours below

constexpr uint32_t kSeedWarp = 11, kSeedLand = 22, kSeedMoisture = 33, kSeedIce = 44,
                   kSeedCloud = 55, kSeedCloudWarp = 66, kSeedDetail = 77;

struct Colour {
    double r, g, b;
};

// Surface colours as display values 0..255.
constexpr Colour kDeepOcean{6, 26, 78};
constexpr Colour kShallowOcean{18, 92, 128};
constexpr Colour kForest{34, 78, 30};
constexpr Colour kGrass{96, 118, 52};
constexpr Colour kDesert{196, 164, 112};
constexpr Colour kTundra{116, 112, 92};
constexpr Colour kRock{120, 100, 82};
constexpr Colour kIce{228, 236, 246};
constexpr Colour kCloud{244, 246, 250};
constexpr Colour kAtmosphere{70, 130, 255};
constexpr Colour kGlint{255, 238, 210};

Colour lerp(Colour a, Colour b, double t) {
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}

Colour to_linear(Colour c) {
    return {std::pow(c.r / 255.0, kGamma), std::pow(c.g / 255.0, kGamma),
            std::pow(c.b / 255.0, kGamma)};
}

double to_display(double linear) {
    return 255.0 * std::pow(linear < 0.0 ? 0.0 : (linear > 1.0 ? 1.0 : linear), 1.0 / kGamma);
}

// Continents are warped noise above sea level.
double elevation_field(Vec3 p) {
    const Vec3 warp{fbm(p * 1.3 + Vec3{3.1, 0.0, 0.0}, 3, kSeedWarp),
                    fbm(p * 1.3 + Vec3{0.0, 5.7, 0.0}, 3, kSeedWarp),
                    fbm(p * 1.3 + Vec3{0.0, 0.0, 9.4}, 3, kSeedWarp)};
    return fbm((p + warp * 0.45) * 1.4, 7, kSeedLand);
}

// The sea level that leaves kLandShare of the sphere above it, from points spread evenly
// over the sphere (a Fibonacci lattice).
double find_sea_level() {
    constexpr int kPoints = 20000;
    const double golden = std::numbers::pi * (3.0 - std::sqrt(5.0));
    std::vector<double> heights;
    for (int i = 0; i < kPoints; ++i) {
        const double y = 1.0 - 2.0 * (i + 0.5) / kPoints;
        const double r = std::sqrt(1.0 - y * y);
        heights.push_back(elevation_field({r * std::cos(golden * i), y, r * std::sin(golden * i)}));
    }
    std::sort(heights.begin(), heights.end());
    return heights[static_cast<size_t>((1.0 - kLandShare) * kPoints)];
}

struct Surface {
    Colour albedo;  // display values
    double water;   // 1 on open water, for the sun's glint
};

Surface surface_at(Vec3 p, double sea_level) {
    const double height = elevation_field(p) - sea_level;
    const double latitude = std::asin(std::clamp(p.y, -1.0, 1.0)) * 180.0 / std::numbers::pi;
    const double polar = std::fabs(latitude) + 7.0 * fbm(p * 3.0, 3, kSeedIce);

    Surface s{};
    if (height < 0.0) {
        const double depth = smoothstep(0.0, 0.09, -height);
        s.albedo = lerp(kShallowOcean, kDeepOcean, depth);
        s.water = 1.0;
        const double sea_ice = smoothstep(73.0, 78.0, polar);
        s.albedo = lerp(s.albedo, kIce, sea_ice);
        s.water *= 1.0 - sea_ice;
        return s;
    }
    // Land: wet or dry by a slow noise and by latitude (deserts near the tropics' edges).
    const double moisture = fbm(p * 2.2, 4, kSeedMoisture) + 0.25 -
                            0.45 * std::exp(-std::pow((std::fabs(latitude) - 24.0) / 10.0, 2.0));
    const double detail = fbm(p * 9.0, 3, kSeedDetail);
    Colour land = lerp(kDesert, kGrass, smoothstep(-0.15, 0.1, moisture + 0.1 * detail));
    land = lerp(land, kForest, smoothstep(0.1, 0.35, moisture));
    land = lerp(land, kTundra, smoothstep(48.0, 62.0, polar));
    land = lerp(land, kRock, smoothstep(0.16, 0.3, height + 0.05 * detail));
    land = lerp(land, kIce, smoothstep(0.3, 0.38, height));  // snow on the highest peaks
    land = lerp(land, kIce, smoothstep(64.0, 70.0, polar));
    // Coasts shade a little darker, like wetlands and river mouths.
    land = lerp(land, kForest, 0.35 * (1.0 - smoothstep(0.0, 0.02, height)));
    s.albedo = land;
    s.water = 0.0;
    return s;
}

// Cloud cover 0..1: swirled noise, thickest along the equator and the storm belts, thin over
// the subtropics.
double clouds_at(Vec3 p) {
    const Vec3 swirl{fbm(p * 1.8 + Vec3{7.0, 0.0, 0.0}, 4, kSeedCloudWarp),
                     fbm(p * 1.8 + Vec3{0.0, 3.0, 0.0}, 4, kSeedCloudWarp),
                     fbm(p * 1.8 + Vec3{0.0, 0.0, 5.0}, 4, kSeedCloudWarp)};
    const double latitude =
        std::fabs(std::asin(std::clamp(p.y, -1.0, 1.0))) * 180.0 / std::numbers::pi;
    const double belts = 0.10 * std::exp(-std::pow(latitude / 9.0, 2.0)) -
                         0.12 * std::exp(-std::pow((latitude - 25.0) / 9.0, 2.0)) +
                         0.10 * std::exp(-std::pow((latitude - 55.0) / 12.0, 2.0));
    // Stretch along the latitude lines: clouds are drawn out by the winds.
    const Vec3 q = p + swirl * 0.6;
    const double c = fbm(Vec3{q.x * 2.4, q.y * 4.2, q.z * 2.4}, 6, kSeedCloud) + belts;
    return smoothstep(0.04, 0.42, c) * 0.92;
}

// Linear light leaving one point of the view: the lit planet, or the atmosphere's glow just
// outside its rim.
Colour shade(double u, double v, double turn, double sea_level, Vec3 sun) {
    const double r2 = u * u + v * v;
    if (r2 >= 1.0) {
        // Thin glow outside the limb, on the day side only.
        const double r = std::sqrt(r2);
        const double edge = std::exp(-(r - 1.0) / 0.018);
        const double facing = smoothstep(-0.35, 0.6, (u * sun.x + v * sun.y) / r);
        const Colour a = to_linear(kAtmosphere);
        const double k = 0.45 * edge * facing;
        return {a.r * k, a.g * k, a.b * k};
    }
    const Vec3 n{u, v, std::sqrt(1.0 - r2)};
    // Turning west to east: the planet's longitude under a view point falls by `turn`, so a
    // feature's view longitude grows and it moves to the right.
    const double c = std::cos(turn), s = std::sin(turn);
    const Vec3 p{n.x * c - n.z * s, n.y, n.z * c + n.x * s};

    const Surface ground = surface_at(p, sea_level);
    const double cover = clouds_at(p);
    const Colour albedo = to_linear(lerp(ground.albedo, kCloud, cover));

    const double cosine = dot(n, sun);
    const double day = smoothstep(-kTerminatorSoftness * 0.5, kTerminatorSoftness, cosine);
    const double light = kAmbient + day * (0.35 + 0.65 * std::max(cosine, 0.0));
    // Low sun reddens: toward the day/night edge less green and blue light gets through.
    const double high_sun = smoothstep(0.0, 0.3, cosine);
    const double tint_g = 0.88 + 0.12 * high_sun, tint_b = 0.72 + 0.28 * high_sun;

    // The sun's reflection on open water.
    const Vec3 half = normalized(sun + Vec3{0.0, 0.0, 1.0});
    const double glint =
        std::pow(std::max(dot(n, half), 0.0), 150.0) * 0.5 * ground.water * (1.0 - cover) * day;
    // Air scatters blue toward the limb, on the day side.
    const double limb = std::pow(1.0 - n.z, 2.2) * smoothstep(-0.1, 0.5, cosine) * 0.45;

    const Colour g = to_linear(kGlint), a = to_linear(kAtmosphere);
    Colour out{albedo.r * light + g.r * glint + a.r * limb,
               albedo.g * light * tint_g + g.g * glint + a.g * limb,
               albedo.b * light * tint_b + g.b * glint + a.b * limb};
    return {out.r * kExposure, out.g * kExposure, out.b * kExposure};
}

}  // namespace

std::vector<Picture> render_globe() {
    const double sea_level = find_sea_level();
    const Vec3 sun = normalized(kSunDirection);
    std::vector<Picture> frames(kGlobeFrames);
    for_each_in_parallel(kGlobeFrames, [&](int frame) {
        const double turn = 2.0 * std::numbers::pi * frame / kGlobeFrames;
        Canvas canvas = make_canvas(kArtWidth, kArtHeight);
        for (int y = 0; y < kArtHeight; ++y) {
            for (int x = 0; x < kArtWidth; ++x) {
                Colour sum{0.0, 0.0, 0.0};
                for (int j = 0; j < kSupersample; ++j) {
                    for (int i = 0; i < kSupersample; ++i) {
                        const double sx = x + (i + 0.5) / kSupersample;
                        const double sy = y + (j + 0.5) / kSupersample;
                        // Screen y grows downward; the planet's y axis points up.
                        const Colour c = shade((sx - kCentreX) / kRadius, (kCentreY - sy) / kRadius,
                                               turn, sea_level, sun);
                        sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                    }
                }
                const double samples = kSupersample * kSupersample;
                float* px = canvas.at(x, y);
                px[0] = static_cast<float>(to_display(sum.r / samples));
                px[1] = static_cast<float>(to_display(sum.g / samples));
                px[2] = static_cast<float>(to_display(sum.b / samples));
            }
        }
        frames[frame] = finish(canvas, 0.0);
    });
    return frames;
}

Picture render_globe_icon(int size) {
    const double sea_level = find_sea_level();
    const Vec3 sun = normalized(kSunDirection);
    const double centre = size / 2.0, radius = size / 2.0 / kIconExtent;
    Picture icon;
    icon.width = icon.height = size;
    icon.rgb.resize(static_cast<size_t>(size) * size * 3);
    icon.alpha.resize(static_cast<size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            // Light over transparency: the planet is opaque, its glow as opaque as it is bright.
            Colour light{0.0, 0.0, 0.0};
            double cover = 0.0;
            for (int j = 0; j < kSupersample; ++j) {
                for (int i = 0; i < kSupersample; ++i) {
                    const double u = (x + (i + 0.5) / kSupersample - centre) / radius;
                    const double v = (centre - y - (j + 0.5) / kSupersample) / radius;
                    const Colour c = shade(u, v, 0.0, sea_level, sun);
                    light = {light.r + c.r, light.g + c.g, light.b + c.b};
                    cover += u * u + v * v < 1.0 ? 1.0 : std::min(1.0, std::max({c.r, c.g, c.b}));
                }
            }
            const size_t at = static_cast<size_t>(y) * size + x;
            const double samples = kSupersample * kSupersample;
            icon.alpha[at] = to_level(255.0 * cover / samples, 0.0);
            if (cover <= 0.0) continue;
            icon.rgb[at * 3 + 0] = to_level(to_display(light.r / cover), 0.0);
            icon.rgb[at * 3 + 1] = to_level(to_display(light.g / cover), 0.0);
            icon.rgb[at * 3 + 2] = to_level(to_display(light.b / cover), 0.0);
        }
    }
    return icon;
}
