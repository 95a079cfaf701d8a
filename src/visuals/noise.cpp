#include "visuals/noise.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace {

// glibc fills the state from the seed with the "minimal standard" generator
// word[i] = 16807 * word[i - 1] mod (2^31 - 1), copies the first three words past the end,
// and throws the first 310 values away so that the seed's pattern has washed out.
constexpr uint32_t kSeed = 1;  // the unseeded state is the state of seed 1
constexpr int64_t kSeedMultiplier = 16807;
constexpr int64_t kSeedModulus = 2147483647;                // 2^31 - 1
constexpr int kSeedWords = kNoiseLongLag + kNoiseShortLag;  // 34: words 31..33 copy 0..2
constexpr int kDiscarded = 310;  // values dropped before the first rand()

// Values compared with rand() at start-up: enough that no other generator agrees by chance,
// few enough to cost well under a millisecond even at rand()'s locked speed.
constexpr int kCheckDraws = 4096;

// Values made per pass of NoiseGenerator::fill; its scratch (1.1 KiB) stays in the L1 cache.
constexpr int kFillBlock = 256;
static_assert(kCheckDraws % kFillBlock == 0, "the check compares whole blocks");

constexpr NoiseGenerator make_unseeded() {
    constexpr int kTotal = kSeedWords + kDiscarded;
    uint32_t r[kTotal] = {};
    r[0] = kSeed;
    for (int i = 1; i < kNoiseLongLag; ++i) {
        r[i] = static_cast<uint32_t>(kSeedMultiplier * r[i - 1] % kSeedModulus);
    }
    for (int i = kNoiseLongLag; i < kSeedWords; ++i) r[i] = r[i - kNoiseLongLag];
    for (int i = kSeedWords; i < kTotal; ++i) {
        r[i] = r[i - kNoiseShortLag] + r[i - kNoiseLongLag];
    }
    NoiseGenerator g;
    for (int i = 0; i < kNoiseLongLag; ++i) g.words[i] = r[kTotal - kNoiseLongLag + i];
    return g;
}

constexpr NoiseGenerator kUnseeded = make_unseeded();

// Below this many values filling is cheaper than jumping (a jump costs about as much as
// making some tens of thousands).
constexpr int64_t kJumpFrom = int64_t{1} << 16;

// A polynomial modulo x^31 - x^28 - 1 with coefficients modulo 2^32: coefficient k counts how
// often word k of a state enters the word the polynomial stands for.
using Poly = std::array<uint32_t, kNoiseLongLag>;

// Folds the coefficients of x^31 and above back, highest first: x^d = x^(d-3) + x^(d-31).
template <size_t N>
Poly reduce(std::array<uint32_t, N>& wide) {
    for (size_t d = N - 1; d >= kNoiseLongLag; --d) {
        wide[d - kNoiseShortLag] += wide[d];
        wide[d - kNoiseLongLag] += wide[d];
    }
    Poly p;
    std::copy_n(wide.begin(), kNoiseLongLag, p.begin());
    return p;
}

Poly times(const Poly& a, const Poly& b) {
    std::array<uint32_t, 2 * kNoiseLongLag - 1> wide{};
    for (int i = 0; i < kNoiseLongLag; ++i)
        for (int j = 0; j < kNoiseLongLag; ++j) wide[i + j] += a[i] * b[j];
    return reduce(wide);
}

Poly times_x(const Poly& a) {
    std::array<uint32_t, kNoiseLongLag + 1> wide{};
    std::copy(a.begin(), a.end(), wide.begin() + 1);
    return reduce(wide);
}

}  // namespace

