// The offline renderer: its options and timeline, the frames it writes held against the plain
// reference compositor, its outputs on success, failure and stop signals, and what a hostile
// command line must not get out of it.
#include "render/render.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "audio/analyzer.h"
#include "audio/convert.h"
#include "common/build_info.h"
#include "common/wav_format.h"
#include "common/wording.h"
#include "frame/view.h"
#include "render/framing.h"
#include "render/output_video.h"
#include "support/reference_compositor.h"
#include "support/test_support.h"
#include "visuals/image_bank.h"

namespace {

using test_support::names_in;
using test_support::TempDir;
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
    return "\n" +
           test_support::run_program(
               {"/usr/bin/ffprobe", "-v", "error", "-of", "default=noprint_wrappers=1",
                "-show_entries",
                "stream=codec_type,codec_name,pix_fmt,"
                "nb_frames,color_space,color_range,color_primaries:format=duration,format_name",
                file},
               dir.path)
               .out;
}

const std::string kRender = test_support::kBuildDir + "/starglobe-render";

test_support::ProcessResult render_in(const TempDir& dir, Names args, const Names& env = {}) {
    args.insert(args.begin(), kRender);
    return test_support::run_program(args, dir.path, env);
}

// A shell command run in `dir`, for pipes and odd names.
test_support::ProcessResult shell_in(const TempDir& dir, const std::string& command) {
    return test_support::run_program({"/bin/bash", "-c", command}, dir.path, {"RENDER=" + kRender});
}

