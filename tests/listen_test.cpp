// starglobe --listen with a real sound server (PulseAudio with a null sink, on a private
// runtime folder) and a real window (Xvfb): the picture follows what is played into the sink,
// a stop signal ends it, and a server that goes away and comes back is survived.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/picture.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

constexpr double kReadySeconds = 20.0;

class Listen : public testing::Test {
protected:
    static void SetUpTestSuite() {
        display = start_xvfb(&xvfb);
        ASSERT_NE(display, "") << "no Xvfb could be started";
        runtime = new TempDir;
        start_server();
    }
    static void TearDownTestSuite() {
        stop_server();
        if (xvfb.pid > 0) kill(xvfb.pid, SIGTERM), finish_program(xvfb, kReadySeconds);
        delete runtime;
    }

    // A private PulseAudio: one null sink called "out", the native protocol only.
    static void start_server() {
        server = start_program({"/usr/bin/pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                                "-n", "--use-pid-file=no", "--load=module-null-sink sink_name=out",
                                "--load=module-native-protocol-unix"},
                               "/", sound_env());
        ASSERT_TRUE(wait_until(
            [] {
                return run_program({"/usr/bin/pactl", "info"}, "/", sound_env()).exit_code == 0;
            },
            kReadySeconds))
            << "no pulseaudio: " << output_of(server.err_fd);
    }
    static void stop_server() {
        if (server.pid > 0) kill(server.pid, SIGKILL), finish_program(server, kReadySeconds);
    }
    static std::vector<std::string> sound_env() {
        return {"XDG_RUNTIME_DIR=" + runtime->path, "HOME=" + runtime->path};
    }

    Process start_listening(const std::vector<std::string>& args) {
        std::vector<std::string> env = sound_env();
        env.insert(env.end(), {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11"});
        std::vector<std::string> argv = {kDemo, "--listen"};
        argv.insert(argv.end(), args.begin(), args.end());
        return start_program(argv, "/", env);
    }

    // The mean byte of the screen: 255 for the white frames of silence, far less for the
    // noise and the inverted stars of loud sound.
    double screen_mean() {
        Display* x = XOpenDisplay(display.c_str());
        if (!x) return -1;
        XImage* shot =
            XGetImage(x, DefaultRootWindow(x), 0, 0, kImageWidth, kImageHeight, AllPlanes, ZPixmap);
        double sum = 0;
        for (int n = 0; shot && n < kImagePixels; ++n) {
            const unsigned long p = XGetPixel(shot, n % kImageWidth, n / kImageWidth);
            sum += (p & 0xFF) + (p >> 8 & 0xFF) + (p >> 16 & 0xFF);
        }
        if (shot) XDestroyImage(shot);
        XCloseDisplay(x);
        return sum / (3.0 * kImagePixels);
    }

    // Plays `seconds` of a loud low tone into the sink, in the background.
    Process play_loud(const TempDir& dir, double seconds) {
        write_file(dir.file("loud.wav"), tone_wav(seconds, 55.0, 0.9));
        return start_program({"/usr/bin/paplay", "-d", "out", dir.file("loud.wav")}, "/",
                             sound_env());
    }

    // Whether the screen goes loud while the tone plays, then white again after it.
    void expect_picture_follows_the_sound(const TempDir& dir) {
        ASSERT_TRUE(wait_until([&] { return screen_mean() > 250; }, kReadySeconds))
            << "silence is not white: " << screen_mean();
        Process player = play_loud(dir, 2.0);
        EXPECT_TRUE(wait_until([&] { return screen_mean() < 200; }, 3.0))
            << "the loud tone does not show";
        finish_program(player, kReadySeconds);
        EXPECT_TRUE(wait_until([&] { return screen_mean() > 250; }, 3.0))
            << "no white after the tone: " << screen_mean();
    }

    static Process xvfb, server;
    static std::string display;
    static TempDir* runtime;
};
Process Listen::xvfb, Listen::server;
std::string Listen::display;
TempDir* Listen::runtime = nullptr;

TEST_F(Listen, ThePictureFollowsWhatIsPlayedAndAStopSignalEndsIt) {
    TempDir dir;
    Process demo = start_listening({});  // the default output's monitor
    expect_picture_follows_the_sound(dir);
    kill(demo.pid, SIGTERM);
    const ProcessResult r = finish_program(demo, kReadySeconds);
    EXPECT_EQ(r.exit_code, 128 + SIGTERM) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(Listen, ASoundServerThatGoesAwayAndComesBackIsSurvived) {
    TempDir dir;
    Process demo = start_listening({"out.monitor"});
    ASSERT_TRUE(wait_until([&] { return screen_mean() > 250; }, kReadySeconds));
    stop_server();
    ASSERT_TRUE(
        wait_until([&] { return output_of(demo.err_fd).find("went away") != std::string::npos; },
                   kReadySeconds));
    EXPECT_FALSE(has_ended(demo));
    const double restarted = monotonic_seconds();
    start_server();
    ASSERT_TRUE(wait_until(
        [&] { return output_of(demo.err_fd).find("listening again") != std::string::npos; },
        kReadySeconds));
    EXPECT_LT(monotonic_seconds() - restarted, 2.0 + 1.0);  // the server's own start aside
    expect_picture_follows_the_sound(dir);
    kill(demo.pid, SIGINT);
    EXPECT_EQ(finish_program(demo, kReadySeconds).exit_code, 128 + SIGINT);
}

TEST_F(Listen, NoServerAndAnUnknownSourceSayWhatFailedAndTheWayOut) {
    const struct {
        std::vector<std::string> args, env;
        std::string says;
    } cases[] = {
        {{},
         {"PULSE_SERVER=unix:/nonexistent"},
         "starglobe: no sound server answered: is PulseAudio or PipeWire running?\n"},
        {{"no-such-source"},
         {},
         "starglobe: no sound source named 'no-such-source': `pactl list short sources` lists "
         "them\n"}};
    for (const auto& c : cases) {
        std::vector<std::string> env = sound_env();
        env.insert(env.end(), {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11"});
        env.insert(env.end(), c.env.begin(), c.env.end());
        std::vector<std::string> argv = {kDemo, "--listen"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProcessResult r = run_program(argv, "/", env);
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
