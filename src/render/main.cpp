// starglobe-render: the demo's timeline without a window or sound device. See render_usage().
// Every message goes to standard error, one line each, after "starglobe-render: ".
#include <csignal>
#include <cstdio>
#include <string>

#include "common/build_info.h"
#include "common/stop_signal.h"
#include "render/render.h"
#include "render/render_options.h"
#include "render/soundtrack.h"

namespace {
constexpr int kExitFailure = 1;  // the soundtrack or an output failed
constexpr int kExitUsage = 2;    // the command line is wrong
constexpr const char* kPrefix = "starglobe-render: ";

const char* signal_name(int signal_number) {
    switch (signal_number) {
        case SIGINT: return "SIGINT (Ctrl-C)";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

// Each line of `text` on standard error after the prefix.
void say(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::fprintf(stderr, "%s%s\n", kPrefix, text.substr(start, end - start).c_str());
        start = end + 1;
    }
}
}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    const std::string usage_error = parse_render_options(argc - 1, argv + 1, &options);
    if (!usage_error.empty()) {
        say(usage_error + " (see --help)");
        return kExitUsage;
    }
    if (options.help || options.version) {
        std::fputs(
            options.help ? render_usage().c_str() : "starglobe-render " STARGLOBE_VERSION "\n",
            stdout);
        return 0;
    }

    Soundtrack soundtrack;
    if (const std::string error = load_soundtrack(options.wav_path, &soundtrack); !error.empty()) {
        say(error);
        return kExitFailure;
    }
    if (const std::string note = raw_size_note(options, render_plan(options, soundtrack.track));
        !note.empty() && !options.quiet)
        say(note);

    // From here on a Ctrl-C stops the run between frames, so that unfinished outputs are removed.
    install_stop_handlers();
    std::signal(SIGPIPE, SIG_IGN);  // a reader that goes away shows up as a failed write
    const std::string error = render(options, soundtrack);
    if (const int signal_number = stop_signal(); signal_number != 0 && !error.empty()) {
        say(std::string("stopped by ") + signal_name(signal_number) +
            "; unfinished output removed");
        die_of_signal(signal_number);
    }
    // The reader of standard output has gone (`| head`): end quietly, as SIGPIPE ends `yes`.
    if (error == kReaderGone) die_of_signal(SIGPIPE);
    if (!error.empty()) {
        say(error);
        return kExitFailure;
    }
    return 0;
}
