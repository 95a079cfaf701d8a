// starglobe --listen with real sound servers, each started privately, and a real window (Xvfb):
// the picture follows what is played into the sink, every way out ends it at once whatever the
// server does, a server that goes away and comes back is survived, and refusals say what to do.
// Every case runs on both servers desktops run: PulseAudio, and PipeWire with its PulseAudio
// service.
#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool, ...) would otherwise rewrite.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/picture.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

constexpr double kReadySeconds = 20.0;
// Every way out ends the demo within 100 ms; checked five times over, for a busy machine, and
// twenty times over under the sanitizers, whose leak check at the exit alone takes most of it.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kWayOutSeconds = 0.1 * 20;
#else
constexpr double kWayOutSeconds = 0.1 * 5;
#endif
constexpr double kSoundSeconds = 3.0;  // the picture answers a tone, or its end, within this

enum class WayOut { escape, ctrl_c, term, hup };
const WayOut kWaysOut[] = {WayOut::escape, WayOut::ctrl_c, WayOut::term, WayOut::hup};
const char* const kWayNames[] = {"Escape", "Ctrl-C", "TERM", "HUP"};
const int kWayStatus[] = {0, 128 + SIGINT, 128 + SIGTERM, 128 + SIGHUP};

Process xvfb;
std::string display;

// Ends a program of the test's that may have ended already (its pid then -1: never kill that).
void end(Process& p) {
    if (p.pid > 0) kill(p.pid, SIGKILL), finish_program(p, kReadySeconds);
}

// The sound servers, each private to a test: a runtime folder of its own, where clients in the
// same environment find it, and one null sink "out" whose monitor is the default source.
// - pulseaudio runs as root with a warning; --daemonize=no, no system configuration (-n), the
//   sink and the native protocol loaded on the command line, never exiting when idle.
// - PipeWire needs a session bus (dbus-daemon --session on a socket in the runtime folder),
//   then pipewire, then wireplumber (its session manager; it logs that libcamera is missing,
//   harmlessly) and pipewire-pulse (the PulseAudio protocol). Its null sink is loaded with
//   pactl, starts suspended until a stream uses it, and its defaults are float32 48 kHz.
//   pipewire-pulse is what clients talk to: freezing or ending it is the server freezing or
//   going away, and the sink, which it created, goes with it.
// Either answers `pactl info` once it serves.
struct SoundServer {
    bool pipewire = false;
    TempDir runtime;
    std::vector<Process> stack;  // pipewire and wireplumber
    Process pulse;               // pulseaudio or pipewire-pulse
    int bus_pid = -1;

    std::vector<std::string> env() const {
        return {"XDG_RUNTIME_DIR=" + runtime.path, "HOME=" + runtime.path,
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime.file("bus")};
    }
    bool pactl(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {"/usr/bin/pactl"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program(argv, "/", env(), kReadySeconds).exit_code == 0;
    }
    void start() {
        if (!pipewire) {
            pulse =
                start_program({"/usr/bin/pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                               "--use-pid-file=no", "--load=module-null-sink sink_name=out",
                               "--load=module-native-protocol-unix"},
                              "/", env());
        } else {
            if (stack.empty()) {
                bus_pid = std::atoi(
                    run_program({"/usr/bin/dbus-daemon", "--session", "--fork", "--print-pid",
                                 "--address=unix:path=" + runtime.file("bus")},
                                "/", env())
                        .out.c_str());
                stack.push_back(start_program({"/usr/bin/pipewire"}, "/", env()));
                ASSERT_TRUE(
                    wait_until([&] { return std::filesystem::exists(runtime.file("pipewire-0")); },
                               kReadySeconds));
                stack.push_back(start_program({"/usr/bin/wireplumber"}, "/", env()));
            }
            // Made here: pipewire-pulse gives up if the folder appears between its look and its
            // mkdir, as it does when the pactl polling below makes it first.
            std::filesystem::create_directories(runtime.file("pulse"));
            pulse = start_program({"/usr/bin/pipewire-pulse"}, "/", env());
        }
        ASSERT_TRUE(wait_until([&] { return pactl({"info"}); }, kReadySeconds))
            << "no sound server: " << output_of(pulse.err_fd);
        if (pipewire) {
            ASSERT_TRUE(pactl({"load-module", "module-null-sink", "sink_name=out"}));
            // PipeWire makes the sink's node a moment after the module loads.
            ASSERT_TRUE(wait_until([&] { return pactl({"set-default-sink", "out"}); },
                                   kReadySeconds))
                << "the null sink never became the default";
            // ... and its monitor a while after that, under load; a stream asked for before
            // then fails with an input/output error.
            ASSERT_TRUE(wait_until(
                [&] {
                    return run_program({"/usr/bin/pactl", "list", "short", "sources"}, "/", env(),
                                       kReadySeconds)
                               .out.find("out.monitor") != std::string::npos;
                },
                kReadySeconds))
                << "the null sink's monitor never came";
        }
    }
    void stop() { end(pulse); }
    ~SoundServer() {
        stop();
        for (Process& p : stack)
            if (p.pid > 0) kill(p.pid, SIGTERM), finish_program(p, kReadySeconds);
        if (bus_pid > 0) kill(bus_pid, SIGTERM);
    }
};

class Listen : public testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { display = start_xvfb(&xvfb); }
    static void TearDownTestSuite() {
        if (xvfb.pid > 0) kill(xvfb.pid, SIGTERM), finish_program(xvfb, kReadySeconds);
    }
    void SetUp() override {
        ASSERT_NE(display, "") << "no Xvfb could be started";
        server.pipewire = GetParam();
        server.start();
    }

