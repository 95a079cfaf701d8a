// The compositor: worked pixels, the silent frames, the ring's read distances, and
// byte-for-byte agreement with the plain reference (tests/support/reference_compositor) over many
// frames, shapes and controls, draws taken included. (noise_test covers the rand() fallback.)
#include "visuals/compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/reference_compositor.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr int32_t kW = kImageWidth;
constexpr int32_t kH = kImageHeight;

// One colour everywhere, or for a non-zero seed every byte value in every channel, in no pattern.
std::unique_ptr<RawImage> picture(uint32_t seed, uint8_t b = 0, uint8_t g = 0, uint8_t r = 0) {
    auto p = std::make_unique<RawImage>();
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < kImageBytes; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        p->bgr[i] = seed ? static_cast<uint8_t>(x >> 11) : i % 3 == 0 ? b : i % 3 == 1 ? g : r;
    }
    return p;
}

// Where the first byte difference is, for readable failures.
::testing::AssertionResult same_bytes(const std::vector<uint8_t>& got,
                                      const std::vector<uint8_t>& want, const FrameControls& c) {
    const size_t i = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
    if (i == got.size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "byte " << i << " is " << int(got[i]) << ", reference "
           << int(want[i]) << "; controls " << c.flash << " " << c.pulse << " " << c.invert << " "
           << c.noise_range << " " << c.noise_offset << " " << c.ring_length;
}

// Every test starts where a fresh program starts, with the fast noise path in use.
class CompositorTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::srand(1);  // where rand() starts in a fresh program
        noise = noise_source_checked();
        ASSERT_FALSE(noise.use_rand);
    }
    int32_t next_draw() {
        int32_t value = 0;
        noise.draw(&value, 1);
        return value;
    }
    NoiseSource noise;
};

TEST_F(CompositorTest, KnownBytesForAWorkedPixelAndTheSilentFramesInBothRoutings) {
    // Noise modulo 8, so that nv 7, r1 3, r2 5 come up at some pixels; a literal ring over the
    // known sequence (r1 at j + 11, r2 at j + 1 + 8) finds them.
    FrameControls c;
    c.flash = 100, c.pulse = 200, c.noise_range = 8, c.noise_offset = 0, c.ring_length = 20;
    std::vector<int32_t> seq(20 + kImagePixels), hits;
    noise_unseeded_generator().fill(seq.data(), static_cast<int32_t>(seq.size()));
    int32_t ring[20];
    for (int32_t i = 0; i < 20; ++i) ring[i] = seq[i] % 8;
    for (int32_t n = 0, j = 0; n < kImagePixels; ++n, j = (j + 1) % 20) {
        const int32_t nv = seq[20 + n] % 8;
        if (nv == 7 && ring[(j + 11) % 20] == 3 && ring[(j + 9) % 20] == 5) hits.push_back(n);
        ring[j] = nv;
    }
    ASSERT_GT(hits.size(), 10u);
    const auto star = picture(0, 10, 20, 30), globe = picture(0, 200, 100, 50);
    const auto any_star = picture(1), any_globe = picture(2);
    std::vector<uint8_t> out(kImageBytes);
    const uint8_t want[2][3] = {{75, 30, 254}, {77, 26, 61}};
    for (const bool invert : {false, true}) {
        noise = noise_source_unseeded();
        c.invert = invert;
        compose_frame(out.data(), kW, kH, *star, *globe, c, &noise);
        for (int32_t n : hits)
            ASSERT_TRUE(std::equal(want[invert], want[invert] + 3, &out[3 * n])) << n << ", " << invert;
        // Silent: white on any pictures, and yellow when inverted.
        FrameControls silent = c;
        silent.flash = 0, silent.pulse = 0, silent.noise_range = 1;
        compose_frame(out.data(), kW, kH, *any_star, *any_globe, silent, &noise);
        for (size_t i = 0; i < kImageBytes; ++i)
            ASSERT_EQ(out[i], invert && i % 3 == 2 ? 0 : 255) << "byte " << i << ", " << invert;
    }
}

TEST_F(CompositorTest, MatchesTheReferenceOverAThousandFramesAndOtherShapesWithinItsTarget) {
    // The compositor draws from the generator, the reference from rand(): two copies of the
    // same sequence that run side by side as long as both draw alike.
    std::srand(1);
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
        ASSERT_TRUE(same_bytes(got, want, c)) << "frame " << k;
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
    const int32_t shapes[][2] = {{1, 1},   {15, 1},    {16, 1},  {17, 3},  {37, 5},
                                 {1039, 1}, {400, 299}, {kW, kH}, {0, 300}, {400, -2}};
    for (const auto& [w, h] : shapes) {
        const size_t target = w > 0 && h > 0 ? size_t{3} * w * h : 0;
        const auto composed = static_cast<int32_t>(std::min(target, kImageBytes) / 3);
        for (const FrameControls& c : controls) {
            std::vector<uint8_t> out(target + 2 * kGuard, 0xA5), ref(out);
            compose_frame(out.data() + kGuard, w, h, *pictures[0], *pictures[1], c, &noise);
            reference_compose_frame(ref.data() + kGuard, composed, 1, *pictures[0], *pictures[1], c);
            ASSERT_TRUE(same_bytes(out, ref, c)) << w << " x " << h;
        }
    }
    EXPECT_EQ(next_draw(), std::rand());
}

TEST(RingLag, EveryReadLandsOnTheDrawItsDistanceBack) {
    // A literal ring of draw numbers: the fill is draws 0..length-1, pixel n is draw length + n.
    for (int32_t length : {20, 40, 1, 3}) {
        for (int64_t offset = -90; offset <= 1100; ++offset) {
            std::vector<int32_t> ring(length);
            for (int32_t i = 0; i < length; ++i) ring[i] = i;
            for (int32_t n = 0, j = 0; n < 3 * length + 2; ++n, j = (j + 1) % length) {
                ASSERT_EQ(ring[((j + offset) % length + length) % length],
                          length + n - ring_lag(offset, length)) << length << ", " << offset << ", " << n;
                ring[j] = length + n;
            }
        }
    }
}

}  // namespace
