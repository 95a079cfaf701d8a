#include "driver/command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "audio/convert.h"
#include "common/build_info.h"
#include "common/quoting.h"
#include "common/stop_flag.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "common/wording.h"
#include "frame/flash_measure.h"

namespace {

constexpr const char* kX11Driver = "x11";
constexpr const char* kX11SocketFolder = "/tmp/.X11-unix/X";  // a local display's socket: + N

// The display number of a local DISPLAY (":0", ":1.0", "unix:0"), or -1 for a remote one.
int local_display_number(const std::string& display) {
    std::string rest = display;
    if (rest.rfind("unix:", 0) == 0) rest = rest.substr(4);
    if (rest.empty() || rest[0] != ':' || rest.size() < 2 || rest[1] < '0' || rest[1] > '9')
        return -1;
    return std::atoi(rest.c_str() + 1);
}

}  // namespace

std::string flash_warning() {
    return "WARNING: " STARGLOBE_FLASH_WARNING " Use --gentle whenever in doubt.";
}

Outcome parse_demo_command(int argc, const char* const* argv, const char* soundtrack,
                           DemoCommand* command) {
    bool have_file = false, options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_ended = true;
            } else if (arg == "--help" || arg == "-h") {
                command->help = true;
                return {};
            } else if (arg == "--version") {
                command->version = true;
                return {};
            } else if (arg == "--gentle") {
                command->gentle = true;
            } else if (arg == "--listen") {
                if (command->listen) return failed("--listen is given twice");
                command->listen = true;
                // An optional SOURCE: the next argument unless it is an option, even when a
                // file has that name.
                if (i + 1 < argc && argv[i + 1][0] != '-') command->source = argv[++i];
            } else if (arg.rfind("--listen=", 0) == 0) {
                if (command->listen) return failed("--listen is given twice");
                command->listen = true;
                command->source = std::string(arg.substr(9));
            } else {
                return failed("unknown option " + quoted(arg));
            }
            continue;
        }
        if (have_file) return failed("only one FILE can be played at a time");
        command->file = std::string(arg);
        have_file = true;
    }
    if (command->listen && have_file)
        return failed("--listen plays no FILE; give one or the other");
    if (!command->listen && !have_file) {
        if (soundtrack && *soundtrack) {
            command->file = soundtrack;
        } else {
            command->plain_demo = argc == 0 || (argc == 1 && command->gentle);
            if (!command->plain_demo) command->file = STARGLOBE_SOUNDTRACK_NAME;
        }
    }
    return {};
}

// A synopsis; starglobe(6) holds the long form. Every limit and status is its constant's.
std::string demo_usage() {
    using std::to_string;
    const std::string about =
        "Plays the starglobe demo full screen with its soundtrack, the music in FILE, or "
        "following what the computer plays. Escape quits; after the music, a closing card "
        "shows for " +
        in_words(static_cast<int64_t>(kEndCardMs / kMsPerSecond)) + " seconds.";
    const std::string statuses = "Exit status: 0 done or Escape, " + to_string(kExitFailure) +
                                 " FILE unreadable or no display, " + to_string(kExitUsage) +
                                 " usage error, " + to_string(kExitCannotStart) +
                                 " the demo could not start, " + to_string(kExitBySignalBase) +
                                 " + N stopped by signal N.";
    // clang-format off
    return "Usage: starglobe [--gentle] [FILE]\n"
           "       starglobe [--gentle] --listen [SOURCE]\n"
           "       starglobe --help | --version\n" +
           wrapped(about, kTextColumns) + "\n\n" +
           wrapped(flash_warning(), kTextColumns) + "\n\n" +
           "  FILE               any music ffmpeg reads, of at most " +
                                 hours_and_minutes(kWavMaxSeconds) + "\n" +
           "  --gentle           the gentle picture: at most " +
                                 in_words(kMaxFlashesPerSecond) + " flashes a second\n" +
           "  --listen [SOURCE]  follow what the computer plays, or the source named SOURCE\n"
           "  --help, -h         show this text and exit\n"
           "  --version          show the version and exit\n"
           "  --                 end of options: the next argument is FILE\n"
           "\n" +
           wrapped(statuses, kTextColumns) + "\n" +
           "See starglobe(6).\n";
    // clang-format on
}

Outcome choose_video_driver(bool plain_demo) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && *driver) return {};
    const char* display = std::getenv("DISPLAY");
    setenv("SDL_VIDEODRIVER", kX11Driver, 1);
    if (plain_demo) return {};
    if (!display || !*display)
        return failed(
            "no X display: starglobe needs an X server (or XWayland, under Wayland) and DISPLAY "
            "naming it; without a screen, run it with SDL_VIDEODRIVER=dummy");
    const int number = local_display_number(display);
    struct stat st;
    if (number >= 0 && stat((kX11SocketFolder + std::to_string(number)).c_str(), &st) != 0)
        return failed(std::string("no X server answers on DISPLAY=") + display +
                      ": start one, or unset DISPLAY in a terminal without a desktop");
    return {};
}
