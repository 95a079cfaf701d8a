// The soundtrack as the build makes it: a file the demo's own loader accepts, of the right
// length and level, made the same way on every run, that moves every control of the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "audio/wav_loader.h"
#include "support/test_support.h"

namespace {

using test_support::kBuildDir;
using test_support::ProcessResult;
using test_support::run_program;
using test_support::TempDir;

const std::string kWav = kBuildDir + "/tessaloon.wav";
const std::string kSynth = kBuildDir + "/tessaloon-synth";
const std::string kRender = kBuildDir + "/starglobe-render";

constexpr size_t kHeaderBytes = 44;
constexpr double kSampleRate = 44100.0;
constexpr double kMinSeconds = 120.0, kMaxSeconds = 180.0;
// -0.3 dBFS: 32767 × 10^(-0.3 / 20) = 31656.6.
constexpr int kPeakLimit = 31656;
// A mean beyond a thousandth of full scale would be a DC offset worth hearing about.
constexpr double kMaxDcOffset = 0.001;
// The piece fades in from and out to silence: -60 dBFS at its very edges.
constexpr int kEdgeLimit = 33;
constexpr double kEdgeSeconds = 0.25;
constexpr double kSynthTimeoutS = 120.0;

struct Soundtrack {
    std::vector<uint8_t> bytes;
    PcmTrack track;
    WavStatus status = WavStatus::unreadable;
};

// The built file, read and parsed once for all the tests that only look at it.
const Soundtrack& built() {
    static const Soundtrack s = [] {
        Soundtrack out;
        out.bytes = test_support::read_file(kWav);
        out.status = parse_wav(out.bytes.data(), out.bytes.size(), &out.track);
        return out;
    }();
    return s;
}

int16_t sample(const PcmTrack& t, size_t frame, int channel) {
    return t.samples[2 * frame + channel];
}

TEST(Soundtrack, LoadsThroughTheDemosLoaderAndHoldsNothingButSamples) {
    const Soundtrack& s = built();
    ASSERT_FALSE(s.bytes.empty()) << kWav << " is missing: build the default target first";
    ASSERT_EQ(s.status, WavStatus::ok);
    // The canonical layout and nothing more: no chunk after the samples, no odd byte.
    EXPECT_EQ(s.bytes.size(), kHeaderBytes + 4 * static_cast<size_t>(s.track.frames));

    // The file-reading path the demo takes agrees.
    uint32_t frames = 0;
    const int16_t* samples = nullptr;
    ASSERT_TRUE(load_wav(kWav.c_str(), &frames, &samples));
    EXPECT_EQ(frames, s.track.frames);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(samples[2 * (frames / 2)], sample(s.track, frames / 2, 0));
}

TEST(Soundtrack, LastsTwoToThreeMinutes) {
    const double seconds = built().track.frames / kSampleRate;
    EXPECT_GE(seconds, kMinSeconds);
    EXPECT_LE(seconds, kMaxSeconds);
}

TEST(Soundtrack, PeaksBelowClippingWithNoDcOffset) {
    const PcmTrack& t = built().track;
    ASSERT_GT(t.frames, 0u);
    for (int channel = 0; channel < 2; ++channel) {
        int peak = 0;
        double sum = 0.0;
        for (size_t f = 0; f < t.frames; ++f) {
            const int v = sample(t, f, channel);
            peak = std::max(peak, std::abs(v));
            sum += v;
        }
        EXPECT_LE(peak, kPeakLimit) << "channel " << channel;
        // Loud enough to be worth playing: within 3 dB of the limit.
        EXPECT_GE(peak, kPeakLimit * 7 / 10) << "channel " << channel;
        EXPECT_LE(std::fabs(sum / t.frames / 32768.0), kMaxDcOffset) << "channel " << channel;
    }
}

TEST(Soundtrack, FadesInFromSilenceAndRingsOutToSilence) {
    const PcmTrack& t = built().track;
    const size_t edge = static_cast<size_t>(kEdgeSeconds * kSampleRate);
    ASSERT_GT(t.frames, 2 * edge);
    int head = 0, tail = 0;
    for (size_t f = 0; f < edge; ++f) {
        for (int channel = 0; channel < 2; ++channel) {
            head = std::max(head, std::abs(static_cast<int>(sample(t, f, channel))));
            tail = std::max(tail, std::abs(static_cast<int>(sample(t, t.frames - 1 - f, channel))));
        }
    }
    EXPECT_LE(head, kEdgeLimit);
    EXPECT_LE(tail, kEdgeLimit);
}

TEST(SoundtrackSynth, GivesTheSameBytesOnEveryRun) {
    TempDir dir;
    const std::vector<uint8_t>& expected = built().bytes;
    ASSERT_FALSE(expected.empty());
    for (const char* name : {"first.wav", "second.wav"}) {
        const ProcessResult r = run_program({kSynth, dir.file(name)}, dir.path, {}, kSynthTimeoutS);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(r.out.empty());
        // Byte for byte what the build put next to the demo.
        EXPECT_TRUE(test_support::read_file(dir.file(name)) == expected) << name << " differs";
    }
}

TEST(SoundtrackSynth, ReportsUsageAndUnwritablePaths) {
    TempDir dir;
    const ProcessResult usage = run_program({kSynth}, dir.path);
    EXPECT_EQ(usage.exit_code, 1);
    EXPECT_NE(usage.err.find("usage"), std::string::npos) << usage.err;

    const std::string nowhere = dir.file("no-such-folder/tessaloon.wav");
    const ProcessResult unwritable = run_program({kSynth, nowhere}, dir.path);
    EXPECT_EQ(unwritable.exit_code, 1);
    EXPECT_NE(unwritable.err.find(nowhere), std::string::npos) << unwritable.err;
}

// Share of frames, over the whole track at one frame rate, at each mark the piece aims for.
struct ControlShares {
    size_t frames = 0;
    double quiet = 0, loud = 0, lit = 0, dark = 0, inverted = 0;
    std::map<int, double> pulse;
};

ControlShares measure(int fps) {
    TempDir dir;
    const std::string csv = dir.file("controls.csv");
    const ProcessResult r = run_program(
        {kRender, "--wav", kWav, "--fps", std::to_string(fps), "--controls", csv}, dir.path);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    const std::vector<uint8_t> bytes = test_support::read_file(csv);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(
        line,
        "frame,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,ring_length,star,globe");
    ControlShares s;
    while (std::getline(in, line)) {
        std::vector<long> v;
        std::istringstream row(line);
        for (std::string field; std::getline(row, field, ',');)
            v.push_back(std::strtol(field.c_str(), nullptr, 10));
        if (v.size() != 10) {
            ADD_FAILURE() << "bad row: " << line;
            break;
        }
        ++s.frames;
        const long flash = v[2], pulse = v[3], invert = v[4], range = v[5];
        s.quiet += range < 50;
        s.loud += range >= 600;
        s.lit += flash == 255;
        s.dark += flash == 0;
        s.inverted += invert == 1;
        s.pulse[static_cast<int>(pulse)] += 1;
    }
    if (s.frames == 0) return s;
    for (double* share : {&s.quiet, &s.loud, &s.lit, &s.dark, &s.inverted}) *share /= s.frames;
    for (auto& [value, count] : s.pulse) count /= s.frames;
    return s;
}

class SoundtrackControls : public testing::TestWithParam<int> {};

TEST_P(SoundtrackControls, DriveThePictureAcrossItsRange) {
    const ControlShares s = measure(GetParam());
    ASSERT_GT(s.frames, 0u);
    // The whole track, not a prefix of it.
    EXPECT_GE(static_cast<double>(s.frames) + 1.0, built().track.frames / kSampleRate * GetParam());
    EXPECT_GE(s.quiet, 0.05) << "noise_range below 50";
    EXPECT_GE(s.loud, 0.10) << "noise_range 600 or more";
    EXPECT_GE(s.lit, 0.05) << "flash at 255";
    EXPECT_GE(s.dark, 0.10) << "flash at 0";
    EXPECT_GE(s.inverted, 0.10) << "invert";
    EXPECT_LE(s.inverted, 0.60) << "invert";
    for (int level : {0, 100, 200, 255})
        EXPECT_EQ(s.pulse.count(level), 1u) << "pulse never " << level;
    EXPECT_EQ(s.pulse.size(), 4u) << "pulse takes a value outside 0, 100, 200, 255";
}

INSTANTIATE_TEST_SUITE_P(AtTheDemosRateAndFar, SoundtrackControls, testing::Values(60, 1000));

}  // namespace
