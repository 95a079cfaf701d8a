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
#include "common/build_info.h"
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

// Frame `frame` of a --png folder, decoded into --raw's blue, green, red layout.
Bytes png_frame(const std::string& folder, int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame%05d.png", frame);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, (folder + name).c_str())) return {};
    image.format = PNG_FORMAT_BGR;
    Bytes bgr(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, bgr.data(), 0, nullptr) ? bgr : Bytes{};
}

// ffprobe's answers about `file`, one "\nname=value" each, for find("\nname=value\n").
std::string probe(const TempDir& dir, const std::string& file) {
    return "\n" + test_support::run_program({"/usr/bin/ffprobe", "-v", "error", "-of",
        "default=noprint_wrappers=1", "-show_entries", "stream=codec_type,codec_name,pix_fmt,"
        "nb_frames,color_space,color_range,color_primaries:format=duration,format_name", file},
        dir.path).out;
}

const std::string kRender = test_support::kBuildDir + "/starglobe-render";

test_support::ProcessResult render_in(const TempDir& dir, Names args) {
    args.insert(args.begin(), kRender);
    return test_support::run_program(args, dir.path);
}

TEST(RenderOptions, RatesFramingAndRefusals) {
    // 30000/1001 puts frame 30 at exactly 1001 ms; 29.97 at 1001.001 ms, past 1001.0005.
    const struct { std::vector<const char*> args; uint32_t track_frames;
                   std::array<int64_t, 5> num_den_passes_music_card;
    } cases[] = {
        {{"--fps", "60000/2002", "--seconds", "1.0010005", "--raw", "r"},
         0,
         {30000, 1001, 31, 31, 0}},
        {{"--fps", "29.97", "--seconds", "1.0010005", "--raw", "r"}, 0, {2997, 100, 30, 30, 0}},
        // Passes that start before frame 3's 300 ms; a length given: no end card.
        {{"--png", "p", "--fps", "10", "--loop-fps", "25", "--frames", "3"},
         44100,
         {10, 1, 8, 3, 0}},
        {{"--png", "p"}, 0, {60, 1, 0, 0, 600}},  // no music: straight to the card
    };
    const std::vector<int16_t> silence(2 * 44100, 0);
    for (const auto& c : cases) {
        RenderOptions o;
        ASSERT_EQ(parse_render_options(static_cast<int>(c.args.size()), c.args.data(), &o), "");
        const RenderPlan p = render_plan(o, PcmTrack{silence.data(), c.track_frames});
        EXPECT_EQ((std::array{o.fps.num, o.fps.den, p.passes, p.music_frames, p.card_frames}),
                  c.num_den_passes_music_card) << c.args[1];
    }
    const FrameRate ntsc{30000, 1001, true, 0.0}, decimal{2997, 100, false, 29.97};
    // Exact ratios, rounded once (frame 3 at 100.1 ms, 30 at 1001 ms); a decimal as given,
    // one bit away from 1000 * 100 / 2997.
    for (int k : {3, 23, 30}) EXPECT_EQ(frame_time_ms(k, ntsc), k * 1001 / 30.0) << k;
    EXPECT_EQ(frame_time_ms(1, decimal), 1000.0 / 29.97);
    // The latest pass at or before the frame's time, equal times included: at k = 31 the
    // quick estimate, 31 / 60 * 60, rounds below 31.
    const FrameRate r60{60, 1, false, 60.0}, r7{7, 1, false, 7.0}, r1000{1000, 1, false, 1000.0};
    for (int k = 0; k < 40; ++k) EXPECT_EQ(pass_shown(k, r60, r60), k) << k;
    EXPECT_EQ(pass_shown(9, r60, r7), 1);        // 150 ms: the pass at 142.9 ms
    EXPECT_EQ(pass_shown(7, r60, r1000), 116);   // 116.67 ms
    EXPECT_EQ(pass_shown(30, ntsc, r1000), 1001);

    const char* framed[] = {"--size", "1920x1080", "--video", "V.MKV"};
    RenderOptions o;
    ASSERT_EQ(parse_render_options(4, framed, &o), "");
    const Framing f = output_framing(o);
    EXPECT_EQ((std::array{f.width, f.height, f.scale, f.x, f.y}),
              (std::array{1920, 1080, 3, 360, 90}));
    const std::vector<std::vector<const char*>> refused = {
        {"--raw", "r", "--fps", "1000.5"}, {"--raw", "r", "--fps", "0"},
        {"--raw", "r", "--fps", "1/0"}, {"--raw", "r", "--fps", "29."},
        {"--raw", "r", "--loop-fps", "100001"}, {"--video", "v.webm"}, {"--video", "v.mp4.avi"},
        {"--plot", "p.jpg"}, {"--video", "v.mp4", "--crf", "52"},
        {"--video", "v.mp4", "--preset", "fastest"}, {"--png", "p", "--scale", "9"},
        {"--png", "p", "--size", "399x300"}, {"--raw", "r", "--scale", "2"},
        {"--video", "v.mp4", "--frames", "0"}, {"--raw", "r", "--raw", "r"},
        {"--raw", "r", "--frames", "3", "--seconds", "1"}, {"--fps", "30"},
        {"--controls", "-", "--raw", "-"}, {"--video", "same.mp4", "--png", "same.mp4"}};
    for (const auto& args : refused) {
        RenderOptions ignored;
        EXPECT_NE(parse_render_options(static_cast<int>(args.size()), args.data(), &ignored), "")
            << args[0] << " " << args[1] << " " << args.back();
    }
}

