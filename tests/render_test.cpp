#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio/analyzer.h"
#include "driver/frame.h"
#include "support/test_support.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

using test_support::TempDir;

// Parses the arguments after the program name; returns the error ("" on success).
std::string parse(std::vector<const char*> args, RenderOptions* options) {
    return parse_render_options(static_cast<int>(args.size()), args.data(), options);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> fields_of(const std::string& row) {
    std::vector<std::string> fields;
    std::istringstream in(row);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

std::string file_text(const std::string& path) {
    const std::vector<uint8_t> bytes = test_support::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

PcmTrack track_of(const std::vector<int16_t>& samples) {
    PcmTrack t;
    t.samples = samples.data();
    t.frames = static_cast<uint32_t>(samples.size() / 2);
    return t;
}

constexpr const char* kHeader =
    "frame,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,ring_length,star,globe";

// ---- options --------------------------------------------------------------------------------

TEST(RenderOptions, DefaultsAndEveryOption) {
    RenderOptions o;
    EXPECT_EQ(parse({"--controls", "c.csv"}, &o), "");
    EXPECT_EQ(o.wav_path, "tessaloon.wav");
    EXPECT_EQ(o.fps, 60);
    EXPECT_EQ(o.frames, -1);
    EXPECT_LT(o.seconds, 0.0);
    EXPECT_EQ(o.controls_path, "c.csv");
    EXPECT_FALSE(o.help);

    RenderOptions p;
    EXPECT_EQ(parse({"--wav", "a.wav", "--fps=25", "--frames", "12", "--controls=x.csv"}, &p), "");
    EXPECT_EQ(p.wav_path, "a.wav");
    EXPECT_EQ(p.fps, 25);
    EXPECT_EQ(p.frames, 12);
    EXPECT_EQ(p.controls_path, "x.csv");

    RenderOptions q;
    EXPECT_EQ(parse({"--seconds", "2.5", "--controls", "c.csv"}, &q), "");
    EXPECT_EQ(q.seconds, 2.5);
}

TEST(RenderOptions, HelpWinsOverEverythingAfterIt) {
    RenderOptions o;
    EXPECT_EQ(parse({"--fps", "30", "--help", "--bogus"}, &o), "");
    EXPECT_TRUE(o.help);
    const std::string usage = render_usage();
    for (const char* option : {"--wav", "--fps", "--frames", "--seconds", "--controls", "--help"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(RenderOptions, RefusesBadCommandLinesWithOneLine) {
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus", "1", "--controls", "c"},
        {"--controls", "c", "stray"},
        {"--controls"},
        {"--controls", "c", "--fps", "0"},
        {"--controls", "c", "--fps", "-5"},
        {"--controls", "c", "--fps", "2.5"},
        {"--controls", "c", "--fps", "3000000000"},
        {"--controls", "c", "--fps", ""},
        {"--controls", "c", "--frames", "-1"},
        {"--controls", "c", "--frames", "12x"},
        {"--controls", "c", "--frames", "99999999999999999999"},
        {"--controls", "c", "--seconds", "nan"},
        {"--controls", "c", "--seconds", "inf"},
        {"--controls", "c", "--seconds", "-1"},
        {"--controls", "c", "--seconds", "1e8"},
        {"--controls", "c", "--seconds", " 1"},
        {"--controls", "c", "--frames", "3", "--seconds", "1"},
        {"--controls", ""},
        {"--wav", "", "--controls", "c"},
        {"--fps", "30"},  // nothing to write
    };
    for (const auto& args : bad) {
        RenderOptions o;
        const std::string error = parse(args, &o);
        std::string joined;
        for (const char* a : args) joined += std::string(a) + " ";
        EXPECT_FALSE(error.empty()) << joined;
        EXPECT_EQ(error.find('\n'), std::string::npos) << joined;
    }
}

// ---- the timeline ---------------------------------------------------------------------------

TEST(RenderTimeline, FrameTimesAndCounts) {
    EXPECT_EQ(frame_elapsed_ms(7, 60), 7 * 1000.0 / 60);
    EXPECT_EQ(frame_elapsed_ms(3, 60), 50.0);

    const std::vector<int16_t> second(2 * 44100, 0);
    const std::vector<int16_t> longer(2 * 44101, 0);
    RenderOptions o;
    EXPECT_EQ(render_frame_count(o, track_of(second)), 60);  // frame 60 starts at the end
    EXPECT_EQ(render_frame_count(o, track_of(longer)), 61);
    EXPECT_EQ(render_frame_count(o, PcmTrack{}), 0);
    o.seconds = 0.05;  // frame 3 starts at exactly 50 ms: not before it
    EXPECT_EQ(render_frame_count(o, track_of(second)), 3);
    o.fps = 7;
    o.seconds = 0.5;  // 0, 142.9, 285.7, 428.6 ms
    EXPECT_EQ(render_frame_count(o, track_of(second)), 4);
    o.seconds = 0.0;
    EXPECT_EQ(render_frame_count(o, track_of(second)), 0);
    o.frames = 1000;  // past the end of the track is allowed
    o.seconds = -1.0;
    EXPECT_EQ(render_frame_count(o, track_of(second)), 1000);
}

TEST(RenderTimeline, FramesPastTheEndHoldTheLastSample) {
    TempDir dir;
    const std::vector<int16_t> samples = {0, 0, 32767, 32767};  // two frames, loud at the end
    RenderOptions o;
    o.fps = 1;
    o.frames = 5;
    o.controls_path = dir.file("c.csv");
    ASSERT_EQ(render(o, track_of(samples)), "");
    const std::vector<std::string> lines = lines_of(file_text(o.controls_path));
    ASSERT_EQ(lines.size(), 6u);
    // From frame 1 on (1000 ms) the tap sits on the last, loud sample: the quick envelope
    // climbs 510, 765, 892 (offset 255, 382, 446).
    EXPECT_EQ(fields_of(lines[1])[6], "0");
    EXPECT_EQ(fields_of(lines[2])[6], "255");
    EXPECT_EQ(fields_of(lines[3])[6], "382");
    EXPECT_EQ(fields_of(lines[4])[6], "446");
    EXPECT_EQ(fields_of(lines[5])[1], "4000.000");
}

TEST(RenderTimeline, UnwritableOutputIsAnError) {
    TempDir dir;
    const std::vector<int16_t> samples(2, 0);
    RenderOptions o;
    o.controls_path = dir.file("missing/c.csv");
    const std::string error = render(o, track_of(samples));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_NE(error.find(o.controls_path), std::string::npos) << error;
}

// ---- the program ----------------------------------------------------------------------------

const std::string kRender = test_support::kBuildDir + "/starglobe-render";

// A 5-second track whose taps jump about (a tone sampled far below its frequency), louder in
// its second half, so flashes, pulses and both routings all appear.
std::vector<int16_t> test_samples() {
    std::vector<int16_t> s(2 * 44100 * 5);
    for (size_t i = 0; i < s.size() / 2; ++i) {
        const double amplitude = i < s.size() / 4 ? 0.2 : 0.95;
        const double left = amplitude * std::sin(i * 0.0627);
        const double right = amplitude * std::sin(i * 0.0009);
        s[2 * i] = static_cast<int16_t>(32767.0 * left);
        s[2 * i + 1] = static_cast<int16_t>(32767.0 * right);
    }
    return s;
}

TEST(RenderProgram, ControlsCsvMatchesTheAnalyzerFrameByFrame) {
    TempDir dir;
    const std::vector<int16_t> samples = test_samples();
    test_support::write_file(dir.file("in.wav"), test_support::canonical_wav(samples));
    const auto run = test_support::run_program(
        {kRender, "--wav", "in.wav", "--fps", "10", "--controls", "out.csv"}, dir.path);
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "");

    const std::vector<std::string> lines = lines_of(file_text(dir.file("out.csv")));
    ASSERT_EQ(lines.size(), 51u);  // header and the 50 frames that start within 5 s
    EXPECT_EQ(lines[0], kHeader);

    // The bank's tables hold distinct pictures once the artwork is in; until then every entry is
    // the same placeholder and the picked index is always 0.
    const bool real_bank = star_frames[0] != star_frames[1];
    AudioAnalyzer analyzer;
    std::set<std::string> flashes, pulses, inverts;
    for (int k = 0; k < 50; ++k) {
        const double ms = k * 1000.0 / 10;
        const FrameControls c = analyzer.analyze(track_of(samples), ms);
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.3f", ms);
        const int star = real_bank ? static_cast<int>(ms / 200.0) % 24 : 0;
        const int globe = real_bank ? static_cast<int>(ms / 100.0) % 20 : 0;
        const std::vector<std::string> expected = {
            std::to_string(k),           elapsed,
            std::to_string(c.flash),     std::to_string(c.pulse),
            c.invert ? "1" : "0",        std::to_string(c.noise_range),
            std::to_string(c.noise_offset), std::to_string(c.ring_length),
            std::to_string(star),        std::to_string(globe)};
        EXPECT_EQ(fields_of(lines[k + 1]), expected) << "frame " << k;
        flashes.insert(expected[2]);
        pulses.insert(expected[3]);
        inverts.insert(expected[4]);
    }
    // The track exercises what it is meant to.
    EXPECT_GT(flashes.size(), 3u);
    EXPECT_GT(pulses.size(), 1u);
    EXPECT_EQ(inverts.size(), 2u);
    EXPECT_EQ(fields_of(lines[48])[1], "4700.000");
}

TEST(RenderProgram, CommandLineFailures) {
    TempDir dir;
    // A usage error: one line on standard error, nothing written.
    const auto usage = test_support::run_program({kRender, "--controls", "c.csv", "--fps", "x"},
                                                 dir.path);
    EXPECT_EQ(usage.exit_code, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(lines_of(usage.err).size(), 1u) << usage.err;

    const auto help = test_support::run_program({kRender, "--help"}, dir.path);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out, render_usage());

    // The loader's verdict, then the program's own line, as the demo prints them.
    std::vector<uint8_t> corrupted = test_support::canonical_wav({1, 2, 3, 4});
    corrupted.push_back(0);  // one byte the RIFF size does not count
    test_support::write_file(dir.file("bad.wav"), corrupted);
    const auto bad = test_support::run_program(
        {kRender, "--wav", "bad.wav", "--controls", "c.csv"}, dir.path);
    EXPECT_NE(bad.exit_code, 0);
    EXPECT_EQ(bad.out, "wav is corrupted\nFailed to load WAV\n");

    const auto missing = test_support::run_program({kRender, "--controls", "c.csv"}, dir.path);
    EXPECT_NE(missing.exit_code, 0);
    EXPECT_EQ(missing.out, "Failed to load WAV\n");  // no tessaloon.wav here: silent loader
}

TEST(RenderProgram, RawFramesAreTheDemosFramesFromTheStartOfTheNoise) {
    RenderOptions o;
    EXPECT_EQ(parse({"--raw", "frames.raw"}, &o), "");  // pixels alone are enough to write
    EXPECT_EQ(o.raw_path, "frames.raw");

    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(2.0, 180.0, 0.9));
    constexpr int kFrames = 24;
    constexpr int kFps = 25;  // a rate that does not sample the tone at one phase only
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", std::to_string(kFps), "--frames",
         std::to_string(kFrames), "--raw", "frames.raw"},
        dir.path);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<uint8_t> raw = test_support::read_file(dir.file("frames.raw"));
    ASSERT_EQ(raw.size(), kFrames * kImageBytes);

    // The same timeline here, from the first value of the noise sequence.
    const std::vector<uint8_t> wav = test_support::read_file(dir.file("t.wav"));
    PcmTrack track;
    ASSERT_EQ(parse_wav(wav.data(), wav.size(), &track), WavStatus::ok);
    noise_restart();
    noise_init();
    AudioAnalyzer analyzer;
    std::vector<uint8_t> pixels(kImageBytes);
    for (int k = 0; k < kFrames; ++k) {
        frame_pass(&analyzer, track, frame_elapsed_ms(k, kFps), pixels.data());
        const auto frame = raw.begin() + static_cast<std::ptrdiff_t>(k * kImageBytes);
        ASSERT_TRUE(std::equal(pixels.begin(), pixels.end(), frame)) << "frame " << k;
    }
    // Frames that change with the music and the noise, not one picture repeated.
    EXPECT_FALSE(std::equal(raw.begin(), raw.begin() + kImageBytes, raw.end() - kImageBytes));
    noise_restart();
}

}  // namespace
