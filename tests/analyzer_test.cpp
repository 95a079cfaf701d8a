// The audio analysis: the flash filter (a high-pass), the pulse filter (a resonant ladder)
// and the analyzer that taps the track and drives both. Worked numbers pin the edges (level
// thresholds, the tap); an independent model (support/analyzer_model.py) pins everything else
// bit for bit, the routing and the ring included.
#include "audio/analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

#include "support/test_support.h"

namespace {

TEST(HighPassFilter, LevelsStepByTenFromTheTruncatedMagnitudeAndFlashSaturates) {
    // s is the first output's |E * 32767| truncated; 3213, 2699 and 3341 are the least s of
    // levels 25, 21 and 26. A negative output is truncated toward zero, then its magnitude taken.
    const struct {
        int32_t s;
        double sign;
        int32_t flash_raw, flash;
    } cases[] = {{128, 1, 0, 0},      {129, 1, 10, 10},    {256, 1, 10, 10},   {257, 1, 20, 20},
                 {128, -1, 0, 0},     {129, -1, 10, 10},   {257, -1, 20, 20},  {2698, 1, 200, 200},
                 {2699, 1, 210, 210}, {3213, 1, 250, 250}, {3341, 1, 260, 255}};
    for (const auto& c : cases) {
        HighPassFilter f;
        // From zero history E = b0 * input; the half keeps |E * 32767| clear of either edge.
        const FlashLevels l = f.step(c.sign * (c.s + 0.5) / 32767.0 / kFlashFilter.b0);
        EXPECT_EQ(std::tie(l.flash_raw, l.flash), std::tie(c.flash_raw, c.flash)) << c.s * c.sign;
    }
}

// |y4 * 32767| truncated after one step from zero state with `input`.
int32_t first_level(double input) {
    LadderFilter f;
    f.step(input);
    return static_cast<int32_t>(std::fabs(f.y4 * 32767.0));
}

TEST(LadderFilter, LevelsAt129And257And386) {
    const struct {
        int32_t s, pulse;
    } cases[] = {{128, 0},   {129, 100}, {256, 100},  {257, 200},
                 {385, 200}, {386, 255}, {20000, 255}};
    for (const auto& c : cases) {
        // The first output grows with the input: find the least input whose output truncates to
        // s (a large one: one step of the ladder passes only p^4 of it).
        double low = 0.0, high = 1e7;
        for (int i = 0; i < 200; ++i) {
            const double mid = (low + high) / 2;
            (first_level(mid) < c.s ? low : high) = mid;
        }
        ASSERT_EQ(first_level(high), c.s);
        for (const double sign : {1.0, -1.0}) {
            LadderFilter f;
            const PulseLevels l = f.step(sign * high);
            EXPECT_EQ(std::tie(l.pulse, l.strong), std::make_tuple(c.pulse, c.pulse == 255))
                << c.s * sign;
        }
    }
}

PcmTrack track_of(const std::vector<int16_t>& s) { return {s.data(), uint32_t(s.size() / 2)}; }

auto controls(const FrameControls& c) {
    return std::tie(c.flash, c.pulse, c.invert, c.noise_range, c.noise_offset, c.ring_length);
}

int32_t sample_at(size_t index) { return int32_t(index % 32000) - 16000; }  // names its index

TEST(AudioAnalyzer, TapsTheInterleavedSampleAtThePlaybackPositionAndHoldsTheLast) {
    std::vector<int16_t> samples(2 * 44101);  // interleaved indices 0..88201
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(sample_at(i));
    // Positions truncate (350 ms is exactly 30870, 30869.99... if divided by 1000 first); odd ones
    // are right samples; from 1000.03 ms (88202.6) and at a negative time the last is held.
    const struct {
        double ms;
        size_t index;
    } cases[] = {{0.0, 0},       {0.0114, 1},     {16.6666, 1469},  {7000.0 / 60, 10290},
                 {350.0, 30870}, {1000.0, 88200}, {1000.02, 88201}, {1000.03, 88201},
                 {3.6e6, 88201}, {-1.0, 88201}};
    for (const auto& c : cases) {
        AudioAnalyzer a;
        a.analyze(track_of(samples), c.ms);
        // The flash filter keeps the tapped sample, scaled, as its last input.
        EXPECT_EQ(std::lround(a.flash_filter.x1 * 32767.0), sample_at(c.index)) << c.ms;
    }
}

TEST(AudioAnalyzer, QuietOnSilence) {
    const std::vector<int16_t> zeros(2 * 4410, 0);
    const int16_t guard[2] = {32767, 32767};  // behind a zero-frame track: must not be read
    for (const PcmTrack& track : {track_of(zeros), PcmTrack{guard, 0}, PcmTrack{}}) {
        AudioAnalyzer a;
        for (int k = -1; k < 120; ++k)
            ASSERT_EQ(controls(a.analyze(track, k * 1000.0 / 60)),
                      std::tuple(0, 0, false, 1, 0, 20))
                << k;
    }
}

// Test track: six kinds of 131,072-sample segments (full-scale noise, slow square waves of eight
// loudnesses, clicks in silence, +full scale, -full scale, quiet noise) from a 64-bit LCG.
std::vector<int16_t> long_track(size_t frames) {
    std::vector<int16_t> out(frames * 2);
    uint64_t state = 0x5EED;
    for (size_t i = 0; i < out.size(); ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const int32_t r = static_cast<int32_t>(state >> 48), rs = r >= 32768 ? r - 65536 : r;
        const int32_t amp = 1000 + static_cast<int32_t>((i >> 15) & 7) * 4000;
        const int32_t v[6] = {rs,
                              ((i >> 12) & 1 ? amp : -amp) + (rs >> 6),
                              (r & 1023) == 0 ? rs : 0,
                              32767,
                              -32768,
                              rs >> 6};
        out[i] = static_cast<int16_t>(std::clamp(v[(i >> 17) % 6], -32768, 32767));
    }
    return out;
}

// The model's three lines: pulse255 N, inverted N, hash 0x...
struct ModelRun {
    int pulse255 = -1, inverted = -1;
    unsigned long long hash = 0;
};

ModelRun run_model() {
    const test_support::ProcessResult r = test_support::run_program(
        {"/usr/bin/env", "python3", test_support::kSourceDir + "/tests/support/analyzer_model.py"},
        test_support::kSourceDir);
    ModelRun m;
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(std::sscanf(r.out.c_str(), "pulse255 %d inverted %d hash %llx", &m.pulse255,
                          &m.inverted, &m.hash),
              3)
        << r.out;
    return m;
}

TEST(AudioAnalyzer, LongRunMatchesAnIndependentModelBitForBit) {
    // 20,000 frames at 997 fps over a 19.5 s track, the last half second past its end: the
    // filters' responses, blocked constants and settled full-scale envelopes (1019.9995 and
    // 1020, -32768 no louder than 32767) all pass through the hash. The model, written
    // separately in another language with single precision emulated by rounding every float
    // product and sum, hashes (FNV-1a) every frame's controls and the full analyzer state,
    // doubles and floats as raw little-endian bits, the same way.
    const ModelRun model = run_model();
    const std::vector<int16_t> samples = long_track(860000);
    AudioAnalyzer a;
    uint64_t hash = 0xcbf29ce484222325ull;
    const auto add = [&](auto v) {
        for (size_t i = 0; i < sizeof v; ++i)
            hash = (hash ^ reinterpret_cast<uint8_t*>(&v)[i]) * 0x100000001b3ull;
    };
    int pulse255 = 0, inverted = 0;
    int routes[2][2] = {};  // [strong flash][strong pulse]: the run meets every routing case
    for (int k = 0; k < 20000; ++k) {
        const FrameControls c = a.analyze(track_of(samples), k * 1000.0 / 997.0);
        for (const int32_t v : {c.flash, c.pulse}) add(v);
        add(uint8_t{c.invert}), add(c.noise_range), add(c.noise_offset), add(c.ring_length);
        const HighPassFilter& h = a.flash_filter;
        const LadderFilter& l = a.pulse_filter;
        for (const double d :
             {h.x1, h.x2, h.y1, h.y2, l.y1, l.y2, l.y3, l.y4, l.oldx, l.oldy1, l.oldy2, l.oldy3})
            add(d);
        add(a.range_env), add(a.offset_env);
        pulse255 += c.pulse == 255, inverted += c.invert;
        ++routes[c.flash > 200][c.pulse == 255];
    }
    for (const auto& row : routes)
        for (const int seen : row) EXPECT_GT(seen, 0) << "a routing case the run never meets";
    // Coarse tallies first, so a mismatch says roughly where it lies.
    EXPECT_EQ(pulse255, model.pulse255);
    EXPECT_EQ(inverted, model.inverted);
    EXPECT_EQ(hash, model.hash);
}

}  // namespace
