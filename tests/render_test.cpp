#include "render/render.h"

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio/analyzer.h"
#include "frame/frame_pass.h"
#include "support/test_support.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

namespace {

using test_support::TempDir;
using test_support::names_in;
using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

Names lines_of(const std::string& text) {
    Names lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string file_text(const TempDir& dir, const std::string& name) {
    const Bytes bytes = test_support::read_file(dir.file(name));
    return std::string(bytes.begin(), bytes.end());
}

Bytes frame_of(const Bytes& raw, int64_t index) {
    const auto begin = raw.begin() + static_cast<std::ptrdiff_t>(index * kImageBytes);
    return Bytes(begin, begin + static_cast<std::ptrdiff_t>(kImageBytes));
}

// Frame `frame` of the --png folder dir/frames, decoded into --raw's blue, green, red layout.
Bytes png_frame(const TempDir& dir, int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frames/frame%05d.png", frame);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, dir.file(name).c_str())) return {};
    image.format = PNG_FORMAT_BGR;
    Bytes bgr(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, bgr.data(), 0, nullptr) ? bgr : Bytes{};
}

const std::string kRender = test_support::kBuildDir + "/starglobe-render";

test_support::ProcessResult render_in(const TempDir& dir, Names args) {
    args.insert(args.begin(), kRender);
    return test_support::run_program(args, dir.path);
}

TEST(RenderTimeline, PlanCountsWhatStartsBeforeTheEndAndAddsTheCardOnlyToPictures) {
    const struct { std::vector<const char*> args; uint32_t track_frames;
                   std::array<int64_t, 3> passes_music_card; } cases[] = {
        // Passes that start before frame 3's 300 ms; a length given: no end card.
        {{"--png", "p", "--fps", "10", "--loop-fps", "25", "--frames", "3"}, 44100, {8, 3, 0}},
        {{"--png", "p"}, 0, {0, 0, 600}},  // no music: straight to the card
    };
    const std::vector<int16_t> silence(2 * 44100, 0);
    for (const auto& c : cases) {
        RenderOptions o;
        ASSERT_EQ(parse_render_options(static_cast<int>(c.args.size()), c.args.data(), &o), "");
        const RenderPlan p = render_plan(o, PcmTrack{silence.data(), c.track_frames});
        EXPECT_EQ((std::array{p.passes, p.music_frames, p.card_frames}), c.passes_music_card)
            << c.args.back();
    }
    // The latest pass at or before the frame's time, equal times included: at k = 31 the
    // quick estimate, 31 / 60 * 60, rounds below 31.
    for (int k = 0; k < 40; ++k) EXPECT_EQ(pass_shown(k, 60, 60), k) << k;
    EXPECT_EQ(pass_shown(9, 60, 7), 1);       // 150 ms: the pass at 142.9 ms
    EXPECT_EQ(pass_shown(7, 60, 1000), 116);  // 116.67 ms
}

TEST(RenderProgram, CommandLineAndSoundtrackFailures) {
    TempDir dir;
    const std::vector<Names> bad = {
        {"--bogus", "1", "--controls", "c"},
        {"--controls"},
        {"--controls", "c", "--fps", "3000000000"},
        {"--controls", "c", "--seconds", "nan"},
        {"--controls", "c", "--frames", "3", "--seconds", "1"},
        {"--fps", "30"},  // nothing to write
        {"--controls", "-", "--raw", "-"},
        {"--video", "same", "--png", "same"},
    };
    for (const Names& args : bad) {
        const auto run = render_in(dir, args);
        EXPECT_EQ(run.exit_code, 2) << args.back();
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(lines_of(run.err).size(), 1u) << run.err;
    }
    EXPECT_TRUE(names_in(dir.path).empty());

    // The loader's verdict, then the program's own line, as the demo prints them.
    Bytes corrupted = test_support::canonical_wav({1, 2, 3, 4});
    corrupted.push_back(0);  // one byte the RIFF size does not count
    test_support::write_file(dir.file("bad.wav"), corrupted);
    const auto bad_wav = render_in(dir, {"--wav", "bad.wav", "--controls", "c.csv"});
    EXPECT_EQ(bad_wav.exit_code, 1);
    EXPECT_EQ(bad_wav.out, "wav is corrupted\nFailed to load WAV\n");
    const auto missing = render_in(dir, {"--controls", "c.csv"});  // the loader is silent
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out, "Failed to load WAV\n");
}

TEST(RenderProgram, ControlsAndRawFramesAreTheDemosAndLoopRateFramesShowTheLatestPass) {
    // 2 s whose taps jump about (a tone sampled far below its frequency), louder after the first
    // half second, so flashes, pulses and both routings all appear.
    std::vector<int16_t> samples(2 * 44100 * 2);
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        const double amplitude = 32767.0 * (i < 22050 ? 0.2 : 0.95);
        samples[2 * i] = static_cast<int16_t>(amplitude * std::sin(i * 0.0627));
        samples[2 * i + 1] = static_cast<int16_t>(amplitude * std::sin(i * 0.0009));
    }
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::canonical_wav(samples));
    const auto plain = render_in(dir, {"--wav", "t.wav", "--fps=25", "--controls=plain.csv",
                                       "--raw", "-"});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const Bytes raw(plain.out.begin(), plain.out.end());
    ASSERT_EQ(raw.size(), 50 * kImageBytes);  // the 50 frames that start within 2 s
    const Names lines = lines_of(file_text(dir, "plain.csv"));
    ASSERT_EQ(lines.size(), 51u);
    EXPECT_EQ(lines[0], "frame,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,"
                        "ring_length,star,globe");
    // The demo's passes on the same timeline, from the first value of the noise sequence. Until
    // the artwork is in, every bank entry is one placeholder and the picked index stays 0.
    const bool real_bank = star_frames[0] != star_frames[1];
    NoiseSource noise = noise_source_checked();
    const PcmTrack track{samples.data(), 88200};
    AudioAnalyzer analyzer;
    Bytes pixels(kImageBytes);
    std::set<int> flashes, pulses, inverts;
    for (int k = 0; k < 50; ++k) {
        const double ms = frame_elapsed_ms(k, 25);
        const FrameControls c = frame_pass(&analyzer, track, ms, &noise, pixels.data()).controls;
        ASSERT_EQ(frame_of(raw, k), pixels) << "frame " << k;
        char row[160];
        std::snprintf(row, sizeof row, "%d,%.3f,%d,%d,%d,%d,%d,%d,%d,%d", k, ms, c.flash, c.pulse,
                      c.invert ? 1 : 0, c.noise_range, c.noise_offset, c.ring_length,
                      real_bank ? static_cast<int>(ms / 200.0) % 24 : 0,
                      real_bank ? static_cast<int>(ms / 100.0) % 20 : 0);
        EXPECT_EQ(lines[k + 1], row);
        flashes.insert(c.flash);
        pulses.insert(c.pulse);
        inverts.insert(c.invert);
    }
    // The track exercises what it is meant to.
    EXPECT_GT(flashes.size(), 3u);
    EXPECT_GT(pulses.size(), 1u);
    EXPECT_EQ(inverts.size(), 2u);
    EXPECT_EQ(render_in(dir, {"--wav", "t.wav", "--fps", "25", "--controls", "-"}).out,
              file_text(dir, "plain.csv"));

    // Passes 25 a second and frames 10 a second: the passes, controls and noise of the plain run,
    // every pass composed, shown or not.
    const auto loop = render_in(dir, {"--wav", "t.wav", "--fps", "10", "--loop-fps", "25",
                                      "--seconds", "2", "--png", "frames", "--controls", "loop.csv",
                                      "-q"});
    ASSERT_EQ(loop.exit_code, 0) << loop.err;
    EXPECT_EQ(file_text(dir, "loop.csv"), file_text(dir, "plain.csv"));
    ASSERT_EQ(names_in(dir.file("frames")).size(), 20u);
    // Frame k at 100k ms shows pass j at 40j ms, the latest j with 40j <= 100k.
    for (int k = 0; k < 20; ++k) EXPECT_EQ(png_frame(dir, k), frame_of(raw, k * 5 / 2)) << k;
}

