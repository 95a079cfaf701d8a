#include "driver/command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "audio/convert.h"
#include "common/build_info.h"
#include "common/quoting.h"
#include "common/wav_format.h"

namespace {

constexpr size_t kUsageColumns = 82;  // as wide as the hand-laid lines of --help
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

// Words laid out in lines of at most `width` columns, each ending in a newline.
std::string wrapped(std::string_view text, size_t width) {
    std::string lines, line;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find(' ', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > width) lines += line + "\n", line = "";
        line += (line.empty() ? "" : " ") + std::string(word);
    }
    return line.empty() ? lines : lines + line + "\n";
}

}  // namespace

std::string flash_warning() {
    return "WARNING: starglobe contains fast flashing lights and patterns, which can trigger "
           "seizures in people with photosensitive epilepsy. --gentle slows the picture down "
           "and holds still what would flash more than three times a second; use it "
           "whenever in doubt.";
}

std::string parse_demo_command(int argc, const char* const* argv, const char* soundtrack,
                               DemoCommand* command) {
    bool have_file = false, options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_ended = true;
            } else if (arg == "--help" || arg == "-h") {
                command->help = true;
                return "";
            } else if (arg == "--version") {
                command->version = true;
                return "";
            } else if (arg == "--gentle") {
                command->gentle = true;
            } else if (arg == "--listen") {
                if (command->listen) return "--listen is given twice";
                command->listen = true;
                // An optional SOURCE: the next argument unless it is an option, even when a
                // file has that name.
                if (i + 1 < argc && argv[i + 1][0] != '-') command->source = argv[++i];
            } else if (arg.rfind("--listen=", 0) == 0) {
                if (command->listen) return "--listen is given twice";
                command->listen = true;
                command->source = std::string(arg.substr(9));
            } else {
                return "unknown option " + quoted(arg);
            }
            continue;
        }
        if (have_file) return "only one FILE can be played at a time";
        command->file = std::string(arg);
        have_file = true;
    }
    if (command->listen && have_file) return "--listen plays no FILE; give one or the other";
    if (!command->listen && !have_file) {
        if (soundtrack && *soundtrack) {
            command->file = soundtrack;
        } else {
            command->plain_demo = argc == 0 || (argc == 1 && command->gentle);
            if (!command->plain_demo) command->file = STARGLOBE_SOUNDTRACK_NAME;
        }
    }
    return "";
}

// Laid out by hand, as it prints.
// clang-format off
std::string demo_usage() {
    return std::string() +
           "Usage: starglobe [--gentle] [FILE]\n"
           "       starglobe [--gentle] --listen [SOURCE]\n"
           "Plays the starglobe demo full screen with its own soundtrack, or with the music in\n"
           "FILE, or following whatever the computer plays.\n"
           "\n" +
           wrapped(flash_warning(), kUsageColumns) +
           "\n"
           "FILE may be any audio file ffmpeg can read (MP3, Ogg, FLAC, WAV, ...). A WAV in\n"
           "the demo's own layout (" + layout_in_words() + ")\n"
           "is played as it is; anything else is converted with ffmpeg into a temporary folder\n"
           "first. The demo holds music of at most " + hours_and_minutes(kWavMaxSeconds) +
           ".\n"
           "\n"
           "Escape quits at once while the music plays; when the music ends by itself, a\n"
           "closing card shows for ten seconds.\n"
           "\n"
           "  --gentle          the gentle picture: no more than three flashes a second\n"
           "  --listen [SOURCE] follow the sound the computer plays (the default output's\n"
           "                    monitor) or SOURCE, a name from `pactl list short sources`,\n"
           "                    such as a microphone; runs until Escape. The word after\n"
           "                    --listen is SOURCE unless it starts with -, even where a\n"
           "                    file has that name\n"
           "  --help, -h        show this text and exit\n"
           "  --version         show the version and exit\n"
           "  --                end of options: the next argument is FILE even if it starts\n"
           "                    with -\n"
           "\n"
           "Exit status: 0 when the demo ended normally or by Escape, 255 when it could not\n"
           "start (its own line says why), 1 when FILE cannot be read or converted or there\n"
           "is no display, 2 for a usage error, 128 plus the signal's number when stopped by\n"
           "a signal. See starglobe(6).\n";
}
// clang-format on

std::string choose_video_driver(bool plain_demo) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && *driver) return "";
    const char* display = std::getenv("DISPLAY");
    setenv("SDL_VIDEODRIVER", kX11Driver, 1);
    if (plain_demo) return "";
    if (!display || !*display)
        return "no X display: starglobe needs an X server (or XWayland, under Wayland) and "
               "DISPLAY naming it; without a screen, run it with SDL_VIDEODRIVER=dummy";
    const int number = local_display_number(display);
    struct stat st;
    if (number >= 0 && stat((kX11SocketFolder + std::to_string(number)).c_str(), &st) != 0)
        return std::string("no X server answers on DISPLAY=") + display +
               ": start one, or unset DISPLAY in a terminal without a desktop";
    return "";
}
