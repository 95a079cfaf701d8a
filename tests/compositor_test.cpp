// The compositor: worked pixels, the silent frames, how many draws a frame takes, the ring's
// read distances, the target's bounds, and byte-for-byte agreement with the plain
// reference (bench/reference_compositor) over many frames, on both noise paths.
#include "visuals/compositor.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "reference_compositor.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

constexpr int32_t kW = kImageWidth;
constexpr int32_t kH = kImageHeight;
constexpr double kFrameMs = 1000.0 / 60.0;  // clock step between compared frames

std::unique_ptr<RawImage> picture_of(uint8_t b, uint8_t g, uint8_t r) {
    auto p = std::make_unique<RawImage>();
    for (size_t i = 0; i < kImageBytes; i += 3) {
        p->bgr[i] = b;
        p->bgr[i + 1] = g;
        p->bgr[i + 2] = r;
    }
    return p;
}

// Every byte value in every channel, in no pattern.
std::unique_ptr<RawImage> random_picture(uint32_t seed) {
    auto p = std::make_unique<RawImage>();
    uint32_t x = seed * 2654435761u + 1;
    for (auto& byte : p->bgr) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x >> 11);
    }
    return p;
}

std::vector<int32_t> unseeded_sequence(int32_t count) {
    NoiseGenerator g = noise_unseeded_generator();
    std::vector<int32_t> values(count);
    g.fill(values.data(), count);
    return values;
}

int32_t next_draw() {
    int32_t value = 0;
    noise_draw(&value, 1);
    return value;
}

