#include "render/output_video.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/stop_flag.h"
#include "support/test_support.h"

// Codecs, colours, frame size, the index at the front, a missing ffmpeg: render_test.cpp's runs.
namespace {

VideoSettings settings_for(const std::string& output) {
    return {.output_path = output,
            .container = video_container("OUT.MP4"),
            .audio_path = "-odd:name.wav",
            .rate_num = 7,
            .frames = 10,
            .width = 400,
            .height = 300,
            .crf = -1,
            .preset = ""};
}

TEST(FfmpegArguments, DescribeTheFramesExactlyAndNameEveryPathAsAFile) {
    VideoSettings s = settings_for("out.mp4.partial-x");
    std::vector<std::string> args = ffmpeg_arguments(s);
    const auto value_after = [&args](const std::string& flag) {
        const auto it = std::find(args.begin(), args.end(), flag);
        return it != args.end() && it + 1 != args.end() ? *(it + 1) : "";
    };
    EXPECT_EQ(value_after("-framerate"), "7/1");
    EXPECT_EQ(value_after("-t"), "1428572us");  // 10 / 7 s rounded up: the last frame stays
    // Paths are never read as options or protocols; the temporary's name does not say mp4.
    EXPECT_NE(std::find(args.begin(), args.end(), "file:-odd:name.wav"), args.end());
    EXPECT_EQ(args[args.size() - 2], "mp4");
    EXPECT_EQ(args.back(), "file:out.mp4.partial-x");
    EXPECT_EQ(std::find(args.begin(), args.end(), "-ss"), args.end());
    EXPECT_EQ(value_after("-preset"), "superfast");

    s.container = video_container("a.mkv");
    s.rate_num = 30000;
    s.rate_den = 1001;
    s.frames = 8856;
    s.audio_start_s = 62.5;  // --start: the music from the first frame's time
    s.width = 1280, s.height = 720;
    args = ffmpeg_arguments(s);
    EXPECT_EQ(value_after("-ss"), "62.500000");
    EXPECT_EQ(*(std::find(args.begin(), args.end(), "-ss") + 2), "-i");
    EXPECT_EQ(value_after("-preset"), "ultrafast");  // a large frame: the fast defaults
    EXPECT_EQ(value_after("-crf"), "30");
    EXPECT_EQ(value_after("-framerate"), "30000/1001");
    EXPECT_EQ(value_after("-t"), "295495200us");  // 8856 * 1001 / 30000 s, exactly
    EXPECT_EQ(args[args.size() - 2], "matroska");
}

// Runs `body` on a pipe to a shell script that stands in for ffmpeg, first on PATH.
template <typename Body>
void with_fake_ffmpeg(const std::string& script, Body body) {
    test_support::TempDir dir;
    const std::string text = "#!/bin/sh\n" + script + "\n";
    test_support::write_file(dir.file("ffmpeg"), std::vector<uint8_t>(text.begin(), text.end()));
    ASSERT_EQ(chmod(dir.file("ffmpeg").c_str(), 0755), 0);
    const std::string saved = std::getenv("PATH");
    setenv("PATH", (dir.path + ":" + saved).c_str(), 1);
    VideoOutput video;
    video.name = "v.mp4";
    video.settings = settings_for("/tmp/v.mp4.partial-x");
    EXPECT_TRUE(child_start(ffmpeg_arguments(video.settings), {}, &video.ffmpeg));
    if (video.ffmpeg.pid > 0) body(&video);
    setenv("PATH", saved.c_str(), 1);
}

TEST(FfmpegPipe, AFailingFfmpegIsReportedInTheUsersNamesAndARunningOneKilledAtOnce) {
    signal(SIGPIPE, SIG_IGN);  // as the renderer has it: a reader gone is a failed write
    const struct {
        const char* end;  // of the script, after it has read a few bytes
        std::string error;
    } cases[] = {{"echo 'file:/tmp/v.mp4.partial-x: Invalid data' >&2\nexit 3",
                  "ffmpeg failed (exit status 3): 'v.mp4': Invalid data"},
                 {"kill -9 $$", "ffmpeg failed (killed by signal 9)"}};
    for (const auto& c : cases)
        with_fake_ffmpeg("head -c 1000 >/dev/null\n" + std::string(c.end),
                         [&c](VideoOutput* video) {
                             const std::vector<uint8_t> frame(400 * 300 * 3, 0);
                             FrameView view;
                             view.framed = frame.data();
                             Outcome written;
                             for (int i = 0; i < 50 && written; ++i)
                                 written = output_frame(video, view);
                             EXPECT_EQ(written.message, c.error);
                         });
    with_fake_ffmpeg("exec sleep 60", [](VideoOutput* video) {
        // Its owner going away stops it at once.
        const double started = test_support::monotonic_seconds();
        { VideoOutput dropped = std::move(*video); }
        EXPECT_LT(test_support::monotonic_seconds() - started, 5.0);
        EXPECT_TRUE(output_complete(video));  // nothing left to finish
    });
    with_fake_ffmpeg("exec sleep 20", [](VideoOutput* video) {
        // One that never ends, finishing when a stop signal arrives: not waited for.
        g_stop_signal = SIGINT;
        const double started = test_support::monotonic_seconds();
        const Outcome finished = output_complete(video);
        g_stop_signal = 0;
        EXPECT_EQ(finished.kind, OutcomeKind::interrupted);
        EXPECT_LT(test_support::monotonic_seconds() - started, 5.0);
    });
}

}  // namespace
