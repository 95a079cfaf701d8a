#include "audio/analyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

PcmTrack track_of(const std::vector<int16_t>& samples) {
    PcmTrack t;
    t.samples = samples.data();
    t.frames = static_cast<uint32_t>(samples.size() / 2);
    return t;
}

// The sample the analyzer tapped on its last call: the flash filter keeps it, scaled, as x1.
int32_t tapped(const AudioAnalyzer& a) {
    return static_cast<int32_t>(std::lround(a.flash_filter.x1 * 32767.0));
}

// Samples that name their own interleaved index (within any window of 32,000).
std::vector<int16_t> indexed_samples(size_t frames) {
    std::vector<int16_t> s(frames * 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(int32_t(i % 32000) - 16000);
    return s;
}
int32_t sample_at(size_t index) { return int32_t(index % 32000) - 16000; }

TEST(AudioAnalyzer, StartsAtRest) {
    const AudioAnalyzer a;
    EXPECT_EQ(a.range_env, 0.0f);
    EXPECT_EQ(a.offset_env, 0.0f);
    EXPECT_EQ(a.flash_filter.y1, 0.0);
    EXPECT_EQ(a.pulse_filter.y4, 0.0);
}

TEST(AudioAnalyzer, SilenceGivesTheQuietControlsEveryFrame) {
    const std::vector<int16_t> zeros(2 * 4410, 0);
    AudioAnalyzer a;
    for (int k = 0; k < 120; ++k) {
        const FrameControls c = a.analyze(track_of(zeros), k * 1000.0 / 60);
        ASSERT_EQ(c.noise_range, 1) << k;
        ASSERT_EQ(c.noise_offset, 0) << k;
        ASSERT_EQ(c.flash, 0) << k;
        ASSERT_EQ(c.pulse, 0) << k;
        ASSERT_EQ(c.ring_length, 20) << k;
        ASSERT_FALSE(c.invert) << k;
    }
}

TEST(AudioAnalyzer, FullScaleEnvelopesSettleAt1019Point9995And1020) {
    const std::vector<int16_t> loud(2 * 16, 32767);
    AudioAnalyzer a;
    FrameControls c = a.analyze(track_of(loud), 0.0);
    EXPECT_EQ(a.range_env, 102.0f);   // 0.1f * 1020
    EXPECT_EQ(a.offset_env, 510.0f);  // 0.5f * 1020
    EXPECT_EQ(c.noise_range, 102);
    EXPECT_EQ(c.noise_offset, 255);
    for (int k = 1; k < 400; ++k) c = a.analyze(track_of(loud), 0.0);
    EXPECT_EQ(a.range_env, 1019.99951171875f);
    EXPECT_EQ(a.offset_env, 1020.0f);
    EXPECT_EQ(c.noise_range, 1019);
    EXPECT_EQ(c.noise_offset, 510);
    // Settled: one more frame changes neither.
    a.analyze(track_of(loud), 0.0);
    EXPECT_EQ(a.range_env, 1019.99951171875f);
    EXPECT_EQ(a.offset_env, 1020.0f);
}

TEST(AudioAnalyzer, MostNegativeSampleIsAsLoudAsFullScale) {
    const std::vector<int16_t> low(2, -32768);
    AudioAnalyzer a;
    a.analyze(track_of(low), 0.0);
    EXPECT_EQ(a.offset_env, 510.0f);  // |-32768| * 1020 / 32767 = 1020
    EXPECT_EQ(a.flash_filter.x1, -32768 / 32767.0);
}

TEST(AudioAnalyzer, TapsTheInterleavedSampleAtThePlaybackPosition) {
    const std::vector<int16_t> samples = indexed_samples(44101);
    const PcmTrack track = track_of(samples);
    const struct {
        double ms;
        size_t index;
    } cases[] = {
        {0.0, 0},
        {0.0114, 1},                // 1.00548: a right sample
        {10.0, 882},
        {10.02, 883},               // 883.764 truncated, not rounded
        {16.6666, 1469},            // 1469.99412
        {7 * 1000.0 / 60, 10290},   // 10290.0 exactly
        {33.3333333, 2939},         // 2939.99999706
        {1000.0, 88200},            // the left sample of frame 44100
    };
    for (const auto& c : cases) {
        AudioAnalyzer a;
        a.analyze(track, c.ms);
        EXPECT_EQ(tapped(a), sample_at(c.index)) << c.ms;
    }
}

TEST(AudioAnalyzer, EvenIndicesTapLeftAndOddIndicesRight) {
    std::vector<int16_t> samples;
    for (int i = 0; i < 1000; ++i) samples.insert(samples.end(), {1000, -2000});
    AudioAnalyzer a;
    for (int k = 0; k < 200; ++k) {
        const double ms = k * 0.0625;
        a.analyze(track_of(samples), ms);
        const int64_t index = static_cast<int64_t>((ms + ms) * 44100.0 / 1000.0);
        ASSERT_EQ(tapped(a), index % 2 == 0 ? 1000 : -2000) << ms;
    }
}

TEST(AudioAnalyzer, HoldsTheLastSamplePastTheEnd) {
    const std::vector<int16_t> samples = indexed_samples(10);  // interleaved 0..19
    const PcmTrack track = track_of(samples);
    // 19 is the right sample of the last frame (0.216 ms is index 19.0512); 0.2268 ms is
    // index 20.00376, the first past the end.
    for (const double ms : {0.216, 0.2268, 0.25, 1000.0, 3.6e6, 1e12}) {
        AudioAnalyzer a;
        a.analyze(track, ms);
        EXPECT_EQ(tapped(a), sample_at(19)) << ms;
    }
    // 0.2153 ms is index 18.98946: still the left sample of the last frame.
    AudioAnalyzer a;
    a.analyze(track, 0.2153);
    EXPECT_EQ(tapped(a), sample_at(18));
    // A negative time wraps through the low 32 bits to a huge index: held at the end as well.
    a.analyze(track, -1.0);
    EXPECT_EQ(tapped(a), sample_at(19));
}

TEST(AudioAnalyzer, TrackWithoutFramesTapsSilenceAndReadsNothing) {
    // A sample sits behind the pointer, but a zero-frame track must not read it.
    const int16_t guard[2] = {32767, 32767};
    PcmTrack empty;
    empty.samples = guard;
    empty.frames = 0;
    AudioAnalyzer a;
    for (const double ms : {0.0, 500.0, -5.0}) {
        const FrameControls c = a.analyze(empty, ms);
        EXPECT_EQ(a.flash_filter.x1, 0.0);
        EXPECT_EQ(c.noise_range, 1);
        EXPECT_EQ(c.noise_offset, 0);
    }
    const PcmTrack nothing;  // no samples at all
    const FrameControls c = a.analyze(nothing, 10.0);
    EXPECT_EQ(c.flash, 0);
    EXPECT_EQ(c.pulse, 0);
}

// ---- routing --------------------------------------------------------------------------------

// An analyzer whose next frame has the given raw flash (a multiple of 10) and pulse state,
// whatever it taps: each filter is set up to repeat a chosen output.
AudioAnalyzer primed(int32_t flash_raw, double pulse_output) {
    AudioAnalyzer a;
    HighPassFilter& h = a.flash_filter;
    h.b0 = h.b1 = h.a2 = 0.0;
    h.a1 = -1.0;  // E = y1
    const int32_t q = flash_raw / 10;
    h.y1 = ((q * 32767 + 254) / 255 + 0.5) / 32767.0;
    LadderFilter& l = a.pulse_filter;
    l.p = l.r = 0.0;
    l.k = -1.0;  // stage 4 repeats y4 before the clip
    l.y4 = pulse_output;
    return a;
}

constexpr double kPulse200 = 300.0 / 32767.0;   // s = 300: pulse 200, not strong
constexpr double kPulse255 = 1000.0 / 32767.0;  // s = 1000: pulse 255, strong

TEST(AudioAnalyzer, InvertIsAStrongPulseFlippedByAStrongFlash) {
    const std::vector<int16_t> zeros(2, 0);
    const struct {
        int32_t flash_raw;
        double pulse;
        bool invert;
    } cases[] = {
        {0, kPulse200, false},   {200, kPulse200, false}, {210, kPulse200, true},
        {0, kPulse255, true},    {200, kPulse255, true},  {210, kPulse255, false},
        {1990, kPulse255, false}, {1990, 0.0, true},
    };
    for (const auto& c : cases) {
        AudioAnalyzer a = primed(c.flash_raw, c.pulse);
        const FrameControls f = a.analyze(track_of(zeros), 0.0);
        EXPECT_EQ(f.invert, c.invert) << c.flash_raw << " " << f.pulse;
        EXPECT_EQ(f.flash, std::min(c.flash_raw, 255));
    }
}

TEST(AudioAnalyzer, RingDoublesOnlyForAStrongPulse) {
    const std::vector<int16_t> zeros(2, 0);
    for (const double pulse : {0.0, 200.0 / 32767.0, kPulse200, kPulse255}) {
        AudioAnalyzer a = primed(0, pulse);
        const FrameControls f = a.analyze(track_of(zeros), 0.0);
        EXPECT_EQ(f.ring_length, f.pulse == 255 ? 40 : 20) << f.pulse;
    }
    AudioAnalyzer a = primed(0, kPulse255);
    EXPECT_EQ(a.analyze(track_of(zeros), 0.0).ring_length, 40);
}

// ---- long run against an independent model -------------------------------------------------

// Test track: six kinds of 131,072-sample segments (full-scale noise, slow square waves of eight
// loudnesses, clicks in silence, +full scale, -full scale, quiet noise) from a 64-bit LCG.
std::vector<int16_t> long_track(size_t frames) {
    std::vector<int16_t> out(frames * 2);
    uint64_t state = 0x5EED;
    for (size_t i = 0; i < out.size(); ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const int32_t r = static_cast<int32_t>(state >> 48);
        const int32_t rs = r >= 32768 ? r - 65536 : r;
        int32_t v = 0;
        switch ((i >> 17) % 6) {
            case 0: v = rs; break;
            case 1: {
                const int32_t amp = 1000 + static_cast<int32_t>((i >> 15) & 7) * 4000;
                v = ((i >> 12) & 1 ? amp : -amp) + (rs >> 6);
                break;
            }
            case 2: v = (r & 1023) == 0 ? rs : 0; break;
            case 3: v = 32767; break;
            case 4: v = -32768; break;
            default: v = rs >> 6; break;
        }
        out[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
    return out;
}

struct Fnv {
    uint64_t h = 0xcbf29ce484222325ull;
    void bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 0x100000001b3ull;
    }
    template <typename T>
    void value(T v) { bytes(&v, sizeof v); }  // x86-64 is little-endian, as the model packs
};

TEST(AudioAnalyzer, LongRunMatchesAnIndependentModelBitForBit) {
    // 20,000 frames at 997 fps over a 19.5 s track, the last half second past its end. The
    // model (written separately, in another language, with single precision emulated by
    // rounding every float product and sum) hashed every frame's controls and the full analyzer
    // state, doubles and floats as raw bits, to this value.
    constexpr uint64_t kModelHash = 0xd20256ceed733d2cull;
    const std::vector<int16_t> samples = long_track(860000);
    const PcmTrack track = track_of(samples);
    AudioAnalyzer a;
    Fnv fnv;
    int pulse255 = 0, inverted = 0;
    for (int k = 0; k < 20000; ++k) {
        const FrameControls c = a.analyze(track, k * 1000.0 / 997.0);
        fnv.value(c.flash);
        fnv.value(c.pulse);
        fnv.value(static_cast<uint8_t>(c.invert ? 1 : 0));
        fnv.value(c.noise_range);
        fnv.value(c.noise_offset);
        fnv.value(c.ring_length);
        const HighPassFilter& h = a.flash_filter;
        const LadderFilter& l = a.pulse_filter;
        for (const double d : {h.x1, h.x2, h.y1, h.y2, l.y1, l.y2, l.y3, l.y4, l.oldx, l.oldy1,
                               l.oldy2, l.oldy3})
            fnv.value(d);
        fnv.value(a.range_env);
        fnv.value(a.offset_env);
        pulse255 += c.pulse == 255;
        inverted += c.invert;
    }
    // Coarse tallies from the same model first, so a mismatch says roughly where it lies.
    EXPECT_EQ(pulse255, 14096);
    EXPECT_EQ(inverted, 10495);
    EXPECT_EQ(fnv.h, kModelHash);
}

}  // namespace