TEST(RenderProgram, PicturesOfTheWholeProductionEndOnTenSecondsOfEndCard) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.3));
    fs::create_directory(dir.file("frames"));  // empty: replaced
    const auto run = render_in(dir, {"--wav", "t.wav", "--fps", "10", "--video", "v.mp4", "--png",
                                     "frames", "--raw", "f.raw"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no terminal: no progress bar
    EXPECT_EQ(names_in(dir.path), (Names{"f.raw", "frames", "t.wav", "v.mp4"}));
    // 3 frames of music and 100 of end card, with the sound.
    const std::string info = "\n" + test_support::run_program(
        {"/usr/bin/ffprobe", "-v", "error", "-show_entries",
         "stream=codec_type,codec_name,pix_fmt,nb_frames:format=duration", "-of",
         "default=noprint_wrappers=1", "v.mp4"}, dir.path).out;
    for (const char* entry : {"codec_name=h264", "pix_fmt=yuv420p", "nb_frames=103",
                              "codec_type=audio", "codec_name=aac", "duration=10.300000"})
        EXPECT_NE(info.find("\n" + std::string(entry) + "\n"), std::string::npos) << info;
    // Browsers start playing at once only when the index (moov) precedes the data (mdat).
    const std::string mp4 = file_text(dir, "v.mp4");
    EXPECT_LT(mp4.find("moov"), mp4.find("mdat"));
    const Bytes raw = test_support::read_file(dir.file("f.raw"));
    ASSERT_EQ(raw.size(), 3 * kImageBytes);  // one picture per pass: no end card
    ASSERT_EQ(names_in(dir.file("frames")).size(), 103u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(png_frame(dir, k), frame_of(raw, k)) << k;
    const Bytes card(end_card.bgr, end_card.bgr + kImageBytes);
    for (int k : {3, 50, 102}) EXPECT_EQ(png_frame(dir, k), card) << k;

    // A pipe cannot be rewritten: it gets a fragmented file, and stays a pipe.
    ASSERT_EQ(mkfifo(dir.file("pipe.mp4").c_str(), 0600), 0);
    test_support::Process reader = test_support::start_program({"/bin/cat", "pipe.mp4"}, dir.path);
    const auto piped = render_in(dir, {"--wav", "t.wav", "--frames", "3", "--video", "pipe.mp4"});
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    EXPECT_NE(test_support::finish_program(reader).out.find("moof"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe.mp4")));
}

TEST(RenderOutputs, AFailureOrAStopSignalLeavesNoNewFileAndTheOldOnesUntouched) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(1.0));
    test_support::write_file(dir.file("c.csv"), {'o', 'l', 'd'});
    fs::create_directories(dir.file("frames"));
    test_support::write_file(dir.file("frames/mine.txt"), {'x'});
    fs::create_directories(dir.file("bin"));
    // An ffmpeg that takes every frame, writes part of its file and then fails.
    const std::string script =
        "#!/bin/sh\nfor a; do out=$a; done\necho part > \"${out#file:}\"\ncat >/dev/null\nexit 1\n";
    test_support::write_file(dir.file("bin/ffmpeg"), {script.begin(), script.end()});
    fs::permissions(dir.file("bin/ffmpeg"), fs::perms::owner_all);
    const std::string all[] = {"--video", "v.mp4", "--png", "out", "--raw", "f.raw"};
    const struct { Names args, env; int signal; std::string error; } cases[] = {
        {{"--video", "v.mp4", "--png", "out"}, {"PATH=" + dir.file("frames")}, 0, "install ffmpeg"},
        {{"--video", "v.mp4", "--png", "out"}, {"PATH=" + dir.file("bin") + ":/usr/bin:/bin"}, 0,
         "ffmpeg failed (exit status 1)"},
        {{"--png", "out", "--raw", "/dev/full"}, {}, 0, "cannot write /dev/full"},
        {{"--png", "frames"}, {}, 0, "not empty"},
        {{std::begin(all), std::end(all)}, {}, SIGINT, "unfinished output removed"},
        {{std::begin(all), std::end(all)}, {}, SIGTERM, "unfinished output removed"},
    };
    for (const auto& c : cases) {
        Names args = {kRender, "--wav", "t.wav", "--frames", c.signal ? "1000000" : "3",
                      "--controls", "c.csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test_support::Process process = test_support::start_program(args, dir.path, c.env);
        // Signal only once frames are flowing into the temporaries.
        bool writing = c.signal == 0;
        for (int tries = 0; tries < 300 && !writing; ++tries, usleep(20000))
            for (const std::string& name : names_in(dir.path))
                writing = writing || (name.rfind("f.raw.partial-", 0) == 0 &&
                                      fs::file_size(dir.file(name)) > 4 * kImageBytes);
        ASSERT_TRUE(writing) << "the render never started writing";
        if (c.signal) kill(process.pid, c.signal);
        const auto run = test_support::finish_program(process, 30.0);
        EXPECT_EQ(run.exit_code, c.signal ? 128 + c.signal : 1) << c.error;
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(names_in(dir.path), (Names{"bin", "c.csv", "frames", "t.wav"}));
        EXPECT_EQ(file_text(dir, "c.csv"), "old");
        EXPECT_EQ(names_in(dir.file("frames")), Names{"mine.txt"});
    }
}

}  // namespace
