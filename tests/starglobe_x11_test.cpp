// The demo in a real X11 window under Xvfb: what the keyboard and the window manager's close
// request do, and the end card on screen.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <SDL_version.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
// sdl12-compat, SDL 1.2 on top of SDL2, numbers its releases from 1.2.50 on.
constexpr int kFirstCompatPatch = 50;
// Screen pixels may differ this much per channel from the pictures scaled by sdl12-compat.
constexpr int kScaledTolerance = 2;
constexpr int kScaledBorder = 2;  // screen pixels at the picture's edges left unchecked

// Whether the demo runs on sdl12-compat: it loads the same libSDL-1.2.so.0 as this program
// (the tests run a second time with LD_LIBRARY_PATH pointing at sdl12-compat's).
bool on_sdl12_compat() { return SDL_Linked_Version()->patch >= kFirstCompatPatch; }

void sleep_until(double t) {
    const double now = monotonic_seconds();
    if (t > now) std::this_thread::sleep_for(std::chrono::duration<double>(t - now));
}

// Asks `ready` every 50 ms until it says yes or `tries` run out.
template <typename Ready>
bool wait_until(Ready ready, int tries = kStartTries) {
    for (int i = 0; i < tries; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Starts a helper program (the X server, the window manager) with its output discarded.
pid_t spawn(const std::vector<const char*>& argv, const std::string& display = "") {
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 1);
        dup2(devnull, 2);
        if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args;
        for (const char* a : argv) args.push_back(const_cast<char*>(a));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
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
            if (access(lock_file.c_str(), F_OK) != 0) start_server(":" + std::to_string(number));
        }
        close(lock);  // releases the start lock
        ASSERT_GT(server_pid, 0) << "no Xvfb could be started (is the xvfb package installed?)";
        // sdl12-compat makes a full-screen window of the desktop's size and scales the picture
        // into it, but only a window manager gives the window that size: without one it stays
        // 400 x 300 and shows a corner of the scaled picture. Desktops have one; so does this.
        if (on_sdl12_compat()) start_window_manager();
    }

    // Starts Xvfb on display `name` and waits until it answers; leaves server_pid at -1 if not.
    static void start_server(const std::string& name) {
        const std::string geometry =
            std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
        // -noreset: the server would otherwise reset, refusing connections for a moment, each
        // time its last client leaves.
        const pid_t pid = spawn({"Xvfb", name.c_str(), "-screen", "0", geometry.c_str(),
                                 "-nolisten", "tcp", "-noreset"});
        if (pid < 0) return;
        bool gave_up = false;
        const bool answers = wait_until([&] {
            gave_up = waitpid(pid, nullptr, WNOHANG) == pid;  // the number was taken after all
            Display* probe = gave_up ? nullptr : XOpenDisplay(name.c_str());
            if (probe) XCloseDisplay(probe);
            return gave_up || probe;
        });
        if (answers && !gave_up) {
            server_pid = pid;
            display_name = name;
        } else if (!gave_up) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // Starts matchbox-window-manager on our server and waits until it has taken the screen.
    static void start_window_manager() {
        window_manager_pid =
            spawn({"matchbox-window-manager", "-use_titlebar", "no"}, display_name);
        ASSERT_GT(window_manager_pid, 0);
        Display* probe = XOpenDisplay(display_name.c_str());
        ASSERT_NE(probe, nullptr);
        const Atom check = XInternAtom(probe, "_NET_SUPPORTING_WM_CHECK", False);
        const bool running = wait_until([&] {
            Atom type;
            int format;
            unsigned long count = 0, left;
            unsigned char* value = nullptr;
            XGetWindowProperty(probe, DefaultRootWindow(probe), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &left, &value);
            if (value) XFree(value);
            return count > 0;
        });
        XCloseDisplay(probe);
        ASSERT_TRUE(running) << "matchbox-window-manager did not take the screen (installed?)";
    }

    static void TearDownTestSuite() {
        stop(window_manager_pid);
        stop(server_pid);
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
        Window found = 0;
        wait_until([&] { return (found = find_window(DefaultRootWindow(x))) != 0; }, 200);
        return found;
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
                                               double(kScreenHeight) / kImageHeight)
                                    : 1.0;
        const int reach = scaled ? 1 : 0;  // neighbouring card pixels a screen pixel may mix
        const int tolerance = scaled ? kScaledTolerance : 0;
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
                    const int got = int((p >> (8 * c)) & 0xFF);
                    int low = 255, high = 0;
                    for (int dy = 0; dy <= reach; ++dy)
                        for (int dx = 0; dx <= reach; ++dx) {
                            const int v = end_card.bgr[3 * ((y0 + dy) * kImageWidth + x0 + dx) + c];
                            low = std::min(low, v);
                            high = std::max(high, v);
                        }
                    same &= got >= low - tolerance && got <= high + tolerance;
                }
            }
        XDestroyImage(shot);
        return same;
    }

    static inline pid_t server_pid = -1;
    static inline pid_t window_manager_pid = -1;
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
