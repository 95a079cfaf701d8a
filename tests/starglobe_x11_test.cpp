// The demo in a real X11 window under an Xvfb of the suite's own: what the keyboard and a
// window manager's close request do, and the end card on screen.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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
    // exact caption, is on screen.
    Process start_demo(const TempDir& dir, double music_seconds) {
        write_file(dir.file("tessaloon.wav"), tone_wav(music_seconds));
        Process demo = start_program({kDemo}, dir.path, env);
        std::string seen;
        window = wait_for_window(demo, &seen);
        EXPECT_NE(window, 0u) << "no viewable window captioned '" << kCaption << "' after "
                              << monotonic_seconds() - demo.started << " s; windows seen: " << seen
                              << "; the demo " << (has_ended(demo) ? "ended" : "runs")
                              << ", its output: " << output_of(demo.out_fd)
                              << output_of(demo.err_fd);
        return demo;
    }

    // The window, woken by the server's news of windows made, mapped or renamed rather than by
    // a clock; 0 when the demo ends first or after kReadySeconds. `seen` lists what was there.
    Window wait_for_window(const Process& demo, std::string* seen) {
        // A window may vanish while it is looked at; Xlib's default would end the test.
        XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        const double end = monotonic_seconds() + kReadySeconds;
        Window found = 0;
        while (!(found = find_window(DefaultRootWindow(x), seen)) && !has_ended(demo)) {
            const double left = end - monotonic_seconds();
            if (left <= 0) break;
            // Whether the demo is still there is asked at least every tenth of a second.
            pollfd news = {ConnectionNumber(x), POLLIN, 0};
            if (!XPending(x)) poll(&news, 1, static_cast<int>(std::min(left, 0.1) * 1000) + 1);
            for (XEvent ev; XPending(x);) XNextEvent(x, &ev);
        }
        XSync(x, False);
        XSetErrorHandler(previous);
        return found;
    }

    // A viewable window under `w` whose every name (WM_NAME, _NET_WM_NAME) is kCaption, or 0.
    // Asks the server to report what changes there from now on; adds the names met to `seen`.
    Window find_window(Window w, std::string* seen) {
        if (w == DefaultRootWindow(x)) seen->clear();
        XSelectInput(x, w, SubstructureNotifyMask | PropertyChangeMask);
        std::vector<std::string> names;
        if (char* name = nullptr; XFetchName(x, w, &name) && name)
            names.push_back(name), XFree(name);
        XTextProperty text{};
        if (XGetTextProperty(x, w, &text, XInternAtom(x, "_NET_WM_NAME", False)) && text.value) {
            names.emplace_back(reinterpret_cast<const char*>(text.value), text.nitems);
            XFree(text.value);
        }
        XWindowAttributes attributes{};
        const bool viewable =
            XGetWindowAttributes(x, w, &attributes) && attributes.map_state == IsViewable;
        for (const std::string& name : names) *seen += "'" + name + "' ";
        if (!names.empty()) *seen += viewable ? "(viewable); " : "(not viewable); ";
        if (viewable && !names.empty() &&
            std::all_of(names.begin(), names.end(), [](auto& n) { return n == kCaption; }))
            return w;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(x, w, &root, &parent, &children, &count)) return 0;
        Window found = 0;
        for (unsigned i = 0; i < count && !found; ++i) found = find_window(children[i], seen);
        if (children) XFree(children);
        return found;
    }

    void key(const char* name) {
        const ProcessResult r =
            run_program({STARGLOBE_XDOTOOL, "key", name}, "/", env, kReadySeconds);
        EXPECT_EQ(r.exit_code, 0) << "xdotool key " << name << ": " << r.out << r.err;
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
    const double music_seconds = 2 * kReadySeconds;  // far longer than pressing Escape takes
    Process demo = start_demo(dir, music_seconds);
    // Until the keyboard is the demo's, a key may go elsewhere: press until it ends.
    const bool ended = wait_until([&] { return key("Escape"), has_ended(demo); }, kReadySeconds);
    const ProcessResult r = finish_program(demo, 0.0);  // ends it now if Escape did not
    EXPECT_TRUE(ended) << "still running " << kReadySeconds << " s after the first Escape, "
                       << "while the music lasts " << music_seconds << " s: " << r.out << r.err;
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
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
    const ProcessResult r = finish_program(demo, 2.0 + 10.0 + 3 * kReadySeconds);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_GE(r.seconds, 2.0 + 10.0 - 0.2) << "the music and the whole end card play out";
}
