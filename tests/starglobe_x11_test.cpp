// The demo in a real X11 window under Xvfb: what the keyboard and the window manager's close
// request do, and the end card on screen.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "support/test_support.h"
#include "visuals/image_bank.h"

using namespace test_support;

namespace {

const std::string kDemo = kBuildDir + "/starglobe";
const char* const kCaption = "Demo";
constexpr int kScreenWidth = 640;   // the virtual display; the demo is centred in it
constexpr int kScreenHeight = 480;

void sleep_until(double t) {
    const double now = monotonic_seconds();
    if (t > now) std::this_thread::sleep_for(std::chrono::duration<double>(t - now));
}

// An Xvfb server of our own for the whole suite, on a display number it picks itself.
class X11Demo : public testing::Test {
protected:
    static void SetUpTestSuite() {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        server_pid = fork();
        ASSERT_GE(server_pid, 0);
        if (server_pid == 0) {
            close(fds[0]);
            const int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 1);
            dup2(devnull, 2);
            const std::string fd = std::to_string(fds[1]);
            const std::string geometry =
                std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry.c_str(),
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        const ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        ASSERT_GT(n, 0) << "Xvfb did not start (is the xvfb package installed?)";
        number[strcspn(number, "\n")] = '\0';
        display_name = std::string(":") + number;
    }

    static void TearDownTestSuite() {
        if (server_pid > 0) {
            kill(server_pid, SIGTERM);
            waitpid(server_pid, nullptr, 0);
        }
    }

    void SetUp() override {
        x = XOpenDisplay(display_name.c_str());
        ASSERT_NE(x, nullptr);
    }
    void TearDown() override {
        if (x) XCloseDisplay(x);
    }

    std::vector<std::string> env() const {
        return {"DISPLAY=" + display_name, "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy"};
    }

    Process start_demo(const TempDir& dir, double music_seconds) {
        write_file(dir.file("tessaloon.wav"), tone_wav(music_seconds));
        return start_program({kDemo}, dir.path, env());
    }

    void key(const char* name) {
        const ProcessResult r = run_program({"/usr/bin/xdotool", "key", name}, "/", env(), 10.0);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }

    // The demo's window, found by its caption; 0 if it is not there.
    Window find_window(Window under) {
        char* name = nullptr;
        if (XFetchName(x, under, &name) && name) {
            const bool match = std::strcmp(name, kCaption) == 0;
            XFree(name);
            if (match) return under;
        }
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(x, under, &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count && !found; ++i) found = find_window(children[i]);
            if (children) XFree(children);
        }
        return found;
    }

    Window wait_for_window() {
        const double give_up = monotonic_seconds() + 10.0;
        while (monotonic_seconds() < give_up) {
            if (Window w = find_window(DefaultRootWindow(x))) return w;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

    // What a window manager sends when the user clicks the close button.
    void request_close(Window w) {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, w, False, NoEventMask, &ev);
        XFlush(x);
    }

    // Whether the screen shows the end card, wherever the demo placed it.
    bool screen_shows_end_card() {
        XImage* shot = XGetImage(x, DefaultRootWindow(x), 0, 0, kScreenWidth, kScreenHeight,
                                 AllPlanes, ZPixmap);
        if (!shot) return false;
        const int left = (kScreenWidth - kImageWidth) / 2, top = (kScreenHeight - kImageHeight) / 2;
        bool same = true;
        for (int yy = 0; yy < kImageHeight && same; ++yy)
            for (int xx = 0; xx < kImageWidth && same; ++xx) {
                const unsigned long p = XGetPixel(shot, left + xx, top + yy);
                const uint8_t* card = &end_card.bgr[3 * (yy * kImageWidth + xx)];
                same = (p & 0xFF) == card[0] && ((p >> 8) & 0xFF) == card[1] &&
                       ((p >> 16) & 0xFF) == card[2];
            }
        XDestroyImage(shot);
        return same;
    }

    static inline pid_t server_pid = -1;
    static inline std::string display_name;
    Display* x = nullptr;
};

}  // namespace

TEST_F(X11Demo, EscapeDuringTheMusicEndsTheRunAtOnce) {
    TempDir dir;
    Process demo = start_demo(dir, 8.0);
    ASSERT_NE(wait_for_window(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    key("Escape");
    const ProcessResult r = finish_program(demo, 30.0);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_LT(r.seconds, 6.0) << "neither the rest of the music nor the end card may follow";
}

TEST_F(X11Demo, OtherKeysCloseRequestsAndLateEscapesChangeNothing) {
    TempDir dir;
    Process demo = start_demo(dir, 2.0);
    const Window w = wait_for_window();
    ASSERT_NE(w, 0u);
    key("a");
    key("space");
    request_close(w);
    // Well into the end card: the music has ended, the card shows, and Escape is not heard.
    sleep_until(demo.started + 5.0);
    EXPECT_TRUE(screen_shows_end_card());
    key("Escape");
    const ProcessResult r = finish_program(demo, 30.0);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_GE(r.seconds, 2.0 + 10.0 - 0.2) << "the music and the whole end card play out";
}