TEST(RenderProgram, UsageAndSoundtrackFailuresSayWhyOnStandardError) {
    TempDir dir;
    for (const Names& args : {Names{"--bogus", "1", "--controls", "c"}, {"--controls"},
                              {"--video", "v.mp4", "--frames", "0"}}) {
        const auto run = render_in(dir, args);
        EXPECT_EQ(run.exit_code, 2) << args.back();
        EXPECT_EQ(lines_of(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("starglobe-render: ", 0), 0u) << run.err;
    }
    EXPECT_TRUE(names_in(dir.path).empty());
    const auto missing = render_in(dir, {"--controls", "c.csv"});
    EXPECT_NE(missing.err.find("found no tessaloon.wav in " + dir.path +
                              " nor " STARGLOBE_INSTALLED_SOUNDTRACK), std::string::npos);

    Bytes with_list = test_support::canonical_wav({1, 2, 3, 4});
    const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    with_list.insert(with_list.begin() + 36, list.begin(), list.end());
    test_support::put_u32(with_list, 4, static_cast<uint32_t>(with_list.size() - 8));
    Bytes mono = test_support::canonical_wav({1, 2, 3, 4});
    test_support::put_u16(mono, 22, 1);
    test_support::put_u32(mono, 24, 48000);
    const struct { Bytes bytes; std::string why; } refused[] = {
        {with_list, "a LIST chunk sits between fmt and data"},
        {mono, "48000 Hz mono 16-bit PCM, needs 44100 Hz stereo 16-bit PCM"}};
    for (const auto& c : refused) {
        test_support::write_file(dir.file("song.wav"), c.bytes);
        const auto run = render_in(dir, {"--wav", "song.wav", "--controls", "-"});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "starglobe-render: song.wav: " + c.why + "\nstarglobe-render: convert "
                           "it with: sox song.wav -b 16 -e signed-integer -c 2 -r 44100 "
                           "converted.wav\n");
    }
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
    // The demo's passes on the same timeline, from the first value of the noise sequence.
    NoiseSource noise = noise_source_checked();
    const PcmTrack track{samples.data(), 88200};
    AudioAnalyzer analyzer;
    Bytes pixels(kImageBytes);
    std::set<bool> inverts;  // the track exercises both routings
    for (int k = 0; k < 50; ++k) {
        const double ms = k * 1000.0 / 25;
        const FrameControls c = frame_pass(&analyzer, track, ms, &noise, pixels.data()).controls;
        ASSERT_EQ(frame_of(raw, k), pixels) << "frame " << k;
        char row[160];
        std::snprintf(row, sizeof row, "%d,%.3f,%d,%d,%d,%d,%d,%d,%d,%d", k, ms, c.flash, c.pulse,
                      c.invert ? 1 : 0, c.noise_range, c.noise_offset, c.ring_length,
                      static_cast<int>(ms / 200.0) % 24, static_cast<int>(ms / 100.0) % 20);
        EXPECT_EQ(lines[k + 1], row);
        inverts.insert(c.invert);
    }
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
    for (int k = 0; k < 20; ++k)
        EXPECT_EQ(png_frame(dir.file("frames"), k), frame_of(raw, k * 5 / 2)) << k;
}

