#include "star_field.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "noise.h"

namespace {

constexpr int kChannels = 3;

// Star catalogue.
constexpr uint64_t kCatalogueSeed = 0x57A2F1E1Dull;
constexpr int kFieldStars = 1400;
constexpr int kClusterStars = 600;
constexpr double kTwinkleShare = 0.22;  // share of field stars that twinkle
constexpr double kTwinkleDepth = 0.5;   // brightness swing of a twinkle, +-
constexpr int kTwinkleMaxCycles = 3;    // whole cycles per loop, so the loop is seamless

// The cluster sits in the middle, slightly above centre where the eye rests.
constexpr double kClusterX = 200.0;  // pixels
constexpr double kClusterY = 146.0;
constexpr double kClusterCore = 17.0;    // Plummer scale radius of the star positions, px
constexpr double kClusterReach = 120.0;  // no cluster star further out than this, px
constexpr double kGlowCore = 14.0;       // scale radius of the unresolved core glow, px
constexpr double kGlowHalo = 55.0;       // scale radius of the faint outer halo, px

// Stars are drawn as Gaussian spots; values are peak display levels before the tone curve.
constexpr double kStarSigmaMin = 0.5;  // px
constexpr double kStarSigmaMax = 0.8;
constexpr double kFaintestStar = 9.0;
constexpr double kBrightestStar = 420.0;
constexpr double kHaloThreshold = 140.0;   // brighter stars get a soft halo...
constexpr double kSpikeThreshold = 390.0;  // ...and the brightest, diffraction spikes

// The crossing star: enters on the left, leaves on the right, slightly descending along a
// gentle arc above the cluster. Its first and last positions are far enough outside the
// frame that the loop seam falls while it is out of sight.
constexpr double kCrossStartX = -26.0;  // px, where it would be at the loop start
constexpr double kCrossEndX = 426.0;    // px, at the loop end
constexpr double kCrossStartY = 52.0;
constexpr double kCrossDropY = 78.0;      // px it descends over the crossing
constexpr double kCrossArcY = 30.0;       // px the arc bows upward in the middle
constexpr double kCrossPeak = 900.0;      // core level: burns out to white
constexpr double kCrossTrailSteps = 1.3;  // trail length, in frame steps

// Soft shoulder of the tone curve: levels above the knee approach 255 without clipping hard.
constexpr double kToneKnee = 170.0;

constexpr double kDither = 1.0;  // levels of dither against banding in the nebula

constexpr uint32_t kSeedWarpX = 101, kSeedWarpY = 202, kSeedGas = 303, kSeedDust = 404,
                   kSeedHue = 505, kSeedFine = 606;

struct Colour {
    double r, g, b;
};

// Star tints: blue-white, white, lavender and rose, in the field's violet key.
constexpr Colour kStarTints[] = {
    {0.78, 0.82, 1.00}, {1.00, 0.95, 1.00}, {0.92, 0.72, 1.00}, {1.00, 0.74, 0.88}};
constexpr Colour kClusterTint = {1.00, 0.86, 0.96};
constexpr Colour kGlowCoreColour = {160.0, 78.0, 190.0};
constexpr Colour kGlowHaloColour = {20.0, 1.5, 30.0};
constexpr Colour kCrossTint = {0.95, 0.93, 1.00};

// Nebula colours: blue-violet and magenta, mixed by a slow noise.
constexpr Colour kGasBlue = {0.50, 0.030, 1.00};
constexpr Colour kGasMagenta = {1.10, 0.035, 0.75};
constexpr Colour kBackground = {0.22, 0.020, 0.40};

struct Star {
    double x, y, sigma, level;
    Colour tint;
    int twinkle_cycles;    // 0: steady
    double twinkle_phase;  // radians
};

struct Layers {
    Canvas nebula;  // scaled per channel to meet the mean levels
    Canvas still;   // glow and steady stars, the same in every frame
    std::vector<Star> twinkling;
};

void splat(Canvas& canvas, double cx, double cy, double sigma, Colour colour) {
    const double reach = 3.5 * sigma;
    const int x0 = static_cast<int>(std::floor(cx - reach)), x1 = static_cast<int>(cx + reach);
    const int y0 = static_cast<int>(std::floor(cy - reach)), y1 = static_cast<int>(cy + reach);
    const double inv = 1.0 / (2.0 * sigma * sigma);
    for (int y = y0 < 0 ? 0 : y0; y <= y1 && y < canvas.height; ++y) {
        for (int x = x0 < 0 ? 0 : x0; x <= x1 && x < canvas.width; ++x) {
            // Pixel centres sit at half-integer positions.
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double w = std::exp(-(dx * dx + dy * dy) * inv);
            float* p = canvas.at(x, y);
            p[0] += static_cast<float>(colour.r * w);
            p[1] += static_cast<float>(colour.g * w);
            p[2] += static_cast<float>(colour.b * w);
        }
    }
}

// Four thin rays along the axes, fading with distance: the diffraction cross of a telescope.
void spikes(Canvas& canvas, double cx, double cy, double length, Colour colour) {
    constexpr double kWidth = 0.45;  // px, deviation across the ray
    const int reach = static_cast<int>(4.0 * length);
    for (int y = static_cast<int>(cy) - reach; y <= static_cast<int>(cy) + reach; ++y) {
        for (int x = static_cast<int>(cx) - reach; x <= static_cast<int>(cx) + reach; ++x) {
            if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) continue;
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double across_h = std::exp(-dy * dy / (2 * kWidth * kWidth));
            const double across_v = std::exp(-dx * dx / (2 * kWidth * kWidth));
            const double w = across_h * std::exp(-std::fabs(dx) / length) +
                             across_v * std::exp(-std::fabs(dy) / length);
            float* p = canvas.at(x, y);
            p[0] += static_cast<float>(colour.r * w);
            p[1] += static_cast<float>(colour.g * w);
            p[2] += static_cast<float>(colour.b * w);
        }
    }
}