// Where the first byte difference is, for readable failures.
::testing::AssertionResult same_bytes(const std::vector<uint8_t>& got,
                                      const std::vector<uint8_t>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] != want[i]) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " (pixel " << i / 3 << ", channel " << i % 3 << ") is "
                   << int(got[i]) << ", reference " << int(want[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

FrameControls silent(bool invert) {
    FrameControls c;
    c.flash = 0;
    c.pulse = 0;
    c.noise_range = 1;
    c.noise_offset = 0;
    c.ring_length = 20;
    c.invert = invert;
    return c;
}

// Every test starts where a fresh program starts, with the fast noise path in use.
class CompositorTest : public ::testing::Test {
protected:
    void SetUp() override {
        noise_restart();
        ASSERT_TRUE(noise_init());
    }
    void TearDown() override {
        noise_restart();
        noise_init();
    }
};

TEST_F(CompositorTest, WorkedPixelGivesTheKnownBytesInBothRoutings) {
    // Star (10, 20, 30) and globe (200, 100, 50) everywhere; noise modulo 8, so that the
    // draws 7, 3, 5 come up at some pixels. A literal ring over the known sequence finds them.
    FrameControls c;
    c.flash = 100;
    c.pulse = 200;
    c.noise_range = 8;
    c.noise_offset = 0;
    c.ring_length = 20;
    const std::vector<int32_t> seq = unseeded_sequence(c.ring_length + kImagePixels);
    int32_t ring[20];
    for (int32_t i = 0; i < 20; ++i) ring[i] = seq[i] % 8;
    std::vector<int32_t> hits;
    for (int32_t n = 0, j = 0; n < kImagePixels; ++n, j = (j + 1) % 20) {
        const int32_t nv = seq[20 + n] % 8;
        const int32_t r1 = ring[(j + 11) % 20];
        const int32_t r2 = ring[(j + 1 + 8) % 20];
        if (nv == 7 && r1 == 3 && r2 == 5) hits.push_back(n);
        ring[j] = nv;
    }
    ASSERT_GT(hits.size(), 10u);

    const auto star = picture_of(10, 20, 30);
    const auto globe = picture_of(200, 100, 50);
    std::vector<uint8_t> out(kImageBytes);
    for (const bool invert : {false, true}) {
        SCOPED_TRACE(invert ? "invert" : "plain");
        noise_restart();
        c.invert = invert;
        compose_frame(out.data(), kW, kH, *star, *globe, c);
        const uint8_t want[2][3] = {{75, 30, 254}, {77, 26, 61}};
        for (int32_t n : hits) {
            EXPECT_EQ(out[3 * n + 0], want[invert][0]) << "pixel " << n;
            EXPECT_EQ(out[3 * n + 1], want[invert][1]) << "pixel " << n;
            EXPECT_EQ(out[3 * n + 2], want[invert][2]) << "pixel " << n;
        }
    }
}

TEST_F(CompositorTest, SilentFrameIsWhiteAndItsInvertTwinIsYellowOnAnyPictures) {
    const auto star = random_picture(1);
    const auto globe = random_picture(2);
    std::vector<uint8_t> out(kImageBytes);
    compose_frame(out.data(), kW, kH, *star, *globe, silent(false));
    for (size_t i = 0; i < kImageBytes; ++i) ASSERT_EQ(out[i], 255) << "byte " << i;

    compose_frame(out.data(), kW, kH, *star, *globe, silent(true));
    for (size_t i = 0; i < kImageBytes; ++i) {
        ASSERT_EQ(out[i], i % 3 == 2 ? 0 : 255) << "byte " << i;
    }
}

TEST_F(CompositorTest, MatchesTheReferenceOverAThousandVariedFrames) {
    // The shipped compositor draws from the generator, the reference from rand() itself:
    // two copies of the same sequence that run side by side, frame after frame.
    std::srand(1);
    const std::unique_ptr<RawImage> pictures[] = {random_picture(3), random_picture(4),
                                                  random_picture(5), random_picture(6)};
    std::vector<uint8_t> got(kImageBytes);
    std::vector<uint8_t> want(kImageBytes);
    constexpr uint32_t kFrames = 1000;
    for (uint32_t k = 0; k < kFrames; ++k) {
        const FrameControls c = varied_controls(k);
        // Odd frames take the demo's own pictures for the moment, even frames random ones.
        const double elapsed_ms = k * kFrameMs;
        const RawImage& star = k % 2 ? *star_for(elapsed_ms) : *pictures[k % 4];
        const RawImage& globe = k % 2 ? *globe_for(elapsed_ms) : *pictures[(k + 1) % 4];
        compose_frame(got.data(), kW, kH, star, globe, c);
        reference_compose_frame(want.data(), kW, kH, star, globe, c);
        ASSERT_TRUE(same_bytes(got, want))
            << "frame " << k << ": flash " << c.flash << ", pulse " << c.pulse << ", invert "
            << c.invert << ", noise_range " << c.noise_range << ", noise_offset "
            << c.noise_offset << ", ring_length " << c.ring_length;
    }
    // Both have taken exactly as many values from the sequence.
    EXPECT_EQ(next_draw(), std::rand());
}

TEST_F(CompositorTest, MatchesTheReferenceOnTheRandFallback) {
    // With the check failed, frames draw from rand() itself: compose a run, then replay it
    // with the reference from the start of rand()'s sequence.
    noise_restart();
    ASSERT_FALSE(noise_init_with([] { return 0; }, [](unsigned) {}));
    std::srand(1);
    const auto star = random_picture(7);
    const auto globe = random_picture(8);
    constexpr uint32_t kFrames = 30;
    std::vector<std::vector<uint8_t>> got(kFrames, std::vector<uint8_t>(kImageBytes));
    for (uint32_t k = 0; k < kFrames; ++k) {
        compose_frame(got[k].data(), kW, kH, *star, *globe, varied_controls(k));
    }
    std::srand(1);
    std::vector<uint8_t> want(kImageBytes);
    for (uint32_t k = 0; k < kFrames; ++k) {
        reference_compose_frame(want.data(), kW, kH, *star, *globe, varied_controls(k));
        ASSERT_TRUE(same_bytes(got[k], want)) << "frame " << k;
    }
}

TEST_F(CompositorTest, MatchesTheReferenceOnOtherShapesAndUnusualControls) {
    // Shapes that leave pixels over after whole vector steps and batches; controls the
    // analyzer never makes but the record can hold: other ring lengths, negative and huge
    // noise ranges and offsets, scale factors outside 0..255.
    std::srand(1);
    const auto star = random_picture(9);
    const auto globe = random_picture(10);
    struct Shape {
        int32_t w, h;
    };
    const Shape shapes[] = {{1, 1}, {15, 1}, {16, 1}, {17, 3}, {37, 5}, {1039, 1}, {400, 299}};
    const FrameControls base = varied_controls(11);
    std::vector<FrameControls> controls;
    for (int32_t length : {1, 2, 7, 33, 40}) {
        FrameControls c = base;
        c.ring_length = length;
        controls.push_back(c);
    }
    for (int32_t range : {-7, -1019, 2, 256, 65536, 2147483000, INT_MIN}) {
        FrameControls c = base;
        c.noise_range = range;
        controls.push_back(c);
    }
    for (int32_t offset : {-1, -500, 100000}) {
        FrameControls c = base;
        c.noise_offset = offset;
        controls.push_back(c);
    }
    for (int32_t flash : {-40, 256, 1000}) {
        for (int32_t pulse : {-3, 0, 300}) {
            for (bool invert : {false, true}) {
                FrameControls c = base;
                c.flash = flash;
                c.pulse = pulse;
                c.invert = invert;
                controls.push_back(c);
            }
        }
    }
    for (const Shape& s : shapes) {
        for (size_t i = 0; i < controls.size(); ++i) {
            const FrameControls& c = controls[i];
            std::vector<uint8_t> got(size_t{3} * s.w * s.h);
            std::vector<uint8_t> want(got.size());
            compose_frame(got.data(), s.w, s.h, *star, *globe, c);
            reference_compose_frame(want.data(), s.w, s.h, *star, *globe, c);
            ASSERT_TRUE(same_bytes(got, want))
                << s.w << " x " << s.h << ", controls #" << i << ": flash " << c.flash
                << ", pulse " << c.pulse << ", invert " << c.invert << ", noise_range "
                << c.noise_range << ", noise_offset " << c.noise_offset << ", ring_length "
                << c.ring_length;
        }
    }
    EXPECT_EQ(next_draw(), std::rand());
}

TEST_F(CompositorTest, DrawsOnceForEveryRingEntryAndEveryComposedPixel) {
    const auto star = random_picture(12);
    const auto globe = random_picture(13);
    struct Case {
        int32_t w, h, ring_length, draws;
    };
    const Case cases[] = {
        {kW, kH, 20, 20 + kImagePixels},
        {kW, kH, 40, 40 + kImagePixels},
        {3, 5, 40, 40 + 15},
        {0, 300, 20, 20},   // no pixels: the ring is still filled
        {400, -2, 40, 40},
        {-400, -300, 20, 20},
        {kW + 1, kH, 20, 20 + kImagePixels},  // only the pictures' pixels are composed
        {2000, 2000, 40, 40 + kImagePixels},
    };
    const std::vector<int32_t> seq = unseeded_sequence(41 + kImagePixels);
    std::vector<uint8_t> out(size_t{3} * 2000 * 2000);
    for (const Case& k : cases) {
        noise_restart();
        FrameControls c = varied_controls(14);
        c.ring_length = k.ring_length;
        compose_frame(out.data(), k.w, k.h, *star, *globe, c);
        EXPECT_EQ(next_draw(), seq[k.draws]) << k.w << " x " << k.h;
    }
}

TEST_F(CompositorTest, WritesOnlyTheTargetAndComposesOnlyThePicturesPixels) {
    const auto star = random_picture(15);
    const auto globe = random_picture(16);
    constexpr uint8_t kGuard = 0xA5;
    constexpr size_t kGuardBytes = 64;
    struct Shape {
        int32_t w, h;
    };
    for (const Shape s : {Shape{kW, kH}, Shape{37, 5}, Shape{kW + 7, kH}, Shape{640, 480}}) {
        const size_t target = size_t{3} * s.w * s.h;
        std::vector<uint8_t> buffer(target + 2 * kGuardBytes, kGuard);
        uint8_t* pixels = buffer.data() + kGuardBytes;
        for (bool invert : {false, true}) {
            FrameControls c = varied_controls(17);
            c.invert = invert;
            compose_frame(pixels, s.w, s.h, *star, *globe, c);
            for (size_t i = 0; i < kGuardBytes; ++i) {
                ASSERT_EQ(buffer[i], kGuard) << "before the target, " << s.w << " x " << s.h;
                ASSERT_EQ(buffer[kGuardBytes + target + i], kGuard)
                    << "after the target, " << s.w << " x " << s.h;
            }
            const size_t composed = std::min(target, kImageBytes);
            for (size_t i = composed; i < target; ++i) {
                ASSERT_EQ(pixels[i], kGuard) << "past the pictures, " << s.w << " x " << s.h;
            }
        }
    }
}

TEST_F(CompositorTest, LargerTargetStartsWithTheFrameThePicturesMake) {
    const auto star = random_picture(18);
    const auto globe = random_picture(19);
    const FrameControls c = varied_controls(20);
    std::vector<uint8_t> large(size_t{3} * 640 * 480);
    compose_frame(large.data(), 640, 480, *star, *globe, c);
    std::srand(1);
    std::vector<uint8_t> want(kImageBytes);
    reference_compose_frame(want.data(), kW, kH, *star, *globe, c);
    EXPECT_TRUE(same_bytes(std::vector<uint8_t>(large.begin(), large.begin() + kImageBytes),
                           want));
}

// A literal ring: the draw number (fill entries 0..L-1, then pixel n is draw L + n) that a
// read at `read_offset` past the write position finds at pixel n.
int32_t ring_read_draw(int32_t n, int64_t read_offset, int32_t length) {
    std::vector<int32_t> ring(length);
    for (int32_t i = 0; i < length; ++i) ring[i] = i;
    int32_t j = 0;
    for (int32_t m = 0; m < n; ++m) {
        ring[j] = length + m;
        j = (j + 1) % length;
    }
    int64_t index = (j + read_offset) % length;
    if (index < 0) index += length;
    return ring[index];
}

TEST(RingLag, EveryReadLandsOnTheDrawItsDistanceBack) {
    for (int32_t length : {20, 40, 1, 3}) {
        for (int64_t offset = -90; offset <= 1100; offset += 1) {
            const int32_t lag = ring_lag(offset, length);
            ASSERT_GE(lag, 1);
            ASSERT_LE(lag, length);
            for (int32_t n : {0, 1, length - 1, length, length + 1, 3 * length + 2}) {
                ASSERT_EQ(length + n - lag, ring_read_draw(n, offset, length))
                    << "ring " << length << ", offset " << offset << ", pixel " << n;
            }
        }
    }
}

TEST(RingLag, ReadsOfTheQuietFrame) {
    // Ring 20, noise_offset 0: r1 reads (j + 11) mod 20, nine entries behind the write.
    EXPECT_EQ(ring_lag(11 + 0, 20), 9);
    // noise_range 1: r2 reads (j + 2) mod 20, eighteen behind.
    EXPECT_EQ(ring_lag(1 + 1, 20), 18);
    // Ring 40: the same reads are 29 and 38 behind.
    EXPECT_EQ(ring_lag(11, 40), 29);
    EXPECT_EQ(ring_lag(2, 40), 38);
    // A read at the write position itself finds the entry written a full turn earlier.
    EXPECT_EQ(ring_lag(20, 20), 20);
    // noise_range 1019 on the long ring: r2 reads (j + 1020) mod 40, half a turn away.
    EXPECT_EQ(ring_lag(1 + 1019, 40), 20);
}

}  // namespace