TEST(RenderOptions, RatesTimelineFramingAndRefusals) {
    // 30000/1001 puts frame 30 at exactly 1001 ms; 29.97 at 1001.001 ms, past 1001.0005.
    const struct {
        std::vector<const char*> args;
        uint32_t track_frames;
        std::array<int64_t, 7> num_den_passes_first_end_card_shown;
    } cases[] = {
        {{"--fps", "60000/2002", "--loop-fps", "30000/1001", "--seconds", "1.0010005", "--controls",
          "c"},
         0,
         {30000, 1001, 31, 0, 31, 0, 0}},
        {{"--fps", "29.97", "--loop-fps", "29.97", "--seconds", "1.0010005", "--controls", "c"},
         0,
         {2997, 100, 30, 0, 30, 0, 0}},
        // Passes that start before frame 3's 300 ms; a length given: no end card.
        {{"--png", "p", "--fps", "10", "--loop-fps", "25", "--frames", "3"},
         44100,
         {10, 1, 8, 0, 3, 0, 0}},
        // The live look by default; no music: straight to the card.
        {{"--png", "p"}, 0, {60, 1, 0, 0, 0, 600, 0}},
        // From 1.01 s: frame 61 at 1016.7 ms shows pass 1016, the passes before it unseen.
        {{"--raw", "r", "--start", "1.01", "--seconds", "1"},
         44100 * 3,
         {60, 1, 2017, 61, 121, 0, 1016}},
    };
    const std::vector<int16_t> silence(2 * 44100 * 3, 0);
    for (const auto& c : cases) {
        RenderOptions o;
        ASSERT_EQ(parse_render_options(static_cast<int>(c.args.size()), c.args.data(), &o).message,
                  "");
        const RenderPlan p = render_plan(o, PcmTrack{silence.data(), c.track_frames});
        EXPECT_EQ((std::array{o.fps.num, o.fps.den, p.passes, p.first_frame, p.music_frames,
                              p.card_frames, p.first_pass}),
                  c.num_den_passes_first_end_card_shown)
            << c.args[1];
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
    EXPECT_EQ(pass_shown(9, r60, r7), 1);       // 150 ms: the pass at 142.9 ms
    EXPECT_EQ(pass_shown(7, r60, r1000), 116);  // 116.67 ms
    EXPECT_EQ(pass_shown(30, ntsc, r1000), 1001);

    const Framing f = framing_for(0, 1920, 1080);
    EXPECT_EQ((std::array{f.width, f.height, f.scale, f.x, f.y}),
              (std::array{1920, 1080, 3, 360, 90}));
    // clang-format off
    const std::vector<std::vector<const char*>> refused = {
        {"--raw", "r", "--fps", "1000.5"}, {"--raw", "r", "--fps", "0"},
        {"--raw", "r", "--fps", "1/0"}, {"--raw", "r", "--fps", "29."},
        {"--raw", "r", "--loop-fps", "100001"}, {"--video", "v.webm"}, {"--video", "v.mp4.avi"},
        {"--plot", "p.jpg"}, {"--video", "v.mp4", "--crf", "52"},
        {"--video", "v.mp4", "--preset", "fastest"}, {"--png", "p", "--scale", "9"},
        {"--png", "p", "--size", "399x300"}, {"--raw", "r", "--scale", "2"},
        {"--video", "v.mp4", "--frames", "0"}, {"--raw", "r", "--raw", "r"},
        {"--raw", "r", "--frames", "3", "--seconds", "1"}, {"--fps", "30"},
        {"--controls", "c", "--gentle"},
        // One number syntax: no hex, exponents, signs or blanks anywhere.
        {"--raw", "r", "--seconds", "0x10"}, {"--raw", "r", "--seconds", "1e1"},
        {"--raw", "r", "--start", "-1"}, {"--raw", "r", "--fps", " 60"},
        // Nothing past the timeline the tap holds, and no count that plans for ever.
        {"--raw", "r", "--seconds", "48696"},
        {"--raw", "r", "--start", "48000", "--seconds", "1000"},
        {"--raw", "r", "--frames", "9223372036854775295"},
        {"--raw", "r", "--fps", "1", "--frames", "48696"},
        // What ffmpeg cannot take is refused up front.
        {"--video", "v.mp4", "--size", "16002x400"}};
    // clang-format on
    for (const auto& args : refused) {
        RenderOptions ignored;
        EXPECT_FALSE(parse_render_options(static_cast<int>(args.size()), args.data(), &ignored))
            << args[0] << " " << args[1] << " " << args.back();
    }
}

TEST(RenderProgram, RefusesBadCommandLinesMusicAndClashingNamesSayingWhy) {
    // The synopsis fits a terminal of 80 columns.
    for (const std::string& line : lines_of(render_usage())) EXPECT_LE(line.size(), 80u) << line;
    // The manual, the long form written by hand, states the limits the constants set.
    const Bytes manual =
        test_support::read_file(test_support::kSourceDir + "/docs/man/starglobe-render.1.scd");
    const std::string page(manual.begin(), manual.end());
    const auto side = [](int32_t n) { return std::to_string(n) + "x" + std::to_string(n); };
    for (const std::string& limit :
         {"up to " + grouped(kMaxFps) + " ", "up to " + grouped(kMaxLoopFps) + " ",
          grouped(int64_t(kMaxTimelineMs / kMsPerSecond)) + " seconds", side(kMaxSide),
          side(kMaxVideoSide), " to " + std::to_string(kMaxCrf) + ";",
          "default " + std::to_string(kDefaultCrf) + ", and " + std::to_string(kLargeFrameCrf),
          grouped(kLargeFramePixels) + " pixels", "1 to " + std::to_string(kMaxScale),
          std::to_string(int(kGentleRenewMs)) + " ms"})
        EXPECT_NE(page.find(limit), std::string::npos) << "starglobe-render(1) lacks " << limit;
    TempDir dir;
    test_support::write_file(dir.file("v.wav"), test_support::tone_wav(0.2));
    ASSERT_EQ(mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
    fs::create_directory(dir.file("sub"));
    const struct {
        Names args;
        int status;
        std::string says;
    } cases[] = {
        {{"--bogus", "1", "--controls", "c"}, 2, "unknown option '--bogus'"},
        {{"--controls"}, 2, "--controls needs a value"},
        // Outputs over the music, or over each other by another name: refused, nothing lost.
        {{"--wav", "v.wav", "--controls", "v.wav"}, 2, "would overwrite the music"},
        {{"--wav", "./sub/../v.wav", "--raw", "v.wav"}, 2, "would overwrite the music"},
        {{"--wav", "v.wav", "--controls", "./a.csv", "--raw", "a.csv"}, 2, "name the same file"},
        {{"--wav", "v.wav", "--controls", "-", "--raw", "/dev/stdout"}, 2, "standard output"},
        // A named pipe nobody writes to, a folder: refused at once, never waited on.
        // No frame to render is refused alike for every output, by the options or the music.
        {{"--wav", "v.wav", "--png", "p", "--seconds", "0"}, 2, "this span holds no frame"},
        {{"--wav", "v.wav", "--controls", "c.csv", "--frames", "0"}, 2, "this span holds no frame"},
        {{"--wav", "v.wav", "--video", "v.mp4", "--frames", "0"}, 2, "this span holds no frame"},
        {{"--wav", "v.wav", "--start", "0.01", "--seconds", "0.001", "--flashes", "f.csv"},
         2,
         "this span holds no frame"},
        {{"--wav", "pipe.wav", "--controls", "c.csv"}, 1, "'pipe.wav': not a regular file"},
        {{"--wav", "sub", "--controls", "c.csv"}, 1, "'sub': not a regular file"},
        {{"--controls", "c.csv"},
         1,
         "found no " STARGLOBE_SOUNDTRACK_NAME " in " + fs::canonical(dir.path).string()}};
    for (const auto& c : cases) {
        const auto run = render_in(dir, c.args);
        EXPECT_EQ(run.exit_code, c.status) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("starglobe-render: ", 0), 0u) << run.err;
        EXPECT_LT(run.seconds, 10.0);
    }
    EXPECT_EQ(test_support::read_file(dir.file("v.wav")), test_support::tone_wav(0.2));
    EXPECT_EQ(names_in(dir.path), (Names{"pipe.wav", "sub", "v.wav"}));
    // Binary data for a terminal is refused, saying how to send it elsewhere.
    for (const std::string output : {"--video -", "--raw /dev/stdout"}) {
        const auto tty = shell_in(
            dir, "script -qec '\"$RENDER\" --wav v.wav --frames 1 " + output + "' /dev/null");
        EXPECT_EQ(tty.exit_code, 2) << output;
        EXPECT_NE(tty.out.find("onto the terminal; redirect standard output"), std::string::npos)
            << tty.out;
    }
    // Help and version that cannot be written are failures, not successes.
    for (const char* option : {"--help", "--version"}) {
        EXPECT_EQ(shell_in(dir, "\"$RENDER\" " + std::string(option) + " >/dev/full").exit_code, 1)
            << option;
    }
}

TEST(RenderProgram, TakesAnyAudioThroughFfmpegAndTheDemosLayoutAsItIs) {
    TempDir dir;
    ASSERT_EQ(test_support::run_program({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                         "sine=frequency=300:duration=0.5", "my song (live).mp3"},
                                        dir.path)
                  .exit_code,
              0);
    test_support::write_file(dir.file("notes.txt"), Bytes(100, 'x'));
    const auto mp3 =
        render_in(dir, {"--wav", "my song (live).mp3", "--loop-fps", "50", "--controls", "c.csv"});
    ASSERT_EQ(mp3.exit_code, 0) << mp3.err;
    EXPECT_EQ(mp3.err,
              "starglobe-render: converting 'my song (live).mp3' with ffmpeg to 16-bit "
              "stereo PCM at 44,100 Hz\n");
    EXPECT_GE(lines_of(file_text(dir, "c.csv")).size(), 1u + 25);  // half a second at 50
    // No converted copy is left behind, here or in the temporary folder.
    EXPECT_EQ(names_in(dir.path), (Names{"c.csv", "my song (live).mp3", "notes.txt"}));
    const auto text = render_in(dir, {"--wav", "notes.txt", "--controls", "-"});
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_EQ(text.err,
              "starglobe-render: 'notes.txt' is not audio ffmpeg can read: not a WAV file "
              "(it starts with xxxx, not RIFF)\n");
    // Music on standard input: what was opened and checked is what ffmpeg converts.
    const auto piped =
        shell_in(dir, "\"$RENDER\" --wav /dev/stdin --controls - <'my song (live).mp3'");
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    // ... and a file swapped for a named pipe once it was checked is not waited on.
    fs::create_directory(dir.file("bin"));
    fs::copy_file(dir.file("my song (live).mp3"), dir.file("swapped.mp3"));
    const std::string swap =
        "#!/bin/sh\nrm swapped.mp3; mkfifo swapped.mp3\nexec /usr/bin/ffprobe \"$@\"\n";
    test_support::write_file(dir.file("bin/ffprobe"), {swap.begin(), swap.end()});
    fs::permissions(dir.file("bin/ffprobe"), fs::perms::owner_all);
    const auto swapped = render_in(dir, {"--wav", "swapped.mp3", "--controls", "-"},
                                   {"PATH=" + dir.file("bin") + ":" + std::getenv("PATH")});
    EXPECT_EQ(swapped.exit_code, 0) << swapped.err;
    // The advice people are given converts for real, whatever the name: bash reads it back,
    // and ffmpeg takes neither a dash first nor a colon (a protocol) for anything but a file.
    for (const std::string name : {"my song (live)", "it's \033[2J\n", "-my:song (live)"}) {
        if (!fs::exists(dir.file(name + ".mp3")))
            fs::copy_file(dir.file("my song (live).mp3"), dir.file(name + ".mp3"));
        const std::string advice = conversion_advice(name + ".mp3");
        ASSERT_EQ(shell_in(dir, advice + " </dev/null 2>/dev/null").exit_code, 0) << advice;
        EXPECT_EQ(load_wav(dir.file(name + ".wav").c_str()).status, WavStatus::ok) << advice;
        EXPECT_EQ(advice.find_first_of("\033\n"), std::string::npos) << advice;
    }
}

// A render of a span converts that span only (with what the analysis reads before it),
// however long the music is and whatever its header claims: 30 s of music, called seven
// hours long and one second long, rendered for one second.
TEST(RenderProgram, ConvertsOnlyTheSpanItRendersWhateverTheHeaderClaims) {
    TempDir dir;
    fs::create_directories(dir.file("bin"));
    fs::create_directories(dir.file("tmp"));
    Bytes music = test_support::tone_wav(30.0);  // at 22,050 Hz: ffmpeg's to convert
    test_support::put_u32(music, 24, 22050), test_support::put_u32(music, 28, 22050 * 4);
    test_support::write_file(dir.file("m.wav"), music);
    const std::string ffmpeg =
        "#!/bin/sh\n/usr/bin/ffmpeg \"$@\" || exit; for a; do last=$a; done\n"
        "stat -c %s \"${last#file:}\" > \"$TMPDIR/../copy-size\"\n";
    test_support::write_file(dir.file("bin/ffmpeg"), {ffmpeg.begin(), ffmpeg.end()});
    for (const std::string seconds : {"25260.9", "1"}) {
        const std::string ffprobe = "#!/bin/sh\necho codec_type=audio; echo duration=" + seconds;
        test_support::write_file(dir.file("bin/ffprobe"), {ffprobe.begin(), ffprobe.end()});
        for (const char* name : {"bin/ffmpeg", "bin/ffprobe"})
            fs::permissions(dir.file(name), fs::perms::owner_all);
        const auto run = render_in(
            dir, {"--wav", "m.wav", "--seconds", "1", "--start", "0.5", "--controls", "c.csv"},
            {"TMPDIR=" + dir.file("tmp"), "PATH=" + dir.file("bin") + ":" + std::getenv("PATH")});
        ASSERT_EQ(run.exit_code, 0) << seconds << ": " << run.err;
        const Bytes size = test_support::read_file(dir.file("copy-size"));
        // 1.5 s, the margin of a second, and ffmpeg's rounding: far from the 30 s there are.
        EXPECT_LE(std::stol(std::string(size.begin(), size.end())), 44 + 3 * 176400) << seconds;
    }
}

// The frames the demo composes at `fps`, one pass per frame, from the analysis, the picture
// choice by the frame times and the plain reference compositor: none of it the renderer's.
std::vector<Bytes> expected_frames(const std::vector<int16_t>& samples, int fps, int count) {
    std::srand(1);
    AudioAnalyzer analyzer;
    const PcmTrack track{samples.data(), static_cast<uint32_t>(samples.size() / 2)};
    std::vector<Bytes> frames;
    for (int k = 0; k < count; ++k) {
        const double ms = k * 1000.0 / fps;
        const FrameControls c = analyzer.analyze(track, ms);
        frames.emplace_back(kImageBytes);
        reference_compose_frame(frames.back().data(), kImageWidth, kImageHeight,
                                *star_frames[static_cast<int>(ms / 200.0) % 24],
                                *globe_frames[static_cast<int>(ms / 100.0) % 20], c);
    }
    return frames;
}

TEST(RenderProgram, FramesAreTheDemosComposedFromTheReferenceAndTheLoopRateShowsTheLatestPass) {
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
    const auto plain = render_in(dir, {"--wav", "t.wav", "--fps=25", "--loop-fps=25",
                                       "--controls=plain.csv", "--seconds", "2", "--raw", "-"});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const Bytes raw(plain.out.begin(), plain.out.end());
    ASSERT_EQ(raw.size(), 50 * kImageBytes);  // the 50 frames that start within 2 s
    const std::vector<Bytes> want = expected_frames(samples, 25, 50);
    for (int k = 0; k < 50; ++k) ASSERT_EQ(frame_of(raw, k), want[k]) << "frame " << k;
    const Names lines = lines_of(file_text(dir, "plain.csv"));
    ASSERT_EQ(lines.size(), 51u);
    EXPECT_EQ(lines[0],
              "pass,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,"
              "ring_length,star,globe");
    AudioAnalyzer analyzer;
    std::set<bool> inverts;  // the track exercises both routings
    for (int k = 0; k < 50; ++k) {
        const double ms = k * 1000.0 / 25;
        const FrameControls c = analyzer.analyze(PcmTrack{samples.data(), 88200}, ms);
        char row[160];
        std::snprintf(row, sizeof row, "%d,%.3f,%d,%d,%d,%d,%d,%d,%d,%d", k, ms, c.flash, c.pulse,
                      c.invert ? 1 : 0, c.noise_range, c.noise_offset, c.ring_length,
                      static_cast<int>(ms / 200.0) % 24, static_cast<int>(ms / 100.0) % 20);
        EXPECT_EQ(lines[k + 1], row);
        inverts.insert(c.invert);
    }
    EXPECT_EQ(inverts.size(), 2u);

    // Passes 25 a second and frames 10 a second: the passes, controls and noise of the plain
    // run, every pass composed, shown or not; frame k at 100k ms shows pass j at 40j ms.
    const auto loop =
        render_in(dir, {"--wav", "t.wav", "--fps", "10", "--loop-fps", "25", "--seconds", "2",
                        "--png", "frames", "--controls", "loop.csv", "-q"});
    ASSERT_EQ(loop.exit_code, 0) << loop.err;
    EXPECT_EQ(file_text(dir, "loop.csv"), file_text(dir, "plain.csv"));
    ASSERT_EQ(names_in(dir.file("frames")).size(), 20u);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(png_frame(dir.file("frames"), k), want[k * 5 / 2]) << k;

    // Gently: each pixel shows one of the passes of the last kGentleRenewMs, so keeps the
    // passes' colours rather than mixing them; the newest pass shows in part (the pixels whose
    // turn it is) and the oldest still does too. From 1 s on, frame for frame the whole render's.
    const auto gentle = render_in(dir, {"--wav", "t.wav", "--fps", "25", "--loop-fps", "25",
                                        "--seconds", "2", "--gentle", "--raw", "-"});
    ASSERT_EQ(gentle.exit_code, 0) << gentle.err;
    const Bytes soft(gentle.out.begin(), gentle.out.end());
    ASSERT_EQ(soft.size(), 50 * kImageBytes);
    EXPECT_EQ(frame_of(soft, 0), want[0]);
    const int span = static_cast<int>(kGentleRenewMs / 40);  // passes a pixel may lag
    for (int k = 1; k < 50; ++k) {
        const Bytes shown = frame_of(soft, k);
        int newest = 0, oldest = 0;
        for (size_t i = 0; i < kImageBytes; i += kImageBytesPerPixel) {
            const auto pixel = [&](const Bytes& frame) {
                return std::equal(&shown[i], &shown[i] + kImageBytesPerPixel, &frame[i]);
            };
            int j = k;
            while (j >= 0 && j > k - span && !pixel(want[j])) --j;
            ASSERT_TRUE(j >= 0 && j > k - span) << "frame " << k << ", pixel " << i / 3;
            newest += j == k, oldest += j == k - span + 1;
        }
        EXPECT_GT(newest, 0) << k;
        EXPECT_TRUE(k < span || oldest > 0) << k;
    }
    // From a late start, plainly and gently: frame for frame the whole render's.
    for (const bool gently : {false, true}) {
        Names args = {"--wav",   "t.wav", "--fps",    "25", "--loop-fps", "25",
                      "--start", "1",     "--frames", "3",  "--raw",      "-"};
        if (gently) args.push_back("--gentle");
        const auto late = render_in(dir, args);
        ASSERT_EQ(late.out.size(), 3 * kImageBytes);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(frame_of(Bytes(late.out.begin(), late.out.end()), k),
                      gently ? frame_of(soft, 25 + k) : want[25 + k])
                << k << (gently ? " gently" : "");
    }
}

TEST(RenderProgram, PicturesOfTheWholeProductionEndOnTheCardAtAnySizeAndReachPipes) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(0.3));
    const auto run = render_in(dir, {"--wav", "t.wav", "--fps", "10", "--video", "v.mp4", "--png",
                                     "frames/", "--raw", "f.raw", "--plot", "p.svg"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no terminal: no progress bar
    EXPECT_EQ(names_in(dir.path), (Names{"f.raw", "frames", "p.svg", "t.wav", "v.mp4"}));
    EXPECT_NE(file_text(dir, "p.svg").find("<svg"), std::string::npos);
    EXPECT_NE(file_text(dir, "p.svg").find("</svg>"), std::string::npos);  // whole, not cut
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
    ASSERT_EQ(raw.size(), 103 * kImageBytes);
    ASSERT_EQ(names_in(dir.file("frames")).size(), 103u);
    const Bytes card(end_card.bgr, end_card.bgr + kImageBytes);
    for (int k : {0, 2, 3, 50, 102}) {
        EXPECT_EQ(png_frame(dir.file("frames"), k), frame_of(raw, k)) << k;
        EXPECT_EQ(frame_of(raw, k) == card, k >= 3) << k;
    }

    // HD: every pixel twice each way, centred on black, into the working folder; BT.709. And
    // a frame taller than the picture is wide: black below, nothing read past the picture.
    fs::create_directory(dir.file("here"));
    const auto hd =
        test_support::run_program({kRender, "--wav", "../t.wav", "--fps", "10", "--frames", "2",
                                   "--size", "1280x720", "--png", ".", "--video", "../hd.mkv"},
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
    const auto tall = render_in(dir, {"--wav", "t.wav", "--fps", "10", "--frames", "2", "--size",
                                      "400x1000", "--png", "tall"});
    ASSERT_EQ(tall.exit_code, 0) << tall.err;
    Bytes framed(400 * 1000 * 3, 0);
    std::copy(small.begin(), small.end(), framed.begin() + 350 * 1200);
    EXPECT_TRUE(png_frame(dir.file("tall"), 1) == framed);

    // Standard output by "-" or by name, through a pipe: Matroska that ffprobe reads, and a
    // reader that goes away ends the run quietly, as for --raw.
    for (const char* name : {"-", "/dev/stdout"}) {
        const auto piped = shell_in(dir, "\"$RENDER\" --wav t.wav --frames 3 --video " +
                                             std::string(name) + " | cat > piped.mkv");
        EXPECT_EQ(piped.exit_code, 0) << piped.err;
        EXPECT_NE(probe(dir, "piped.mkv").find("\nformat_name=matroska,webm\n"), std::string::npos)
            << name;
        const auto gone =
            shell_in(dir, "\"$RENDER\" --wav t.wav --seconds 600 --video " + std::string(name) +
                              " | head -c 100 >/dev/null; echo ${PIPESTATUS[0]}");
        EXPECT_EQ(gone.out, "141\n") << name << ": " << gone.err;
        EXPECT_EQ(gone.err, "") << name;
    }
    const auto closed = shell_in(dir,
                                 "\"$RENDER\" --wav t.wav --fps 1000 --seconds 1000 "
                                 "--controls - | head -c 5; echo \" ${PIPESTATUS[0]}\"");
    EXPECT_EQ(closed.out, "pass, 141\n");
    EXPECT_EQ(closed.err, "");
}

TEST(RenderProgram, AnHourOfMusicHoldsNoMoreMemoryThanAMinute) {
    // An hour of silence, a sparse file: the analysis and the plot read all of it.
    TempDir dir;
    const uint32_t data = 3600 * kWavByteRate;
    Bytes wav = test_support::canonical_wav({});
    test_support::put_u32(wav, 4, static_cast<uint32_t>(wav.size()) - 8 + data);
    test_support::put_u32(wav, 40, data);
    test_support::write_file(dir.file("long.wav"), wav);
    ASSERT_EQ(truncate(dir.file("long.wav").c_str(), off_t{44} + data), 0);
    const std::string peak =
        "import resource, subprocess, sys\n"
        "status = subprocess.run(sys.argv[1:]).returncode\n"
        "print(status, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n";
    const auto run = test_support::run_program(
        {"/usr/bin/env", "python3", "-c", peak, kRender, "--wav", "long.wav", "--loop-fps", "10",
         "--controls", "/dev/null", "--plot", "p.svg"},
        dir.path);
    long status = -1, kib = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str(), "%ld %ld", &status, &kib), 2) << run.out << run.err;
    EXPECT_EQ(status, 0) << run.err;
    EXPECT_LT(kib, 300 * 1024) << "KiB resident at the peak, of " << (off_t{44} + data) / 1024
                               << " KiB of music";
}

