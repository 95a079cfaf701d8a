// The soundtrack as the build makes it: a file the demo's own loader accepts, of the right
// length and level, made the same way on every run, that moves every control of the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>

#include "audio/wav_loader.h"
#include "soundtrack/arrangement.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

const std::string kWav = kBuildDir + "/tessaloon.wav", kSynth = kBuildDir + "/tessaloon-synth";
// The bytes every build has made, whatever its C library (see soundtrack/arrangement.h).
const std::string kWavSha256 = "6309186006189abc4581c7397486795083a8b1bb564f6d3890c7ae0d6a6f8ca1";

TEST(Soundtrack, LoadsThroughTheDemosLoaderWithinLengthAndLevelTheSameOnEveryRun) {
    const WavFile wav = load_wav(kWav.c_str());
    ASSERT_EQ(wav.status, WavStatus::ok) << "build the default target first";
    const uint32_t frames = wav.track.frames;
    const int16_t* samples = wav.track.samples;
    const std::vector<uint8_t> built = read_file(kWav);
    // The canonical layout and nothing more: no chunk after the samples, no odd byte.
    EXPECT_EQ(built.size(), 44 + 4 * size_t{frames});
    EXPECT_GE(frames / 44100.0, 120.0);
    EXPECT_LE(frames / 44100.0, 180.0);
    for (int channel = 0; channel < 2; ++channel) {
        int peak = 0;
        double sum = 0.0;
        for (size_t f = 0; f < frames; ++f) {
            peak = std::max(peak, std::abs(int{samples[2 * f + channel]}));
            sum += samples[2 * f + channel];
        }
        EXPECT_LE(peak, 31656) << channel;           // -0.3 dBFS: 32767 * 10^(-0.3 / 20)
        EXPECT_GE(peak, 31656 * 7 / 10) << channel;  // within 3 dB of it: worth playing
        EXPECT_LE(std::fabs(sum / frames / 32768.0), 0.001) << channel;  // no audible DC offset
    }
    const ProcessResult digest = run_program({"/usr/bin/sha256sum", kWav}, kBuildDir);
    EXPECT_EQ(digest.out.substr(0, kWavSha256.size()), kWavSha256)
        << "the soundtrack's bytes drifted: a C library's rounding, or a changed score";
    // The synth: the same bytes again; a usage line, or the path it cannot write, and status 1.
    TempDir dir;
    const std::string again = dir.file("again.wav"), nowhere = dir.file("no-such-folder/x.wav");
    ASSERT_EQ(run_program({kSynth, again}, dir.path, {}, 120.0).exit_code, 0);
    EXPECT_TRUE(read_file(again) == built) << "differs from the build's";
    for (const auto& [args, says] :
         {std::pair{std::vector<std::string>{kSynth}, std::string("usage")},
          std::pair{std::vector<std::string>{kSynth, nowhere}, nowhere}}) {
        const ProcessResult r = run_program(args, dir.path);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    }
}

// Slice by slice, as the web page has it made, the very samples of the whole piece: slices of
// odd sizes cut notes, kicks and the curves' steps anywhere; and the peak that scaled them held.
TEST(Soundtrack, RendersSliceBySliceAsTheWhole) {
    const std::vector<uint8_t> built = read_file(kWav);
    ASSERT_EQ(built.size(), 44 + 4 * soundtrack::tessaloon_frames());
    soundtrack::Rendering r = soundtrack::tessaloon_start();
    std::vector<int16_t> slice(2 * 99991);
    size_t done = 0, wrong = 0;
    for (size_t frames = 1, n; (n = soundtrack::tessaloon_render(&r, frames, slice.data()));
         frames = slice.size() / 2) {
        for (size_t i = 0; i < 2 * n; ++i, ++done)
            wrong += slice[i] != int16_t(built[44 + 2 * done] | built[45 + 2 * done] << 8);
    }
    EXPECT_EQ(done, 2 * soundtrack::tessaloon_frames());
    EXPECT_EQ(wrong, 0u);
    EXPECT_TRUE(soundtrack::tessaloon_peak_held(r));
}

// Over the whole track, at the demo's rate and far above it, the share of frames at each mark
// the piece aims for.
TEST(Soundtrack, DrivesThePictureAcrossItsRange) {
    for (const int fps : {60, 1000}) {
        TempDir dir;
        const ProcessResult r =
            run_program({kBuildDir + "/starglobe-render", "--wav", kWav, "--loop-fps",
                         std::to_string(fps), "--controls", "c.csv"},
                        dir.path);
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        std::ifstream in(dir.file("c.csv"));
        std::string line;
        std::getline(in, line);
        ASSERT_EQ(line.rfind("pass,elapsed_ms,flash,pulse,invert,noise_range,", 0), 0u) << line;
        double frames = 0, quiet = 0, loud = 0, lit = 0, dark = 0, inverted = 0;
        std::set<int> pulses;
        for (int flash, pulse, invert, range; std::getline(in, line); ++frames) {
            ASSERT_EQ(std::sscanf(line.c_str(), "%*[^,],%*[^,],%d,%d,%d,%d", &flash, &pulse,
                                  &invert, &range),
                      4)
                << line;
            quiet += range < 50, loud += range >= 600, lit += flash == 255, dark += flash == 0;
            inverted += invert == 1;
            pulses.insert(pulse);
        }
        SCOPED_TRACE(fps);
        EXPECT_GE(frames + 1.0, (read_file(kWav).size() - 44) / 4 / 44100.0 * fps)
            << "not all frames";
        EXPECT_GE(quiet / frames, 0.05) << "noise_range below 50";
        EXPECT_GE(loud / frames, 0.10) << "noise_range 600 or more";
        EXPECT_GE(lit / frames, 0.05) << "flash at 255";
        EXPECT_GE(dark / frames, 0.10) << "flash at 0";
        EXPECT_GE(inverted / frames, 0.10) << "invert";
        EXPECT_LE(inverted / frames, 0.60) << "invert";
        EXPECT_EQ(pulses, (std::set<int>{0, 100, 200, 255}));
    }
}

}  // namespace