void NoiseGenerator::fill(int32_t* out, int32_t count) {
    // The words run in one straight array, history first, so that the recurrence needs no
    // wrap-around index. The three most recent words ride in registers, three steps at a
    // time: read back from memory, a word stored three steps before would sit across two of
    // the compiler's vector stores and stall every step.
    static_assert(kNoiseShortLag == 3, "the steps below go three words at a time");
    uint32_t run[kNoiseLongLag + kFillBlock];
    while (count > 0) {
        const int32_t n = std::min(count, int32_t{kFillBlock});
        std::memcpy(run, words, sizeof words);
        uint32_t back3 = run[kNoiseLongLag - 3];
        uint32_t back2 = run[kNoiseLongLag - 2];
        uint32_t back1 = run[kNoiseLongLag - 1];
        int32_t i = 0;
        for (; i + 3 <= n; i += 3) {
            const uint32_t w0 = run[i] + back3;
            const uint32_t w1 = run[i + 1] + back2;
            const uint32_t w2 = run[i + 2] + back1;
            run[i + kNoiseLongLag] = w0;
            run[i + kNoiseLongLag + 1] = w1;
            run[i + kNoiseLongLag + 2] = w2;
            out[i] = static_cast<int32_t>(w0 >> 1);
            out[i + 1] = static_cast<int32_t>(w1 >> 1);
            out[i + 2] = static_cast<int32_t>(w2 >> 1);
            back3 = w0;
            back2 = w1;
            back1 = w2;
        }
        for (; i < n; ++i) {
            const uint32_t w = run[i] + back3;
            run[i + kNoiseLongLag] = w;
            out[i] = static_cast<int32_t>(w >> 1);
            back3 = back2;
            back2 = back1;
            back1 = w;
        }
        std::memcpy(words, run + n, sizeof words);
        out += n;
        count -= n;
    }
}

void NoiseGenerator::jump(uint64_t count) {
    Poly power{};  // x^count, from its highest bit down
    power[0] = 1;
    for (int bit = static_cast<int>(std::bit_width(count)) - 1; bit >= 0; --bit) {
        power = times(power, power);
        if ((count >> bit) & 1) power = times_x(power);
    }
    // Word k of the new state is x^(count + k) applied to the old one.
    uint32_t next[kNoiseLongLag];
    for (int k = 0; k < kNoiseLongLag; ++k, power = times_x(power)) {
        uint32_t sum = 0;
        for (int i = 0; i < kNoiseLongLag; ++i) sum += power[i] * words[i];
        next[k] = sum;
    }
    std::memcpy(words, next, sizeof words);
}

NoiseGenerator noise_unseeded_generator() { return kUnseeded; }

NoiseSource noise_source_unseeded() {
    NoiseSource source;
    source.generator = kUnseeded;
    return source;
}

NoiseSource noise_source_checked_with(int (*rand_fn)(), void (*srand_fn)(unsigned)) {
    srand_fn(kSeed);  // the sequence from its start, whatever drew from rand() before
    NoiseGenerator probe = kUnseeded;
    bool agree = true;
    int32_t expected[kFillBlock];
    for (int done = 0; done < kCheckDraws; done += kFillBlock) {
        probe.fill(expected, kFillBlock);
        for (int i = 0; i < kFillBlock; ++i) {
            if (rand_fn() != expected[i]) agree = false;
        }
    }
    srand_fn(kSeed);
    NoiseSource source = noise_source_unseeded();
    source.use_rand = !agree;
    return source;
}

NoiseSource noise_source_checked() { return noise_source_checked_with(std::rand, std::srand); }

void NoiseSource::draw(int32_t* out, int32_t count) {
    if (count <= 0) return;
    if (!use_rand) {
        generator.fill(out, count);
        return;
    }
    for (int32_t i = 0; i < count; ++i) out[i] = std::rand();
}

void NoiseSource::skip(int64_t count) {
    if (!use_rand && count >= kJumpFrom) {
        generator.jump(static_cast<uint64_t>(count));
        return;
    }
    int32_t scratch[kFillBlock];
    while (count > 0) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, kFillBlock));
        draw(scratch, n);
        count -= n;
    }
}
