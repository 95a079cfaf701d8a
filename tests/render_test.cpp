#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

TEST(RenderOptions, OutputsLoopRateAndQuiet) {
    RenderOptions o;
    EXPECT_EQ(parse({"--video", "v.mp4", "--png=frames", "--loop-fps", "1000", "-q"}, &o), "");
    EXPECT_EQ(o.video_path, "v.mp4");
    EXPECT_EQ(o.png_dir, "frames");
    EXPECT_EQ(o.loop_fps, 1000);
    EXPECT_TRUE(o.quiet);
    RenderOptions p;
    EXPECT_EQ(parse({"--controls", "-", "--raw", "r.raw", "--quiet"}, &p), "");
    EXPECT_EQ(p.loop_fps, 0);
    EXPECT_TRUE(p.quiet);
    for (const char* option : {"--video", "--png", "--loop-fps", "--quiet"})
        EXPECT_NE(render_usage().find(option), std::string::npos) << option;
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
        {"--video", "-"},
        {"--video", ""},
        {"--png", "-"},
        {"--png", "d", "--loop-fps", "0"},
        {"--png", "d", "--loop-fps", "x"},
        {"--png", "d", "--quiet=1"},
        {"--controls", "-", "--raw", "-"},
        {"--controls", "same", "--raw", "same"},
        {"--video", "same", "--png", "same"},
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

TEST(RenderTimeline, PlanCountsPassesFramesAndTheEndCard) {
    const std::vector<int16_t> second(2 * 44100, 0);
    RenderOptions o;
    o.fps = 10;
    o.controls_path = "c.csv";
    RenderPlan plan = render_plan(o, track_of(second));
    EXPECT_EQ(plan.pass_rate, 10);
    EXPECT_EQ(plan.passes, 10);
    EXPECT_EQ(plan.music_frames, 10);
    EXPECT_EQ(plan.card_frames, 0);  // the CSV and raw frames have no end card

    o.png_dir = "frames";
    o.loop_fps = 25;
    plan = render_plan(o, track_of(second));
    EXPECT_EQ(plan.pass_rate, 25);
    EXPECT_EQ(plan.passes, 25);
    EXPECT_EQ(plan.music_frames, 10);
    EXPECT_EQ(plan.card_frames, 100);  // ten seconds at 10 frames per second

    o.frames = 3;  // a length given: frames 0..2, passes before 300 ms, no end card
    plan = render_plan(o, track_of(second));
    EXPECT_EQ(plan.music_frames, 3);
    EXPECT_EQ(plan.passes, 8);  // 0, 40, ..., 280 ms
    EXPECT_EQ(plan.card_frames, 0);

    // No music at all: the demo goes straight to the end card.
    o.frames = -1;
    plan = render_plan(o, PcmTrack{});
    EXPECT_EQ(plan.passes, 0);
    EXPECT_EQ(plan.music_frames, 0);
    EXPECT_EQ(plan.card_frames, 100);
}

TEST(RenderTimeline, EachFrameShowsTheLatestPassAtOrBeforeIt) {
    // 10 frames and 25 passes a second: frame k at 100k ms, pass j at 40j ms.
    for (int k = 0; k < 40; ++k) EXPECT_EQ(pass_shown(k, 10, 25), (k * 5) / 2) << k;
    for (int k = 0; k < 40; ++k) EXPECT_EQ(pass_shown(k, 60, 60), k);
    // Fewer passes than frames: a pass is shown on several frames.
    EXPECT_EQ(pass_shown(0, 60, 7), 0);
    EXPECT_EQ(pass_shown(8, 60, 7), 0);    // 133.3 ms < 142.9 ms
    EXPECT_EQ(pass_shown(9, 60, 7), 1);    // 150 ms
    // Exactly equal times count as "at": 1 / 60 s is pass 2 at 120 a second.
    EXPECT_EQ(pass_shown(1, 60, 120), 2);
    EXPECT_EQ(pass_shown(7, 60, 1000), 116);  // 116.67 ms
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

// ---- video, PNG frames and outputs that appear whole --------------------------------------

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Decodes a PNG into packed blue, green, red rows, as --raw lays frames out.
std::vector<uint8_t> png_as_bgr(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint8_t> bgr;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return bgr;
    image.format = PNG_FORMAT_BGR;
    bgr.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bgr.data(), 0, nullptr)) bgr.clear();
    return bgr;
}

std::string png_name(int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%05d.png", frame);
    return name;
}

// `ffprobe` key=value lines for the streams and the container of `path`.
std::string probe(const std::string& path) {
    const auto run = test_support::run_program(
        {"/usr/bin/ffprobe", "-v", "error", "-show_entries",
         "stream=codec_type,codec_name,pix_fmt,nb_frames,duration:format=duration", "-of",
         "default=noprint_wrappers=1", path},
        ".");
    return run.out;
}

