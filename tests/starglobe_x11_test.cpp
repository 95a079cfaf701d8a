// The demo in a real X11 window under an Xvfb of the suite's own: what the keyboard and a
// window manager's close request do, and the end card on screen.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "support/test_support.h"
#include "visuals/image_bank.h"

using namespace test_support;

namespace {

const char* const kCaption = "Demo";
constexpr double kReadySeconds = 20.0;  // the longest a server or the demo may take to show
Process server;
std::string display_name;

class X11Demo : public testing::Test {
protected:
    static void SetUpTestSuite() {
        display_name = start_xvfb(&server);
        ASSERT_NE(display_name, "") << "no Xvfb could be started (is the xvfb package installed?)";
    }
    static void TearDownTestSuite() {
        if (server.pid > 0) kill(server.pid, SIGTERM), finish_program(server, kReadySeconds);
    }

    void SetUp() override {
        x = XOpenDisplay(display_name.c_str());
        ASSERT_NE(x, nullptr) << "cannot reach Xvfb on " << display_name;
    }
    void TearDown() override {
        if (x) XCloseDisplay(x);
    }

    // Starts the demo on `music_seconds` of music and waits until its window, found by its
    // caption, is on screen.
    Process start_demo(const TempDir& dir, double music_seconds) {
        write_file(dir.file("tessaloon.wav"), tone_wav(music_seconds));
        Process demo = start_program({kDemo}, dir.path, env);
        const ProcessResult found =
            run_program({STARGLOBE_XDOTOOL, "search", "--sync", "--onlyvisible", "--name",
                         std::string("^") + kCaption + "$"},
                        "/", env, kReadySeconds);
        window = std::strtoul(found.out.c_str(), nullptr, 10);
        EXPECT_NE(window, 0u) << "no viewable window captioned " << kCaption;
        return demo;
    }

    void key(const char* name) {
        EXPECT_EQ(run_program({STARGLOBE_XDOTOOL, "key", name}, "/", env, kReadySeconds).exit_code,
                  0);
    }

    // What a window manager sends when the user clicks the close button.
    void request_close() {
        XEvent ev{};
        ev.xclient = {
            ClientMessage, 0, True, x, window, XInternAtom(x, "WM_PROTOCOLS", False), 32, {}};
        ev.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
        XSendEvent(x, window, False, NoEventMask, &ev);
        XFlush(x);
    }

    // Whether the screen shows the end card. It is the picture's size: SDL 1.2 fills it
    // pixel for pixel, and sdl12-compat, which scales to the screen, scales by one.
    bool screen_shows_end_card() {
        XImage* shot =
            XGetImage(x, DefaultRootWindow(x), 0, 0, kImageWidth, kImageHeight, AllPlanes, ZPixmap);
        bool same = shot != nullptr;
        for (int n = 0; n < kImagePixels && same; ++n) {
            const unsigned long p = XGetPixel(shot, n % kImageWidth, n / kImageWidth);
            for (int c = 0; c < 3; ++c) same &= ((p >> (8 * c)) & 0xFF) == end_card.bgr[3 * n + c];
        }
        if (shot) XDestroyImage(shot);
        return same;
    }

    Display* x = nullptr;
    Window window = 0;
    const std::vector<std::string> env = {"DISPLAY=" + display_name, "SDL_VIDEODRIVER=x11",
                                          "SDL_AUDIODRIVER=dummy"};
};

}  // namespace

TEST_F(X11Demo, EscapeDuringTheMusicEndsTheRunAtOnce) {
    TempDir dir;
    Process demo = start_demo(dir, 8.0);
    // Until the keyboard is the demo's, a key may go elsewhere: press until it ends.
    wait_until([&] { return key("Escape"), has_ended(demo); }, 5.0);
    const ProcessResult r = finish_program(demo, 30.0);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_LT(r.seconds, 6.0) << "neither the rest of the music nor the end card may follow";
}

TEST_F(X11Demo, OtherKeysCloseRequestsAndLateEscapesChangeNothing) {
    TempDir dir;
    Process demo = start_demo(dir, 2.0);
    key("a");
    key("space");
    request_close();
    // The music ends, the card shows, and Escape is not heard there.
    EXPECT_TRUE(wait_until([&] { return screen_shows_end_card(); }, kReadySeconds));
    key("Escape");
    const ProcessResult r = finish_program(demo, 30.0);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_GE(r.seconds, 2.0 + 10.0 - 0.2) << "the music and the whole end card play out";
}
