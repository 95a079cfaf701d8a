#include "render/ffmpeg_pipe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using test_support::TempDir;

// The value that follows `flag` on the command line, or "".
std::string value_after(const std::vector<std::string>& args, const std::string& flag) {
    const auto it = std::find(args.begin(), args.end(), flag);
    return it != args.end() && it + 1 != args.end() ? *(it + 1) : "";
}

// Runs `body` with PATH set to `path`, then puts the old PATH back.
template <typename Body>
void with_path(const std::string& path, Body body) {
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", path.c_str(), 1);
    body();
    setenv("PATH", saved.c_str(), 1);
}

VideoSettings settings_for(const std::string& output) {
    VideoSettings s;
    s.output_path = output;
    s.audio_path = "-odd:name.wav";
    s.fps = 7;
    s.frames = 10;
    s.width = 400;
    s.height = 300;
    return s;
}

TEST(FfmpegArguments, DescribeTheFramesAndABrowserFriendlyFile) {
    const std::vector<std::string> args = ffmpeg_arguments(settings_for("out.mp4.partial-x"));
    EXPECT_EQ(args.front(), "ffmpeg");
    EXPECT_EQ(value_after(args, "-pixel_format"), "bgr24");
    EXPECT_EQ(value_after(args, "-video_size"), "400x300");
    EXPECT_EQ(value_after(args, "-framerate"), "7");
    EXPECT_EQ(value_after(args, "-c:v"), "libx264");
    EXPECT_EQ(value_after(args, "-pix_fmt"), "yuv420p");
    EXPECT_EQ(value_after(args, "-c:a"), "aac");
    EXPECT_EQ(value_after(args, "-movflags"), "+faststart");
    // 10 / 7 s = 1.4285714... s, rounded up to whole microseconds so the last frame stays.
    EXPECT_EQ(value_after(args, "-t"), "1428572us");
    // Paths are never read as options or protocols, and the container is named, since the
    // temporary's name does not end in .mp4.
    EXPECT_EQ(value_after(args, "-f"), "rawvideo");
    EXPECT_EQ(args[args.size() - 2], "mp4");
    EXPECT_EQ(args.back(), "file:out.mp4.partial-x");
    EXPECT_NE(std::find(args.begin(), args.end(), "file:-odd:name.wav"), args.end());
}

TEST(FfmpegArguments, APipeGetsAFragmentedFileAndWholeSecondsStayExact) {
    VideoSettings s = settings_for("/dev/null");
    s.seekable = false;
    s.fps = 60;
    s.frames = 8856;  // 147.6 s
    const std::vector<std::string> args = ffmpeg_arguments(s);
    EXPECT_NE(value_after(args, "-movflags").find("frag_keyframe"), std::string::npos);
    EXPECT_EQ(value_after(args, "-t"), "147600000us");
}

TEST(FfmpegPipe, MissingFfmpegFailsAtOnceNamingThePackage) {
    TempDir empty;
    with_path(empty.path, [] {
        EXPECT_EQ(find_on_path("ffmpeg"), "");
        VideoPipe video;
        const std::string error = video_open(settings_for("never.mp4"), &video);
        EXPECT_NE(error.find("install the Debian package ffmpeg"), std::string::npos) << error;
        EXPECT_EQ(video.pid, -1);
    });
}

TEST(FfmpegPipe, AFailingFfmpegIsReportedWithItsStatus) {
    TempDir dir;
    // Stands in for ffmpeg: takes a little input, then fails as a broken encoder would.
    const std::string fake = dir.file("ffmpeg");
    const std::string script = "#!/bin/sh\nhead -c 1000 >/dev/null\nexit 3\n";
    test_support::write_file(fake, std::vector<uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
    signal(SIGPIPE, SIG_IGN);  // as the renderer has it: a reader gone is a failed write
    with_path(dir.path, [&] {
        EXPECT_EQ(find_on_path("ffmpeg"), fake);
        VideoPipe video;
        ASSERT_EQ(video_open(settings_for(dir.file("v.mp4")), &video), "");
        const std::vector<uint8_t> frame(360000, 0);
        std::string error;
        for (int i = 0; i < 50 && error.empty(); ++i)
            error = video_write(&video, frame.data(), frame.size());
        EXPECT_NE(error.find("ffmpeg stopped taking frames"), std::string::npos) << error;
        EXPECT_EQ(video_close(&video), "ffmpeg failed (exit status 3)");
    });
}

TEST(FfmpegPipe, KillEndsARunningFfmpeg) {
    TempDir dir;
    const std::string fake = dir.file("ffmpeg");
    const std::string script = "#!/bin/sh\nexec sleep 60\n";
    test_support::write_file(fake, std::vector<uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
    with_path(dir.path, [&] {
        VideoPipe video;
        ASSERT_EQ(video_open(settings_for(dir.file("v.mp4")), &video), "");
        const double started = test_support::monotonic_seconds();
        video_kill(&video);
        EXPECT_LT(test_support::monotonic_seconds() - started, 5.0);
        EXPECT_EQ(video.pid, -1);
        EXPECT_EQ(video_close(&video), "");  // nothing left to close
    });
}

}  // namespace