TEST(RenderOutputs, AFailureOrAStopSignalLeavesNoNewFileAndTheOldOnesUntouched) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(1.0));
    test_support::write_file(dir.file("c.csv"), {'o', 'l', 'd'});
    fs::create_directories(dir.file("frames"));
    test_support::write_file(dir.file("frames/mine.txt"), {'x'});
    fs::create_directories(dir.file("empty"));
    fs::create_directories(dir.file("bin"));
    fs::create_symlink("/dev/full", dir.file("full.svg"));
    // An ffmpeg that takes every frame, writes part of its file and then fails.
    const std::string script =
        "#!/bin/sh\nfor a; do out=$a; done\necho part > \"${out#file:}\"\ncat >/dev/null\nexit 1\n";
    test_support::write_file(dir.file("bin/ffmpeg"), {script.begin(), script.end()});
    fs::permissions(dir.file("bin/ffmpeg"), fs::perms::owner_all);
    const std::string all[] = {"--video", "v.mp4", "--png", "out", "--raw", "f.raw"};
    const struct {
        Names args, env;
        int signal;
        std::string error;
    } cases[] = {
        {{"--video", "v.mp4", "--png", "out"}, {"PATH=" + dir.file("frames")}, 0, "install ffmpeg"},
        {{"--video", "v.mp4", "--png", "out"},
         {"PATH=" + dir.file("bin") + ":/usr/bin:/bin"},
         0,
         "ffmpeg failed (exit status 1)"},
        {{"--png", "out", "--raw", "/dev/full"},
         {},
         0,
         "cannot write '/dev/full': No space left on device"},
        {{"--plot", "p.png"}, {"PATH=" + dir.file("frames")}, 0, "package gnuplot-nox"},
        // A plot that cannot be written fails like any other output.
        {{"--plot", "full.svg"}, {}, 0, "cannot write 'full.svg': No space left on device"},
        {{"--png", "frames"}, {}, 0, "not empty"},
        {{std::begin(all), std::end(all)}, {}, SIGINT, "unfinished output removed"},
        {{"--png", "empty", "--raw", "f.raw"}, {}, SIGTERM, "unfinished output removed"},
    };
    for (const auto& c : cases) {
        Names args = {kRender,      "--wav", "t.wav", "--frames", c.signal ? "1000000" : "3",
                      "--controls", "c.csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test_support::Process process = test_support::start_program(args, dir.path, c.env);
        // Signal only once frames are flowing into the temporaries; meanwhile somebody else
        // puts files of their own into the folder filled in place.
        bool writing = c.signal == 0;
        for (int tries = 0; tries < 300 && !writing; ++tries, usleep(20000))
            for (const std::string& name : names_in(dir.path))
                writing = writing || (name.rfind("f.raw.partial-", 0) == 0 &&
                                      fs::file_size(dir.file(name)) > 4 * kImageBytes);
        ASSERT_TRUE(writing) << "the render never started writing";
        if (c.signal) {
            test_support::write_file(dir.file("empty/theirs.txt"), {'t'});
            kill(process.pid, c.signal);
        }
        const auto run = test_support::finish_program(process, 30.0);
        EXPECT_EQ(run.exit_code, c.signal ? 128 + c.signal : 1) << c.error;
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(names_in(dir.path),
                  (Names{"bin", "c.csv", "empty", "frames", "full.svg", "t.wav"}));
        EXPECT_EQ(file_text(dir, "c.csv"), "old");
        EXPECT_EQ(names_in(dir.file("frames")), Names{"mine.txt"});
        EXPECT_EQ(names_in(dir.file("empty")), c.signal ? Names{"theirs.txt"} : Names{});
        fs::remove(dir.file("empty/theirs.txt"));
    }
    // A disk that runs full under ffmpeg reads as any full disk: a 64 KiB file system of its
    // own, mounted in a namespace of the run's own where the system allows one.
    if (shell_in(dir, "unshare -rm true").exit_code == 0) {
        fs::create_directory(dir.file("small"));
        // By name, and as standard output sent to a file there.
        for (const auto& [video, name] : {std::pair{"small/v.mp4", "'small/v.mp4'"},
                                          std::pair{"- > small/v.mkv", "'standard output'"}}) {
            const auto full = shell_in(
                dir, std::string("unshare -rm sh -c 'mount -t tmpfs -o size=64k none small && "
                                 "exec \"$RENDER\" --wav t.wav --frames 30 --video ") +
                         video + "'");
            EXPECT_EQ(full.err, std::string("starglobe-render: cannot write ") + name +
                                    ": No space left on device\n");
            EXPECT_EQ(full.exit_code, 1);
        }
    }
    // Whether a run's output, written aside under a name starting with `prefix`, has begun.
    const auto partial_appears = [&](const std::string& prefix) {
        return test_support::wait_until(
            [&] {
                for (const std::string& name : names_in(dir.path))
                    if (name.rfind(prefix, 0) == 0) return true;
                return false;
            },
            20.0);
    };
    // A folder that cannot be put in place at the end (somebody made its name meanwhile) fails
    // the run before any file is replaced.
    test_support::write_file(dir.file("p.png"), {'o', 'l', 'd'});
    test_support::Process late = test_support::start_program(
        {kRender, "--wav", "t.wav", "--seconds", "1", "--plot", "p.png", "--png", "nd"}, dir.path);
    ASSERT_TRUE(partial_appears("nd.partial-"));
    test_support::write_file(dir.file("nd"), {'x'});
    const auto run = test_support::finish_program(late, 60.0);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(file_text(dir, "p.png"), "old");

    // Music cut short while it is read fails the run like any failure, not by a bus error.
    test_support::write_file(dir.file("cut.wav"), test_support::tone_wav(600.0));
    test_support::Process cut = test_support::start_program(
        {kRender, "--wav", "cut.wav", "--raw", "cut.raw", "--fps", "5", "--loop-fps", "25"},
        dir.path);
    ASSERT_TRUE(partial_appears("cut.raw.partial-"));
    ASSERT_EQ(truncate(dir.file("cut.wav").c_str(), 44), 0);
    const auto shrunk = test_support::finish_program(cut, 60.0);
    EXPECT_EQ(shrunk.exit_code, 1) << shrunk.err;
    EXPECT_NE(shrunk.err.find("cut.wav: the file was cut short while it was read"),
              std::string::npos)
        << shrunk.err;
    EXPECT_FALSE(fs::exists(dir.file("cut.raw")));
}