TEST(RenderProgram, PicturesOfTheWholeProductionEndOnTenSecondsOfEndCard) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.3));
    const auto run = render_in(dir, {"--wav", "t.wav", "--fps", "10", "--video", "v.mp4", "--png",
                                     "frames/", "--raw", "f.raw", "--plot", "p.svg"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no terminal: no progress bar
    EXPECT_EQ(names_in(dir.path), (Names{"f.raw", "frames", "p.svg", "t.wav", "v.mp4"}));
    EXPECT_NE(file_text(dir, "p.svg").find("<svg"), std::string::npos);
    // 3 frames of music and 100 of end card, with the sound, in BT.601 at this size.
    const std::string info = probe(dir, "v.mp4");
    for (const char* entry :
         {"codec_name=h264", "pix_fmt=yuv420p", "nb_frames=103", "codec_type=audio",
          "codec_name=aac", "duration=10.300000", "color_space=smpte170m", "color_range=tv",
          "format_name=mov,mp4,m4a,3gp,3g2,mj2"})
        EXPECT_NE(info.find("\n" + std::string(entry) + "\n"), std::string::npos) << info;
    // Browsers start playing at once only when the index (moov) precedes the data (mdat).
    const std::string mp4 = file_text(dir, "v.mp4");
    EXPECT_LT(mp4.find("moov"), mp4.find("mdat"));
    const Bytes raw = test_support::read_file(dir.file("f.raw"));
    ASSERT_EQ(raw.size(), 3 * kImageBytes);  // one picture per pass: no end card
    ASSERT_EQ(names_in(dir.file("frames")).size(), 103u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(png_frame(dir.file("frames"), k), frame_of(raw, k)) << k;
    const Bytes card(end_card.bgr, end_card.bgr + kImageBytes);
    for (int k : {3, 50, 102}) EXPECT_EQ(png_frame(dir.file("frames"), k), card) << k;

    // HD: every pixel twice each way, centred on black, into the working folder; BT.709.
    fs::create_directory(dir.file("here"));
    const auto hd = test_support::run_program({kRender, "--wav", "../t.wav", "--fps", "10",
        "--frames", "2", "--size", "1280x720", "--png", ".", "--video", "../hd.mkv"},
        dir.file("here"));
    ASSERT_EQ(hd.exit_code, 0) << hd.err;
    for (const char* entry :
         {"color_space=bt709", "color_primaries=bt709", "format_name=matroska,webm"})
        EXPECT_NE(probe(dir, "hd.mkv").find("\n" + std::string(entry) + "\n"), std::string::npos);
    const Bytes big = png_frame(dir.file("here"), 1), small = frame_of(raw, 1);
    ASSERT_EQ(big.size(), 1280u * 720 * 3);
    for (size_t i = 0, x = 0, y = 0; i < big.size(); ++i, x = i / 3 % 1280, y = i / 3 / 1280) {
        const bool inside = x >= 240 && x < 1040 && y >= 60 && y < 660;
        ASSERT_EQ(big[i], inside ? small[((y - 60) / 2 * 400 + (x - 240) / 2) * 3 + i % 3] : 0)
            << x << "," << y;
    }

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
        {{"--png", "out", "--raw", "/dev/full"}, {}, 0,
         "cannot write /dev/full: No space left on device"},
        {{"--plot", "p.png"}, {"PATH=" + dir.file("frames")}, 0, "package gnuplot-nox"},
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
    // A reader that goes away ends the run quietly, as SIGPIPE ends `yes | head`.
    const auto closed = test_support::run_program(
        {"/bin/bash", "-c", kRender + " --wav t.wav --fps 1000 --seconds 1000 --controls - | "
                                      "head -c 5; echo \" ${PIPESTATUS[0]}\""}, dir.path);
    EXPECT_EQ(closed.out, "frame 141\n");
    EXPECT_EQ(closed.err, "");
}

}  // namespace
