// The demo in a real X11 window under an Xvfb of the suite's own: what the keyboard and the
// window manager's close request do, and the end card on screen.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <SDL_version.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/test_support.h"
#include "visuals/image_bank.h"

using namespace test_support;

namespace {

const char* const kCaption = "Demo";
constexpr int kScreenWidth = 640, kScreenHeight = 480;  // the demo is centred in it
constexpr double kReadySeconds = 20.0;  // the longest a server or the demo may take to show
// sdl12-compat, SDL 1.2 on top of SDL2, numbers its releases from 1.2.50 on.
constexpr int kFirstCompatPatch = 50;
// Screen pixels may differ this much per channel from the pictures scaled by sdl12-compat,
// and that many at the picture's edges are left unchecked.
constexpr int kScaledTolerance = 2, kScaledBorder = 2;

// Whether the demo runs on sdl12-compat: it loads the same libSDL-1.2.so.0 as this program
// (the tests run a second time with LD_LIBRARY_PATH pointing at sdl12-compat's).
bool on_sdl12_compat() { return SDL_Linked_Version()->patch >= kFirstCompatPatch; }

Process server, window_manager;
std::string display_name;

void stop(Process& p) {
    if (p.pid <= 0) return;
    kill(p.pid, SIGTERM);
    finish_program(p, kReadySeconds);
}

class X11Demo : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Xvfb picks a free display number and writes it once it takes connections.
        server = start_program({STARGLOBE_XVFB, "-displayfd", "1", "-screen", "0", "640x480x24",
                                "-nolisten", "tcp", "-noreset"}, "/");
        std::string number;
        wait_until([&] {
            pollfd p{server.out_fd, POLLIN, 0};
            char c = 0;
            while (poll(&p, 1, 0) > 0 && read(server.out_fd, &c, 1) == 1 && c != '\n') number += c;
            return c == '\n';
        }, kReadySeconds);
        ASSERT_FALSE(number.empty()) << "no Xvfb could be started (is the xvfb package installed?)";
        display_name = ":" + number;
        // sdl12-compat makes a full-screen window of the desktop's size and scales the picture
        // into it, but only a window manager gives the window that size: without one it stays
        // 400 x 300 and shows a corner of the scaled picture. Desktops have one; so does this.
        if (!on_sdl12_compat()) return;
        window_manager = start_program({STARGLOBE_MATCHBOX_WINDOW_MANAGER, "-use_titlebar", "no"},
                                       "/", {"DISPLAY=" + display_name});
        Display* probe = XOpenDisplay(display_name.c_str());
        ASSERT_NE(probe, nullptr);
        const Atom check = XInternAtom(probe, "_NET_SUPPORTING_WM_CHECK", False);
        EXPECT_TRUE(wait_until([&] {
            Atom type;
            int format;
            unsigned long count = 0, left;
            unsigned char* value = nullptr;
            XGetWindowProperty(probe, DefaultRootWindow(probe), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &left, &value);
            if (value) XFree(value);
            return count > 0;
        }, kReadySeconds)) << "matchbox-window-manager did not take the screen (installed?)";
        XCloseDisplay(probe);
    }
    static void TearDownTestSuite() {
        stop(window_manager);
        stop(server);
    }

    void SetUp() override {
        // Windows come and go while we walk the tree (the window manager's, SDL's own): a
        // request about one that just vanished is no reason for Xlib to end the test program.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        x = XOpenDisplay(display_name.c_str());
        ASSERT_NE(x, nullptr) << "cannot reach Xvfb on " << display_name;
    }
    void TearDown() override {
        if (x) XCloseDisplay(x);
    }

    std::vector<std::string> env() const {
        return {"DISPLAY=" + display_name, "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy"};
    }

    // Starts the demo on `music_seconds` of music and waits for its window on screen.
    Process start_demo(const TempDir& dir, double music_seconds) {
        write_file(dir.file("tessaloon.wav"), tone_wav(music_seconds));
        Process demo = start_program({kDemo}, dir.path, env());
        EXPECT_TRUE(wait_until([&] { return (window = find_window(DefaultRootWindow(x))); },
                               kReadySeconds)) << "no viewable window captioned " << kCaption;
        return demo;
    }

    void key(const char* name) {
        const ProcessResult r = run_program({STARGLOBE_XDOTOOL, "key", name}, "/", env(), 10.0);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }

    // The demo's window, viewable and found by its caption; 0 if it is not there.
    Window find_window(Window under) {
        char* name = nullptr;
        XWindowAttributes a;
        if (XFetchName(x, under, &name) && name) {
            const bool match = std::strcmp(name, kCaption) == 0;
            XFree(name);
            if (match && XGetWindowAttributes(x, under, &a) && a.map_state == IsViewable) return under;
        }
        Window root, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        if (XQueryTree(x, under, &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count && !found; ++i) found = find_window(children[i]);
            if (children) XFree(children);
        }
        return found;
    }

    // What a window manager sends when the user clicks the close button.
    void request_close() {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = window;
        ev.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, window, False, NoEventMask, &ev);
        XFlush(x);
    }

    // Whether the screen shows the end card. Classic SDL 1.2 centres the picture pixel for
    // pixel. sdl12-compat scales it to fill the screen, keeping its shape, and centres it: each
    // screen pixel then lies between the card's pixels around the place it maps to, whether it
    // was scaled to the nearest pixel or by blending.
    bool screen_shows_end_card() {
        XImage* shot = XGetImage(x, DefaultRootWindow(x), 0, 0, kScreenWidth, kScreenHeight,
                                 AllPlanes, ZPixmap);
        if (!shot) return false;
        const bool scaled = on_sdl12_compat();
        const double scale = scaled ? std::min(double(kScreenWidth) / kImageWidth,
                                               double(kScreenHeight) / kImageHeight) : 1.0;
        const int reach = scaled, tolerance = scaled ? kScaledTolerance : 0;
        const int border = scaled ? kScaledBorder : 0;
        const int width = int(kImageWidth * scale), height = int(kImageHeight * scale);
        const int left = (kScreenWidth - width) / 2, top = (kScreenHeight - height) / 2;
        bool same = true;
        for (int sy = border; sy < height - border && same; ++sy)
            for (int sx = border; sx < width - border && same; ++sx) {
                const unsigned long p = XGetPixel(shot, left + sx, top + sy);
                const int x0 = std::clamp(int((sx + 0.5) / scale - 0.5), 0, kImageWidth - 1 - reach);
                const int y0 = std::clamp(int((sy + 0.5) / scale - 0.5), 0, kImageHeight - 1 - reach);
                for (int c = 0; c < 3; ++c) {
                    int low = 255, high = 0;
                    for (int dy = 0; dy <= reach; ++dy)
                        for (int dx = 0; dx <= reach; ++dx) {
                            const int v = end_card.bgr[3 * ((y0 + dy) * kImageWidth + x0 + dx) + c];
                            low = std::min(low, v), high = std::max(high, v);
                        }
                    const int got = int((p >> (8 * c)) & 0xFF);
                    same &= got >= low - tolerance && got <= high + tolerance;
                }
            }
        XDestroyImage(shot);
        return same;
    }

    Display* x = nullptr;
    Window window = 0;
};

}  // namespace

TEST_F(X11Demo, EscapeDuringTheMusicEndsTheRunAtOnce) {
    TempDir dir;
    Process demo = start_demo(dir, 8.0);
    // Until the keyboard is the demo's, a key may go elsewhere: press until it ends.
    wait_until([&] {
        key("Escape");
        return has_ended(demo);
    }, 5.0);
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
