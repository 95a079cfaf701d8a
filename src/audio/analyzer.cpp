#include "audio/analyzer.h"

#include <cfloat>
#include <cstdlib>

#include "common/wav_format.h"

// The envelopes are single precision and the tap position double precision; each product and sum
// must be rounded to its own type before the next operation (SSE arithmetic, no x87 excess
// precision; the build adds -ffp-contract=off so nothing is fused).
static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must not carry excess precision");
#ifdef __FAST_MATH__
#error "the analyzer's arithmetic must not be reordered: build without -ffast-math"
#endif

namespace {

constexpr double kSampleRate = kSampleRateHz;  // sample frames per second of the soundtrack
constexpr double kMsPerSecond = 1000.0;
constexpr double kFullScale = 32767.0;   // a sample of 32767 is an input of 1.0

constexpr int32_t kAmpMax = 1020;        // loudness scale of the envelopes: 0..1020
constexpr int32_t kFullScaleSample = 32767;
constexpr float kRangeNew = 0.1f;        // smooth envelope: weight of the new loudness
constexpr float kRangeKeep = 0.9f;       //                  weight of the old envelope
constexpr float kOffsetNew = 0.5f;       // quick envelope: halves the distance every frame
constexpr float kOffsetKeep = 0.5f;

constexpr int32_t kRingShort = 20;       // noise ring entries on an ordinary frame
constexpr int32_t kRingLong = 40;        // ... on a frame with a strong pulse
constexpr int32_t kPulseStep = 10;       // every pulse level but the saturated 255 is a multiple
constexpr int32_t kFlashFlipAbove = 200; // a raw flash above this flips the channel routing

// x86-64's truncating conversion: a double outside the 64-bit range (or NaN) gives the
// "integer indefinite" INT64_MIN. Only a clock thousands of years past the origin gets there; the
// value is defined either way and lands on interleaved index 0.
int64_t truncate_i64(double v) {
    if (v > -9223372036854775808.0 && v < 9223372036854775808.0) return static_cast<int64_t>(v);
    return INT64_MIN;
}

// The interleaved sample playing at `elapsed_ms`: even indices are left samples, odd ones right.
// Past the end the tap holds the last sample; a track without samples taps silence.
int16_t tap(const PcmTrack& track, double elapsed_ms) {
    if (track.frames == 0 || track.samples == nullptr) return 0;
    const double position = (elapsed_ms + elapsed_ms) * kSampleRate / kMsPerSecond;
    uint32_t index = static_cast<uint32_t>(static_cast<uint64_t>(truncate_i64(position)));
    const uint64_t count = uint64_t{track.frames} * 2;  // interleaved samples in the track
    if (index >= count) index = static_cast<uint32_t>(count - 1);
    return track.samples[index];
}

}  // namespace

FrameControls AudioAnalyzer::analyze(const PcmTrack& track, double elapsed_ms) {
    const int32_t c = tap(track, elapsed_ms);
    const double d = c / kFullScale;
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
    const int32_t range = static_cast<int32_t>(range_env);  // 0..1019: settles just below 1020
    controls.noise_range = range == 0 ? 1 : range;           // a modulus of 0 would be undefined
    controls.noise_offset = static_cast<int32_t>(offset_env) / 2;
    controls.ring_length = pulse.pulse % kPulseStep != 0 ? kRingLong : kRingShort;
    controls.invert = pulse.strong != (flash.flash_raw > kFlashFlipAbove);
    return controls;
}