bool has_line(const std::string& text, const std::string& line) {
    const std::vector<std::string> lines = lines_of(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<uint8_t> frame_of(const std::vector<uint8_t>& raw, int64_t index) {
    const auto begin = raw.begin() + static_cast<std::ptrdiff_t>(index * kImageBytes);
    return std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(kImageBytes));
}

TEST(RenderVideo, WholeProductionIsTheMusicThenTenSecondsOfEndCard) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.5, 180.0, 0.9));
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "10", "--video", "v.mp4"}, dir.path);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no terminal: no progress bar
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"t.wav", "v.mp4"}));

    // 5 frames of music and 100 of end card at 10 a second; the sound is padded to match.
    const std::string info = probe(dir.file("v.mp4"));
    EXPECT_TRUE(has_line(info, "codec_name=h264")) << info;
    EXPECT_TRUE(has_line(info, "pix_fmt=yuv420p")) << info;
    EXPECT_TRUE(has_line(info, "nb_frames=105")) << info;
    EXPECT_TRUE(has_line(info, "codec_type=audio")) << info;
    EXPECT_TRUE(has_line(info, "codec_name=aac")) << info;
    EXPECT_EQ(lines_of(info).back(), "duration=10.500000") << info;

    // Browsers start playing at once only when the index (moov) precedes the data (mdat).
    const std::vector<uint8_t> mp4 = test_support::read_file(dir.file("v.mp4"));
    const std::string head(mp4.begin(), mp4.begin() + std::min<size_t>(mp4.size(), 4096));
    ASSERT_NE(head.find("moov"), std::string::npos);
    EXPECT_TRUE(head.find("mdat") == std::string::npos || head.find("moov") < head.find("mdat"));

    // The last frame is the end card, as close as lossy coding allows.
    const auto last = test_support::run_program(
        {"/usr/bin/ffmpeg", "-v", "error", "-sseof", "-0.5", "-i", "v.mp4", "-frames:v", "1",
         "-f", "rawvideo", "-pix_fmt", "bgr24", "last.raw"},
        dir.path);
    ASSERT_EQ(last.exit_code, 0) << last.err;
    const std::vector<uint8_t> card = test_support::read_file(dir.file("last.raw"));
    ASSERT_EQ(card.size(), kImageBytes);
    double difference = 0.0;
    for (size_t i = 0; i < kImageBytes; ++i) difference += std::abs(card[i] - end_card.bgr[i]);
    EXPECT_LT(difference / kImageBytes, 6.0);
}

TEST(RenderVideo, ALengthCutsTheSoundAndAPipeGetsAStreamableFile) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(2.0));
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "20", "--frames", "7", "--video", "v.mp4"}, dir.path);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string info = probe(dir.file("v.mp4"));
    EXPECT_TRUE(has_line(info, "nb_frames=7")) << info;
    EXPECT_EQ(lines_of(info).back(), "duration=0.350000") << info;

    // /dev/null is written directly (fragmented, since it cannot be rewritten) and stays.
    const auto null = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "20", "--frames", "3", "--video", "/dev/null"},
        dir.path);
    EXPECT_EQ(null.exit_code, 0) << null.err;
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(RenderVideo, WithoutFfmpegFailsAtOnceNamingThePackage) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.5));
    std::filesystem::create_directory(dir.file("empty"));
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--video", "v.mp4", "--controls", "c.csv"}, dir.path,
        {"PATH=" + dir.file("empty")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("apt-get install ffmpeg"), std::string::npos) << run.err;
    EXPECT_EQ(lines_of(run.err).size(), 1u) << run.err;
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"empty", "t.wav"}));
}

TEST(RenderPng, FramesDecodeToTheRawFramesThenTheEndCard) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.3, 180.0, 0.9));
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "10", "--png", "frames", "--raw", "f.raw"}, dir.path);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<uint8_t> raw = test_support::read_file(dir.file("f.raw"));
    ASSERT_EQ(raw.size(), 3 * kImageBytes);  // one picture per pass: no end card here

    const std::vector<std::string> names = names_in(dir.file("frames"));
    ASSERT_EQ(names.size(), 103u);  // 3 frames of music, 100 of end card
    EXPECT_EQ(names.front(), "frame00000.png");
    EXPECT_EQ(names.back(), "frame00102.png");
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(png_as_bgr(dir.file("frames/" + png_name(k))), frame_of(raw, k)) << k;
    const std::vector<uint8_t> card(end_card.bgr, end_card.bgr + kImageBytes);
    for (int k : {3, 50, 102}) EXPECT_EQ(png_as_bgr(dir.file("frames/" + png_name(k))), card) << k;
}

