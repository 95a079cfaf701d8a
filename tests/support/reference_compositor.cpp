#include "support/reference_compositor.h"

#include <algorithm>
#include <cstdlib>

namespace {

// splitmix64: a well-mixed value from a counter, so that neighbouring k share nothing.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// One of a few landmark values (the ends of the range, 1, its middle) a quarter of the time,
// otherwise any value of 0..top.
int32_t spread(uint64_t bits, int32_t top) {
    const int32_t landmarks[] = {0, 1, top / 2, top};
    if ((bits & 3) == 0) return landmarks[(bits >> 2) & 3];
    return static_cast<int32_t>((bits >> 4) % static_cast<uint64_t>(top + 1));
}
}  // namespace

FrameControls varied_controls(uint32_t k) {
    FrameControls c;
    c.flash = spread(mix(4 * uint64_t{k}), kMaxFlash);
    const uint64_t bits = mix(4 * uint64_t{k} + 1);
    c.pulse = kPulseLevels[bits & 3];
    c.invert = ((bits >> 2) & 1) != 0;
    // Mostly tied to the pulse as the analyzer ties it, sometimes not.
    const bool tied = ((bits >> 3) & 7) != 0;
    const bool long_ring = tied ? c.pulse == 255 : ((bits >> 6) & 1) != 0;
    c.ring_length = long_ring ? kLongRing : kShortRing;
    c.noise_range = std::max(1, spread(mix(4 * uint64_t{k} + 2), kMaxNoiseRange));
    c.noise_offset = spread(mix(4 * uint64_t{k} + 3), kMaxNoiseOffset);
    return c;
}

void reference_compose_frame(uint8_t* pixels, int32_t w, int32_t h, const RawImage& star,
                             const RawImage& globe, const FrameControls& controls) {
    const int32_t ring_length = controls.ring_length;
    const int32_t noise_range = controls.noise_range;
    int32_t ring[kLongRing];
    for (int32_t i = 0; i < ring_length; ++i) ring[i] = std::rand() % noise_range;

    const int32_t pixel_count = w * h;
    if (pixel_count <= 0) return;

    int32_t j = 0;
    for (int32_t n = 0; n < pixel_count; ++n) {
        const uint8_t* an = star.bgr + 3 * n;
        const uint8_t* bn = globe.bgr + 3 * n;
        uint8_t* o = pixels + 3 * n;
        int32_t g[3], s[3];
        for (int c = 0; c < 3; ++c) {
            g[c] = bn[c] * controls.flash / 255;
            s[c] = 255 - an[c] * controls.pulse / 255;
        }
        const int32_t nv = std::rand() % noise_range;
        int32_t i1 = (j + 11 + controls.noise_offset) % ring_length;
        if (i1 < 0) i1 += ring_length;
        int32_t i2 = (j + 1 + noise_range) % ring_length;
        if (i2 < 0) i2 += ring_length;
        const int32_t r1 = ring[i1] & 0xFF;
        const int32_t r2 = ring[i2] & 0xFF;
        if (!controls.invert) {
            o[0] = static_cast<uint8_t>(g[0] + r2 + s[0]);
            o[1] = static_cast<uint8_t>(g[1] + nv + s[1]);
            o[2] = static_cast<uint8_t>(g[2] + r1 + s[2]);
        } else {
            o[0] = static_cast<uint8_t>(g[0] + nv + s[0]);
            o[1] = static_cast<uint8_t>(g[1] + r1 + s[1]);
            o[2] = static_cast<uint8_t>(g[2] * s[2] + r2);
        }
        ring[j] = nv;
        if (++j == ring_length) j = 0;
    }
}
