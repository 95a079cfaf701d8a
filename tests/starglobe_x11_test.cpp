// The demo in a real X11 window under Xvfb: what the keyboard and the window manager's close
// request do, and the end card on screen.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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
// Display numbers to try; xvfb-run starts at 99, so ours stay below it.
constexpr int kFirstDisplay = 20;
constexpr int kLastDisplay = 98;
constexpr int kStartTries = 100;  // 50 ms apart

void sleep_until(double t) {
    const double now = monotonic_seconds();
    if (t > now) std::this_thread::sleep_for(std::chrono::duration<double>(t - now));
}

// An Xvfb server of our own for the whole suite. Test programs start theirs one at a time, on
// the first display number with no server, each waiting until its server answers.
class X11Demo : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const int lock = open("/tmp/starglobe-xvfb-start.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        ASSERT_GE(lock, 0);
        ASSERT_EQ(flock(lock, LOCK_EX), 0);
        for (int number = kFirstDisplay; number <= kLastDisplay && server_pid < 0; ++number) {
            const std::string lock_file = "/tmp/.X" + std::to_string(number) + "-lock";
            if (access(lock_file.c_str(), F_OK) == 0) continue;  // taken
            start_server(number);
        }
        close(lock);  // releases the start lock
        ASSERT_GT(server_pid, 0) << "no Xvfb could be started (is the xvfb package installed?)";
    }

    // Starts Xvfb on `number` and waits until it answers; leaves server_pid at -1 if it did not.
    static void start_server(int number) {
        const std::string name = ":" + std::to_string(number);
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 1);
            dup2(devnull, 2);
            const std::string geometry =
                std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
            // -noreset: the server would otherwise reset, refusing connections for a moment,
            // each time its last client leaves.
            execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", geometry.c_str(), "-nolisten",
                   "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) return;
        for (int tries = 0; tries < kStartTries; ++tries) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return;  // it gave up
            if (Display* probe = XOpenDisplay(name.c_str())) {
                XCloseDisplay(probe);
                server_pid = pid;
                display_name = name;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    static void TearDownTestSuite() {
        if (server_pid > 0) {
            kill(server_pid, SIGTERM);
            waitpid(server_pid, nullptr, 0);
        }
    }

    void SetUp() override {
        x = XOpenDisplay(display_name.c_str());
        ASSERT_NE(x, nullptr) << "cannot reach Xvfb on " << display_name;
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