Colour scaled(Colour c, double s) { return {c.r * s, c.g * s, c.b * s}; }

void draw_star(Canvas& canvas, const Star& star, double level) {
    splat(canvas, star.x, star.y, star.sigma, scaled(star.tint, level));
    if (level > kHaloThreshold) splat(canvas, star.x, star.y, 2.6, scaled(star.tint, 0.05 * level));
    if (level > kSpikeThreshold)
        spikes(canvas, star.x, star.y, 2.0 + level / 140.0, scaled(star.tint, 0.14 * level));
}

Canvas paint_nebula() {
    Canvas canvas = make_canvas(kArtWidth, kArtHeight);
    // The band of the galaxy crosses the field through the cluster, falling to the right.
    const double band_angle = -0.42;  // radians
    const double bx = std::cos(band_angle), by = std::sin(band_angle);
    for (int y = 0; y < kArtHeight; ++y) {
        for (int x = 0; x < kArtWidth; ++x) {
            const Vec3 p{x / 120.0, y / 120.0, 0.37};
            const Vec3 warp{fbm(p + Vec3{1.7, 9.2, 0.0}, 4, kSeedWarpX),
                            fbm(p + Vec3{8.3, 2.8, 0.0}, 4, kSeedWarpY), 0.0};
            double gas = clamp01(0.5 + 0.9 * fbm(p + warp * 1.7, 6, kSeedGas));
            gas = gas * gas * std::sqrt(gas);
            const double fine = clamp01(0.5 + fbm(p * 3.1 + warp, 4, kSeedFine));
            const double ux = x - kClusterX, uy = y - kClusterY;
            const double across = -ux * by + uy * bx;  // px from the band's axis
            const double band = std::exp(-(across * across) / (80.0 * 80.0));
            const double dust =
                smoothstep(0.05, 0.5, fbm(p * 2.4 + warp * 0.6, 5, kSeedDust)) * band;
            const double hue = smoothstep(-0.5, 0.5, fbm(p * 0.6, 3, kSeedHue));
            const Colour gas_colour{mix(kGasBlue.r, kGasMagenta.r, hue),
                                    mix(kGasBlue.g, kGasMagenta.g, hue),
                                    mix(kGasBlue.b, kGasMagenta.b, hue)};
            const double r2 = (ux * ux + uy * uy) / (250.0 * 250.0);
            const double vignette = 1.0 - 0.35 * r2;
            const double light = (0.15 + gas * (0.6 + 4.5 * band) * (0.6 + 0.8 * fine)) *
                                 (1.0 - 0.75 * dust) * vignette;
            float* px = canvas.at(x, y);
            px[0] = static_cast<float>(20.0 * (kBackground.r + light * gas_colour.r));
            px[1] = static_cast<float>(20.0 * (kBackground.g + light * gas_colour.g));
            px[2] = static_cast<float>(20.0 * (kBackground.b + light * gas_colour.b));
        }
    }
    return canvas;
}

