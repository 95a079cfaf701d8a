// The program's noise: the generator against glibc's own random_r and rand(), the start-up
// check, the fallback to rand() and where the sequence starts.
#include "visuals/noise.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// glibc's rand() runs random_r on a type 3 state of 128 bytes seeded with 1.
constexpr size_t kGlibcStateBytes = 128;

struct GlibcRandom {
    char state[kGlibcStateBytes] = {};
    random_data data = {};
    GlibcRandom() { initstate_r(1, state, sizeof state, &data); }
    int32_t next() {
        int32_t value = 0;
        random_r(&data, &value);
        return value;
    }
};

std::vector<int32_t> glibc_sequence(size_t count) {
    GlibcRandom random;
    std::vector<int32_t> values(count);
    for (auto& v : values) v = random.next();
    return values;
}

std::vector<int32_t> drawn(int32_t count) {
    std::vector<int32_t> values(count);
    noise_draw(values.data(), count);
    return values;
}

// A stand-in C library whose rand() is not glibc's.
int calls_to_other_srand = 0;
unsigned other_seed = 0;
int other_rand() { return 42; }
void other_srand(unsigned seed) {
    ++calls_to_other_srand;
    other_seed = seed;
}

// Every test starts from the state a fresh program has after the start-up check.
class NoiseTest : public ::testing::Test {
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

TEST(NoiseGenerator, StartsWithTheFirstValuesOfAnUnseededRand) {
    NoiseGenerator g = noise_unseeded_generator();
    int32_t first[3];
    g.fill(first, 3);
    EXPECT_EQ(first[0], 1804289383);
    EXPECT_EQ(first[1], 846930886);
    EXPECT_EQ(first[2], 1681692777);
}

TEST(NoiseGenerator, MatchesGlibcRandomRForMillionsOfValues) {
    constexpr size_t kCount = 3'000'000;  // 25 frames of pixels
    const std::vector<int32_t> expected = glibc_sequence(kCount);
    NoiseGenerator g = noise_unseeded_generator();
    std::vector<int32_t> values(kCount);
    g.fill(values.data(), static_cast<int32_t>(kCount));
    EXPECT_EQ(values, expected);
}

TEST(NoiseGenerator, GivesTheSameSequenceWhateverTheRequestSizes) {
    // Sizes around the internal block and the three-word step, and a frame's worth.
    const std::vector<int32_t> sizes = {1, 2, 3, 4, 5, 20, 40, 255, 256, 257, 511, 1024, 120000};
    size_t total = 0;
    for (int32_t s : sizes) total += static_cast<size_t>(s);
    const std::vector<int32_t> expected = glibc_sequence(total);

    NoiseGenerator g = noise_unseeded_generator();
    std::vector<int32_t> values;
    for (int32_t s : sizes) {
        std::vector<int32_t> part(s);
        g.fill(part.data(), s);
        values.insert(values.end(), part.begin(), part.end());
    }
    EXPECT_EQ(values, expected);
}

TEST_F(NoiseTest, CheckSucceedsHereAndLeavesRandUnseeded) {
    // SetUp ran the check; rand() must start its sequence over as if never called.
    const std::vector<int32_t> expected = glibc_sequence(5);
    for (int32_t e : expected) EXPECT_EQ(std::rand(), e);
}

TEST_F(NoiseTest, DrawsTheUnseededSequenceWithoutTouchingRand) {
    const std::vector<int32_t> expected = glibc_sequence(1000);
    const std::vector<int32_t> first = drawn(400);
    const std::vector<int32_t> rest = drawn(600);
    std::vector<int32_t> values(first);
    values.insert(values.end(), rest.begin(), rest.end());
    EXPECT_EQ(values, expected);
    EXPECT_EQ(std::rand(), expected[0]);  // rand() itself has not moved
}

TEST_F(NoiseTest, CheckAfterTheFirstDrawChangesNothing) {
    const std::vector<int32_t> expected = glibc_sequence(20);
    drawn(10);
    EXPECT_TRUE(noise_init_with(other_rand, other_srand));  // reports the path, changes nothing
    EXPECT_EQ(drawn(10), std::vector<int32_t>(expected.begin() + 10, expected.end()));
}

TEST_F(NoiseTest, FallsBackToRandWhenTheCLibraryDiffers) {
    noise_restart();
    calls_to_other_srand = 0;
    EXPECT_FALSE(noise_init_with(other_rand, other_srand));
    EXPECT_EQ(calls_to_other_srand, 1);
    EXPECT_EQ(other_seed, 1u);

    // Every value now comes from rand() itself: drawing moves rand() on.
    std::srand(1);
    const std::vector<int32_t> expected = glibc_sequence(8);
    EXPECT_EQ(drawn(5), std::vector<int32_t>(expected.begin(), expected.begin() + 5));
    EXPECT_EQ(std::rand(), expected[5]);
}

TEST_F(NoiseTest, RestartBeginsTheSequenceAgainOnEitherPath) {
    const std::vector<int32_t> expected = glibc_sequence(10);
    drawn(7);
    noise_restart();
    EXPECT_EQ(drawn(10), expected);

    noise_restart();
    noise_init_with(other_rand, other_srand);
    drawn(3);
    noise_restart();
    EXPECT_EQ(drawn(10), expected);
}

TEST_F(NoiseTest, EmptyRequestsDrawNothing) {
    const std::vector<int32_t> expected = glibc_sequence(1);
    noise_draw(nullptr, 0);
    noise_draw(nullptr, -5);
    EXPECT_EQ(drawn(1), expected);
}

}  // namespace
