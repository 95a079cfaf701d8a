// The program's noise: the generator against glibc's own random_r and rand(), the start-up
// check, the fallback to rand() and where the sequence starts.
#include "visuals/noise.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// Values skip .. skip + count - 1 of glibc's rand(), which runs random_r on a type 3 state of
// 128 bytes seeded with 1.
std::vector<int32_t> glibc_sequence(size_t count, size_t skip = 0) {
    char state[128] = {};
    random_data data = {};
    initstate_r(1, state, sizeof state, &data);
    std::vector<int32_t> values(skip + count);
    for (auto& v : values) random_r(&data, &v);
    return std::vector<int32_t>(values.begin() + static_cast<long>(skip), values.end());
}

std::vector<int32_t> drawn(NoiseSource* noise, int32_t count) {
    std::vector<int32_t> values(count);
    return noise->draw(values.data(), count), values;
}

TEST(NoiseGenerator, MatchesGlibcForMillionsOfValuesWhateverTheRequestSizes) {
    // Sizes around the internal block and the three-word step; 25 rounds of about a frame.
    NoiseGenerator g = noise_unseeded_generator();
    std::vector<int32_t> values;
    for (int round = 0; round < 25; ++round)
        for (int32_t size : {1, 2, 3, 4, 5, 20, 40, 255, 256, 257, 511, 1024, 120000}) {
            values.resize(values.size() + size);
            g.fill(values.data() + values.size() - size, size);
        }
    EXPECT_EQ(values, glibc_sequence(values.size()));
    // Jumps, short and across whole frames, land where drawing would.
    size_t at = values.size();
    for (uint64_t jump : {0, 1, 30, 31, 32, 65535, 120021, 9876543}) {
        g.jump(jump);
        at += jump;
        int32_t next[40];
        g.fill(next, 40);
        ASSERT_EQ(std::vector<int32_t>(next, next + 40), glibc_sequence(40, at)) << jump;
        at += 40;
    }
}

TEST(NoiseSource, DrawsTheSequenceFromItsStartOrFallsBackToRandWhenTheCLibraryDiffers) {
    NoiseSource noise = noise_source_checked();
    EXPECT_FALSE(noise.use_rand);
    noise.draw(nullptr, 0);  // empty and negative requests draw nothing
    noise.draw(nullptr, -5);
    EXPECT_EQ(drawn(&noise, 400), glibc_sequence(400));
    EXPECT_EQ(drawn(&noise, 600), glibc_sequence(600, 400));
    noise.skip(200000);  // as a frame not composed moves it on
    EXPECT_EQ(drawn(&noise, 10), glibc_sequence(10, 201000));
    for (int32_t value : glibc_sequence(5)) EXPECT_EQ(std::rand(), value) << "rand() untouched";
    NoiseSource unseeded = noise_source_unseeded();  // whatever the C library
    EXPECT_EQ(drawn(&unseeded, 10), glibc_sequence(10));

    // A stand-in C library whose rand() is not glibc's: seeded with 1, checked, seeded again;
    // then every value comes from rand() itself, and drawing moves it on.
    static std::vector<unsigned> seeds;
    NoiseSource fallback =
        noise_source_checked_with([] { return 42; }, [](unsigned seed) { seeds.push_back(seed); });
    EXPECT_TRUE(fallback.use_rand);
    EXPECT_EQ(seeds, (std::vector<unsigned>{1, 1}));
    std::srand(1);
    EXPECT_EQ(drawn(&fallback, 5), glibc_sequence(5));
    EXPECT_EQ(std::rand(), glibc_sequence(1, 5)[0]);
}

}  // namespace