void paint_cluster_glow(Canvas& canvas) {
    for (int y = 0; y < kArtHeight; ++y) {
        for (int x = 0; x < kArtWidth; ++x) {
            const double dx = x + 0.5 - kClusterX, dy = y + 0.5 - kClusterY;
            const double r2 = dx * dx + dy * dy;
            const double core = 1.0 / std::pow(1.0 + r2 / (kGlowCore * kGlowCore), 2.0);
            const double halo = 1.0 / std::pow(1.0 + r2 / (kGlowHalo * kGlowHalo), 1.5);
            float* p = canvas.at(x, y);
            p[0] += static_cast<float>(kGlowCoreColour.r * core + kGlowHaloColour.r * halo);
            p[1] += static_cast<float>(kGlowCoreColour.g * core + kGlowHaloColour.g * halo);
            p[2] += static_cast<float>(kGlowCoreColour.b * core + kGlowHaloColour.b * halo);
        }
    }
}

std::vector<Star> make_catalogue() {
    Rng rng{kCatalogueSeed};
    std::vector<Star> stars;
    const int tints = static_cast<int>(sizeof kStarTints / sizeof kStarTints[0]);
    for (int i = 0; i < kFieldStars; ++i) {
        Star s{};
        s.x = rng.range(-4.0, kArtWidth + 4.0);
        s.y = rng.range(-4.0, kArtHeight + 4.0);
        s.sigma = rng.range(kStarSigmaMin, kStarSigmaMax);
        // Many faint stars, few bright ones: a steep power law.
        s.level = kFaintestStar * std::pow(1.0 - rng.uniform(), -0.72);
        if (s.level > kBrightestStar) s.level = kBrightestStar;
        s.tint = kStarTints[static_cast<int>(rng.uniform() * tints)];
        if (rng.uniform() < kTwinkleShare) {
            s.twinkle_cycles = 1 + static_cast<int>(rng.uniform() * kTwinkleMaxCycles);
            s.twinkle_phase = rng.range(0.0, 2.0 * std::numbers::pi);
        }
        stars.push_back(s);
    }
    for (int i = 0; i < kClusterStars; ++i) {
        Star s{};
        // Plummer sphere projected: radius from the inverse of its cumulative mass.
        double r = kClusterReach;
        while (r >= kClusterReach) {
            const double m = rng.range(1e-4, 1.0);
            r = kClusterCore / std::sqrt(std::pow(m, -2.0 / 3.0) - 1.0);
        }
        const double angle = rng.range(0.0, 2.0 * std::numbers::pi);
        s.x = kClusterX + r * std::cos(angle);
        s.y = kClusterY + r * std::sin(angle);
        s.sigma = rng.range(kStarSigmaMin, kStarSigmaMax);
        s.level = 18.0 * std::pow(1.0 - rng.uniform(), -0.8);
        if (s.level > 260.0) s.level = 260.0;
        s.tint = kClusterTint;
        if (rng.uniform() < kTwinkleShare) {
            s.twinkle_cycles = 1 + static_cast<int>(rng.uniform() * kTwinkleMaxCycles);
            s.twinkle_phase = rng.range(0.0, 2.0 * std::numbers::pi);
        }
        stars.push_back(s);
    }
    return stars;
}