    Process start_listening(const std::vector<std::string>& args, const std::string& cwd = "/") {
        std::vector<std::string> env = server.env();
        env.insert(env.end(), {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11"});
        std::vector<std::string> argv = {kDemo, "--listen"};
        argv.insert(argv.end(), args.begin(), args.end());
        return start_program(argv, cwd, env);
    }
    // Started, its window up (the screen keeps the last one's picture), and showing the white
    // of silence.
    Process listening(const std::vector<std::string>& args, const std::string& cwd = "/") {
        Process demo = start_listening(args, cwd);
        EXPECT_EQ(run_program(
                      {STARGLOBE_XDOTOOL, "search", "--sync", "--onlyvisible", "--name", "^Demo$"},
                      "/", {"DISPLAY=" + display}, kReadySeconds)
                      .exit_code,
                  0)
            << "no window: " << output_of(demo.err_fd);
        EXPECT_TRUE(wait_until(white, kReadySeconds))
            << "silence is not white: " << screen_mean() << " " << output_of(demo.err_fd);
        return demo;
    }
    bool says(const Process& demo, const std::string& line) {
        return output_of(demo.err_fd).find(line) != std::string::npos;
    }

    // The mean byte of the screen: 255 for the white frames of silence, far less for the
    // noise and the inverted stars of loud sound; -1 before the demo's window is there.
    static double screen_mean() {
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
    static bool white() { return screen_mean() > 250; }
    static bool loud() {
        const double mean = screen_mean();
        return mean >= 0 && mean < 200;
    }

    // Plays `seconds` of a loud low tone into the sink, in the background.
    Process play_loud(double seconds) {
        write_file(files.file("loud.wav"), tone_wav(seconds, 55.0, 0.9));
        return start_program({"/usr/bin/paplay", "-d", "out", files.file("loud.wav")}, "/",
                             server.env());
    }

    // Takes the way out and expects the demo to end by it within the budget.
    void leave(Process& demo, WayOut way, const std::string& when) {
        double sent = monotonic_seconds();
        if (way == WayOut::escape) {  // from the key's arrival at the X server
            run_program({STARGLOBE_XDOTOOL, "key", "Escape"}, "/", {"DISPLAY=" + display});
            sent = monotonic_seconds();
        } else {
            kill(demo.pid, way == WayOut::ctrl_c ? SIGINT : way == WayOut::term ? SIGTERM : SIGHUP);
        }
        const ProcessResult r = finish_program(demo, kReadySeconds);
        const double took = monotonic_seconds() - sent;
        const auto i = static_cast<size_t>(way);
        EXPECT_EQ(r.exit_code, kWayStatus[i]) << kWayNames[i] << " " << when << ": " << r.err;
        EXPECT_LT(took, kWayOutSeconds) << kWayNames[i] << " " << when << " took " << took << " s";
    }

    SoundServer server;
    TempDir files;
};

TEST_P(Listen, ThePictureFollowsBurstsAndEveryWayOutEndsItWhilePlaying) {
    // The word after --listen is the source even where a file has that name.
    write_file(files.file("out.monitor"), {});
    for (const WayOut way : kWaysOut) {
        Process demo = listening({"out.monitor"}, files.path);
        EXPECT_TRUE(says(demo, "starglobe: listening to '"));
        EXPECT_TRUE(says(demo, "; the picture answers sound and stays white while all is silent"));
        Process player = play_loud(way == WayOut::escape ? 1.0 : kReadySeconds);
        EXPECT_TRUE(wait_until(loud, kSoundSeconds)) << "the tone does not show: " << screen_mean();
        if (way == WayOut::escape) {  // the burst's end shows too
            finish_program(player, kReadySeconds);
            EXPECT_TRUE(wait_until(white, kSoundSeconds)) << "no white after: " << screen_mean();
        }
        leave(demo, way, "while playing");
        end(player);
    }
}

// A suspended source and a frozen server hand over no sound at all: the picture goes white,
// and nothing of the demo waits for them.
TEST_P(Listen, EveryWayOutEndsItWhileTheSinkIsSuspendedOrTheServerFrozen) {
    for (const bool frozen : {false, true}) {
        for (const WayOut way : kWaysOut) {
            const std::string when = frozen ? "with the server frozen" : "with the sink suspended";
            Process demo = listening({});
            // Once, sound that stops: the picture goes white.
            Process player = way == WayOut::escape ? play_loud(kReadySeconds) : Process{};
            if (player.pid > 0) {
                ASSERT_TRUE(wait_until(loud, kReadySeconds)) << when << ": " << screen_mean();
            }
            const bool suspended =
                frozen ? server.pulse.pid > 0 && kill(server.pulse.pid, SIGSTOP) == 0
                       : server.pactl({"suspend-sink", "out", "1"});
            ASSERT_TRUE(suspended) << when;
            if (player.pid > 0) {
                EXPECT_TRUE(wait_until(white, kSoundSeconds)) << when << ": " << screen_mean();
            }
            leave(demo, way, when);
            if (frozen && server.pulse.pid > 0) kill(server.pulse.pid, SIGCONT);
            EXPECT_TRUE(frozen || server.pactl({"suspend-sink", "out", "0"})) << when;
            end(player);
        }
    }
}

TEST_P(Listen, ASoundServerThatGoesAwayAndComesBackIsSurvived) {
    Process demo = listening({});
    Process player = play_loud(kReadySeconds);
    ASSERT_TRUE(wait_until(loud, kReadySeconds)) << screen_mean();
    server.stop();  // the player goes with it
    EXPECT_TRUE(wait_until(white, kSoundSeconds)) << "gone, but not silence: " << screen_mean();
    EXPECT_TRUE(wait_until([&] { return says(demo, "went away"); }, kReadySeconds));
    finish_program(player);
    EXPECT_FALSE(has_ended(demo));
    const double restarted = monotonic_seconds();
    server.start();
    ASSERT_TRUE(wait_until([&] { return says(demo, "listening again"); }, kReadySeconds));
    EXPECT_LT(monotonic_seconds() - restarted, 2.0 + 1.0);  // the server's own start aside
    player = play_loud(1.0);
    EXPECT_TRUE(wait_until(loud, kSoundSeconds)) << "the tone does not show: " << screen_mean();
    finish_program(player, kReadySeconds);
    EXPECT_TRUE(wait_until(white, kSoundSeconds)) << "no white after: " << screen_mean();
    server.stop();
    leave(demo, WayOut::term, "with the server gone");
}

TEST_P(Listen, EveryRefusedSourceSaysItsNameSafelyAndHowToListThem) {
    const std::string list = "': `pactl list short sources` lists them\n";
    const struct {
        std::string name, says;
    } cases[] = {
        {"nope", "'nope" + list},
        {"\xc3\xbc", "'\xc3\xbc" + list},
        {"a\nb\x01", "'a'$'\\n''b'$'\\001" + list},
        {"=", "'=" + list},
        {"@DEFAULT_SINK@", "'@DEFAULT_SINK@" + list},
        {std::string(100000, 'x'), "'" + std::string(24, 'x') + "..." + std::string(24, 'x') +
                                       "' (100000 bytes): `pactl list short sources` lists them\n"},
    };
    for (const auto& c : cases) {
        Process demo = start_listening({c.name});
        const ProcessResult r = finish_program(demo, kReadySeconds);
        EXPECT_EQ(r.exit_code, 255) << c.says;
        EXPECT_EQ(r.err, "starglobe: no sound source named " + c.says);
        EXPECT_EQ(r.out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, Listen, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PipeWire" : "PulseAudio"; });

// A server that takes the connection and never answers (here a socket nobody reads): every
// way out still works while connecting, and after a few seconds one line names the server.
TEST(ListenConnecting, IsBoundedAndEveryWayOutWorksMeanwhile) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 16), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string server = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const std::vector<std::string> env = {"PULSE_SERVER=" + server, "SDL_VIDEODRIVER=dummy"};
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        Process demo = start_program({kDemo, "--listen"}, "/", env);
        // Connecting: the client's thread is running.
        ASSERT_TRUE(wait_until(
            [&] {
                std::error_code gone;
                return std::distance(std::filesystem::directory_iterator(
                                         "/proc/" + std::to_string(demo.pid) + "/task", gone),
                                     std::filesystem::directory_iterator()) > 1;
            },
            kReadySeconds));
        const double sent = monotonic_seconds();
        kill(demo.pid, signal);
        const ProcessResult r = finish_program(demo, kReadySeconds);
        EXPECT_EQ(r.exit_code, 128 + signal) << r.err;
        EXPECT_LT(monotonic_seconds() - sent, kWayOutSeconds) << "signal " << signal;
    }
    const ProcessResult r = run_program({kDemo, "--listen"}, "/", env, kReadySeconds);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.err, "starglobe: the sound server at " + server +
                         " did not answer within 5 s: is it stalled or busy? (PULSE_SERVER names "
                         "another)\n");
    EXPECT_LT(r.seconds, 5.0 + 3.0);
    close(listener);
    const ProcessResult none = run_program(
        {kDemo, "--listen"}, "/", {"PULSE_SERVER=unix:/nonexistent", "SDL_VIDEODRIVER=dummy"});
    EXPECT_EQ(none.exit_code, 255);
    EXPECT_EQ(none.err,
              "starglobe: no sound server answered at unix:/nonexistent: is PulseAudio "
              "or PipeWire running? (PULSE_SERVER names another)\n");
}

}  // namespace