TEST(RenderOutputs, AStopSignalEndsARunWhoseReaderKeepsThePipeButNeverReads) {
    TempDir dir;
    test_support::write_file(dir.file("t.wav"), test_support::tone_wav(1.0));
    ASSERT_EQ(mkfifo(dir.file("stalled").c_str(), 0600), 0);
    const int reader = open(dir.file("stalled").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    // An ffmpeg that takes part of the first frame and then holds its input without reading.
    fs::create_directory(dir.file("bin"));
    const std::string script = "#!/bin/sh\nhead -c 100000 >/dev/null\nexec sleep 60\n";
    test_support::write_file(dir.file("bin/ffmpeg"), {script.begin(), script.end()});
    fs::permissions(dir.file("bin/ffmpeg"), fs::perms::owner_all);
    const struct {
        std::string output;
        int signal;
    } cases[] = {{"--raw - >stalled", SIGTERM},
                 {"--video - >stalled", SIGINT},
                 {"--raw stalled", SIGINT},
                 {"--video v.mkv", SIGTERM}};
    for (const auto& c : cases) {
        const std::string path = c.output == "--video v.mkv" ? "bin:" : "";
        test_support::Process process = test_support::start_program(
            {"/bin/bash", "-c", "exec \"$RENDER\" --wav t.wav --frames 1000000 " + c.output},
            dir.path, {"RENDER=" + kRender, "PATH=" + path + std::getenv("PATH")});
        // Signal once the full pipe holds the renderer in its write (or its wait to write).
        std::string waits_in;
        const bool held = test_support::wait_until(
            [&] {
                const Bytes wchan =
                    test_support::read_file("/proc/" + std::to_string(process.pid) + "/wchan");
                waits_in.assign(wchan.begin(), wchan.end());
                return waits_in.find("pipe_write") != std::string::npos ||
                       waits_in.find("poll") != std::string::npos;
            },
            20.0);
        ASSERT_TRUE(held) << c.output << ": last seen waiting in '" << waits_in << "'";
        kill(process.pid, c.signal);
        const auto run = test_support::finish_program(
            process, test_support::monotonic_seconds() - process.started + 20.0);
        EXPECT_EQ(run.exit_code, 128 + c.signal) << c.output << ": " << run.err;
        char drain[65536];
        while (read(reader, drain, sizeof drain) > 0) {
        }
    }
    close(reader);
}

TEST(RenderOutputs, NamesTheUserGivesNeverReachGnuplotAsCommands) {
    TempDir dir;
    const std::string evil = "x\n!touch pwned\n`touch pwned2` \"q' \\ !";
    test_support::write_file(dir.file(evil + ".wav"), test_support::tone_wav(0.2));
    const auto run =
        render_in(dir, {"--wav", evil + ".wav", "--loop-fps", "20", "--plot", evil + ".svg"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir.file("pwned")));
    EXPECT_FALSE(fs::exists(dir.file("pwned2")));
    EXPECT_NE(file_text(dir, evil + ".svg").find("touch pwned"), std::string::npos)
        << "the title holds the name as text";
}

}  // namespace
