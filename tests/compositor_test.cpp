// The compositor agrees byte for byte with the plain reference (tests/support/
// reference_compositor) over many frames, shapes and controls, silent ones included, and takes
// the same draws. (noise_test covers the rand() fallback.)
#include "visuals/compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/reference_compositor.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr int32_t kW = kImageWidth, kH = kImageHeight;

// Every byte value in every channel, in no pattern.
std::unique_ptr<RawImage> picture(uint32_t seed) {
    auto p = std::make_unique<RawImage>();
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < kImageBytes; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        p->bgr[i] = static_cast<uint8_t>(x >> 11);
    }
    return p;
}

TEST(Compositor, MatchesTheReferenceOverAThousandFramesAndOtherShapesWithinItsTarget) {
    // The compositor draws from the generator, the reference from rand(): two copies of the
    // same sequence that run side by side as long as both draw alike.
    std::srand(1);
    NoiseSource noise = noise_source_checked();
    ASSERT_FALSE(noise.use_rand) << "the fast path is the one to check";
    const std::unique_ptr<RawImage> pictures[] = {picture(3), picture(4), picture(5), picture(6)};
    std::vector<uint8_t> got(kImageBytes), want(kImageBytes);
    for (uint32_t k = 0; k < 1000; ++k) {
        const FrameControls c = varied_controls(k);
        // Odd frames take the demo's own pictures for the moment, even frames random ones.
        const double elapsed_ms = k * 1000.0 / 60.0;
        const RawImage& star = k % 2 ? *star_for(elapsed_ms) : *pictures[k % 4];
        const RawImage& globe = k % 2 ? *globe_for(elapsed_ms) : *pictures[(k + 1) % 4];
        compose_frame(got.data(), kW, kH, star, globe, c, &noise);
        reference_compose_frame(want.data(), kW, kH, star, globe, c);
        ASSERT_TRUE(got == want) << "frame " << k;
    }
    // Shapes that leave pixels over after whole vector steps and batches, or have none (the
    // ring is still filled); controls at the ends of their ranges. Guard bytes around the
    // target must stay.
    std::vector<FrameControls> controls(31, varied_controls(11));
    auto it = controls.begin();
    for (int32_t v : {1, 2, 7, 33, 40}) (it++)->ring_length = v;
    for (int32_t v : {2, 256, 1019, 65536, 2147483000}) (it++)->noise_range = v;
    for (int32_t v : {0, 510, 100000}) (it++)->noise_offset = v;
    for (int32_t f : {0, 1, 255})
        for (int32_t p : {0, 255, 254})
            for (bool inv : {false, true}) it->flash = f, it->pulse = p, (it++)->invert = inv;
    constexpr size_t kGuard = 64;
    const int32_t shapes[][2] = {{1, 1},    {15, 1},    {16, 1},  {17, 3},  {37, 5},
                                 {1039, 1}, {400, 299}, {kW, kH}, {0, 300}, {400, -2}};
    for (const auto& [w, h] : shapes) {
        const size_t target = w > 0 && h > 0 ? size_t{3} * w * h : 0;
        const auto composed = static_cast<int32_t>(std::min(target, kImageBytes) / 3);
        for (const FrameControls& c : controls) {
            std::vector<uint8_t> out(target + 2 * kGuard, 0xA5), ref(out);
            compose_frame(out.data() + kGuard, w, h, *pictures[0], *pictures[1], c, &noise);
            reference_compose_frame(ref.data() + kGuard, composed, 1, *pictures[0], *pictures[1],
                                    c);
            ASSERT_TRUE(out == ref)
                << w << " x " << h << ", ring " << c.ring_length << ", range " << c.noise_range;
        }
    }
    int32_t next_draw = 0;
    noise.draw(&next_draw, 1);
    EXPECT_EQ(next_draw, std::rand());
}

}  // namespace
