#include "audio/analyzer.h"

#include <cstdlib>

#include "common/exact_arithmetic.h"
#include "common/timeline.h"
#include "common/wav_format.h"

namespace {

constexpr double kSampleRate = kSampleRateHz;  // sample frames per second of the soundtrack

constexpr int32_t kAmpMax = 1020;   // loudness scale of the envelopes: 0..1020
constexpr float kRangeNew = 0.1f;   // smooth envelope: weight of the new loudness
constexpr float kRangeKeep = 0.9f;  //                  weight of the old envelope
constexpr float kOffsetNew = 0.5f;  // quick envelope: halves the distance every pass
constexpr float kOffsetKeep = 0.5f;

constexpr int32_t kFlashFlipAbove = 200;  // a raw flash above this flips the channel routing

static_assert(kTapLimitMs * 2 * kSampleRate / kMsPerSecond < 4294967296.0,
              "the tap limit keeps the position inside 32 bits");

// x86-64's truncating conversion: a double outside the 64-bit range (or NaN) gives the
// "integer indefinite" INT64_MIN. Only a clock thousands of years past the origin gets there; the
// value is defined either way and lands on interleaved index 0.
int64_t truncate_i64(double v) {
    if (v > -9223372036854775808.0 && v < 9223372036854775808.0) return static_cast<int64_t>(v);
    return INT64_MIN;
}

}  // namespace

int16_t tap_sample(const PcmTrack& track, double elapsed_ms) {
    if (track.frames == 0 || track.samples == nullptr) return 0;
    const double position = (elapsed_ms + elapsed_ms) * kSampleRate / kMsPerSecond;
    uint32_t index = static_cast<uint32_t>(static_cast<uint64_t>(truncate_i64(position)));
    const uint64_t count = uint64_t{track.frames} * 2;  // interleaved samples in the track
    if (index >= count) index = static_cast<uint32_t>(count - 1);
    return track.samples[index];
}

FrameControls AudioAnalyzer::analyze(const PcmTrack& track, double elapsed_ms) {
    return analyze_sample(tap_sample(track, elapsed_ms));
}

FrameControls AudioAnalyzer::analyze_sample(int16_t sample) {
    const int32_t c = sample;
    const double d = c / static_cast<double>(kFullScaleSample);
    const FlashLevels flash = flash_filter.step(d);
    const PulseLevels pulse = pulse_filter.step(d);

    // |-32768| fits: the loudness tops out at 1020 either way.
    const int32_t amp = std::abs(c) * kAmpMax / kFullScaleSample;
    const float amp_f = static_cast<float>(amp);
    range_env = kRangeNew * amp_f + range_env * kRangeKeep;
    offset_env = amp_f * kOffsetNew + offset_env * kOffsetKeep;

    FrameControls controls;
    controls.flash = flash.flash;
    controls.pulse = pulse.pulse;
    const int32_t range = static_cast<int32_t>(range_env);  // settles just below 1020
    controls.noise_range = range < kMinNoiseRange ? kMinNoiseRange : range;
    controls.noise_offset = static_cast<int32_t>(offset_env) / 2;
    controls.ring_length = pulse.strong ? kLongRing : kShortRing;
    controls.invert = pulse.strong != (flash.flash_raw > kFlashFlipAbove);
    return controls;
}