TEST(RenderPng, LoopRateFramesShowTheLatestPassAndKeepTheDemosNoise) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(2.0, 180.0, 0.9));
    // Passes 25 a second, frames 10 a second, over one second.
    const auto loop = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "10", "--loop-fps", "25", "--seconds", "1", "--png",
         "frames", "--raw", "loop.raw", "--controls", "loop.csv"},
        dir.path);
    ASSERT_EQ(loop.exit_code, 0) << loop.err;
    // The same passes as a plain run at 25 frames a second: same controls, same noise.
    const auto plain = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "25", "--seconds", "1", "--raw", "plain.raw",
         "--controls", "plain.csv"},
        dir.path);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    EXPECT_EQ(file_text(dir.file("loop.csv")), file_text(dir.file("plain.csv")));
    const std::vector<uint8_t> raw = test_support::read_file(dir.file("loop.raw"));
    ASSERT_EQ(raw.size(), 25 * kImageBytes);
    EXPECT_TRUE(raw == test_support::read_file(dir.file("plain.raw")));

    ASSERT_EQ(names_in(dir.file("frames")).size(), 10u);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(png_as_bgr(dir.file("frames/" + png_name(k))),
                  frame_of(raw, pass_shown(k, 10, 25)))
            << k;
}

TEST(RenderPng, RefusesAFolderThatIsNotEmpty) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.2));
    std::filesystem::create_directory(dir.file("frames"));
    test_support::write_file(dir.file("frames/mine.txt"), {'x'});
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--png", "frames", "--controls", "c.csv"}, dir.path);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("not empty"), std::string::npos) << run.err;
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"frames", "t.wav"}));
    EXPECT_EQ(names_in(dir.file("frames")), std::vector<std::string>{"mine.txt"});
}

TEST(RenderOutputs, AFailureLeavesNoFileAndTheOldOnesUntouched) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(1.0));
    test_support::write_file(dir.file("c.csv"), {'o', 'l', 'd'});
    // /dev/full takes the raw frames directly and fails; the CSV beside it must not appear.
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--controls", "c.csv", "--png", "frames", "--raw",
         "/dev/full"},
        dir.path);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("cannot write /dev/full"), std::string::npos) << run.err;
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"c.csv", "t.wav"}));
    EXPECT_EQ(file_text(dir.file("c.csv")), "old");
}

TEST(RenderOutputs, AFailingFfmpegLeavesNoVideo) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(1.0));
    // An ffmpeg that writes part of its file and then fails.
    std::filesystem::create_directory(dir.file("bin"));
    const std::string script =
        "#!/bin/sh\nfor a; do out=$a; done\necho partial > \"${out#file:}\"\n"
        "head -c 1000000 >/dev/null\necho 'encoder broke' >&2\nexit 1\n";
    test_support::write_file(dir.file("bin/ffmpeg"), {script.begin(), script.end()});
    ASSERT_EQ(chmod(dir.file("bin/ffmpeg").c_str(), 0755), 0);
    const auto run = test_support::run_program(
        {kRender, "--wav", "t.wav", "--video", "v.mp4", "--controls", "c.csv"}, dir.path,
        {"PATH=" + dir.file("bin") + ":/usr/bin:/bin"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("encoder broke"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("ffmpeg"), std::string::npos) << run.err;
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"bin", "t.wav"}));
}

// Starts a long render, waits until it is writing, sends `signal_number` and checks that it
// stopped as that signal says and removed everything unfinished.
void expect_clean_stop(int signal_number) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(1.0));
    test_support::write_file(dir.file("f.raw"), {'o', 'l', 'd'});
    test_support::Process process = test_support::start_program(
        {kRender, "--wav", "t.wav", "--frames", "1000000", "--raw", "f.raw", "--video", "v.mp4",
         "--png", "frames", "--controls", "c.csv"},
        dir.path);
    // Wait until frames are flowing into the temporaries.
    bool writing = false;
    for (int tries = 0; tries < 300 && !writing; ++tries) {
        for (const std::string& name : names_in(dir.path))
            if (name.rfind("f.raw.partial-", 0) == 0 &&
                std::filesystem::file_size(dir.file(name)) > 4 * kImageBytes)
                writing = true;
        if (!writing) usleep(20000);
    }
    ASSERT_TRUE(writing) << "the render never started writing";
    kill(process.pid, signal_number);
    const test_support::ProcessResult result = test_support::finish_program(process, 30.0);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 128 + signal_number) << result.err;
    EXPECT_NE(result.err.find("unfinished output removed"), std::string::npos) << result.err;
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"f.raw", "t.wav"}));
    EXPECT_EQ(file_text(dir.file("f.raw")), "old");
}

TEST(RenderOutputs, InterruptedRenderLeavesNothingHalfWritten) {
    expect_clean_stop(SIGINT);
    expect_clean_stop(SIGTERM);
}

TEST(RenderOutputs, StandardOutputTakesTheCsvOrTheRawFrames) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.5));
    const auto csv = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "10", "--controls", "-"}, dir.path);
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    EXPECT_EQ(lines_of(csv.out).size(), 6u);  // header and 5 rows
    EXPECT_EQ(lines_of(csv.out)[0], kHeader);
    const auto raw = test_support::run_program(
        {kRender, "--wav", "t.wav", "--fps", "10", "--frames", "2", "--raw", "-"}, dir.path);
    ASSERT_EQ(raw.exit_code, 0) << raw.err;
    EXPECT_EQ(raw.out.size(), 2 * kImageBytes);
    EXPECT_EQ(names_in(dir.path), std::vector<std::string>{"t.wav"});
}

}  // namespace