void paint_crossing_star(Canvas& canvas, int frame) {
    auto position = [](double t, double* x, double* y) {
        *x = mix(kCrossStartX, kCrossEndX, t);
        *y = kCrossStartY + kCrossDropY * t - kCrossArcY * std::sin(std::numbers::pi * t);
    };
    const double step = 1.0 / kStarFieldFrames;
    const double t = (frame + 0.5) * step;
    // Trail first, fading toward its tail.
    constexpr int kTrailDots = 40;
    for (int i = 1; i <= kTrailDots; ++i) {
        const double back = kCrossTrailSteps * step * i / kTrailDots;
        double x, y;
        position(t - back, &x, &y);
        const double fade = 1.0 - static_cast<double>(i) / kTrailDots;
        splat(canvas, x, y, 0.9, scaled(Colour{0.70, 0.55, 1.00}, 26.0 * fade * fade));
    }
    double x, y;
    position(t, &x, &y);
    splat(canvas, x, y, 14.0, scaled(Colour{0.60, 0.10, 1.00}, 34.0));
    splat(canvas, x, y, 4.0, scaled(kCrossTint, 110.0));
    splat(canvas, x, y, 1.3, scaled(kCrossTint, kCrossPeak));
    spikes(canvas, x, y, 13.0, scaled(kCrossTint, 190.0));
}

double tone(double v) {
    if (v <= kToneKnee) return v;
    const double room = 255.0 - kToneKnee;
    return kToneKnee + room * (1.0 - std::exp(-(v - kToneKnee) / room));
}

// Mean of one channel over all frames once the nebula is scaled by `gain`, toned, dithered
// and rounded exactly as the finished pictures will be.
double channel_mean(const Canvas& nebula, const std::vector<Canvas>& lights, int channel,
                    double gain) {
    double sum = 0.0;
    for (const Canvas& light : lights) {
        for (int y = 0; y < kArtHeight; ++y) {
            for (int x = 0; x < kArtWidth; ++x) {
                const size_t i = (static_cast<size_t>(y) * kArtWidth + x) * kChannels + channel;
                sum += to_level(tone(gain * nebula.rgb[i] + light.rgb[i]),
                                dither_offset(x, y, kDither));
            }
        }
    }
    return sum / (static_cast<double>(kArtWidth) * kArtHeight * lights.size());
}

// The nebula gain that gives `target` as the channel's mean; negative if none can.
double balance(const Canvas& nebula, const std::vector<Canvas>& lights, int channel,
               double target) {
    double low = 0.0, high = 8.0;
    if (channel_mean(nebula, lights, channel, low) > target) return -1.0;
    if (channel_mean(nebula, lights, channel, high) < target) return -1.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (low + high);
        (channel_mean(nebula, lights, channel, mid) < target ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

}  // namespace

Outcome render_star_field(std::vector<Picture>* frames) {
    const Canvas nebula = paint_nebula();
    Canvas still = make_canvas(kArtWidth, kArtHeight);
    paint_cluster_glow(still);
    const std::vector<Star> stars = make_catalogue();
    for (const Star& s : stars)
        if (s.twinkle_cycles == 0) draw_star(still, s, s.level);

    std::vector<Canvas> lights;
    for (int frame = 0; frame < kStarFieldFrames; ++frame) {
        Canvas light = still;
        for (const Star& s : stars) {
            if (s.twinkle_cycles == 0) continue;
            const double phase =
                2.0 * std::numbers::pi * s.twinkle_cycles * frame / kStarFieldFrames;
            draw_star(light, s,
                      s.level * (1.0 + kTwinkleDepth * std::sin(phase + s.twinkle_phase)));
        }
        paint_crossing_star(light, frame);
        lights.push_back(light);
    }

    const double targets[kChannels] = {kStarMeanRed, kStarMeanGreen, kStarMeanBlue};
    double gains[kChannels];
    for_each_in_parallel(kChannels,
                         [&](int c) { gains[c] = balance(nebula, lights, c, targets[c]); });
    for (int c = 0; c < kChannels; ++c) {
        if (gains[c] < 0.0) {
            char why[128];
            std::snprintf(why, sizeof why,
                          "star field: channel %d cannot be balanced to %.1f (%.2f without the "
                          "nebula)",
                          c, targets[c], channel_mean(nebula, lights, c, 0.0));
            return failed(why);
        }
    }
    std::printf("star field: nebula gains red %.3f green %.3f blue %.3f\n", gains[0], gains[1],
                gains[2]);

    frames->clear();
    for (Canvas& light : lights) {
        for (size_t i = 0; i < light.rgb.size(); ++i)
            light.rgb[i] =
                static_cast<float>(tone(gains[i % kChannels] * nebula.rgb[i] + light.rgb[i]));
        frames->push_back(finish(light, kDither));
    }
    return {};
}
