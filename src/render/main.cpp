// starglobe-render: the demo's timeline without a window or sound device. See render_usage().
// Every message goes to standard error, one line each, after "starglobe-render: ".
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/build_info.h"
#include "render/options.h"
#include "render/outputs.h"
#include "render/render.h"
#include "render/soundtrack.h"
#include "system/stop_signal.h"

namespace {

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

int usage_error(const std::string& error) {
    say(error + " (see --help)");
    return kExitUsage;
}

// Writes --help or --version to standard output; a text that cannot be written (a full disk,
// a closed pipe) is a failure, not a success.
int print(const std::string& text) {
    std::signal(SIGPIPE, SIG_IGN);
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (written) return 0;
    say(std::string("cannot write to standard output: ") + std::strerror(errno));
    return kExitFailure;
}

// A span that holds nothing worth rendering fails, saying so.
Outcome check_span(const RenderOptions& options, const RenderPlan& plan) {
    const Span& span = options.span;
    const bool to_the_end = span.frames < 0 && span.seconds < 0.0;
    if (to_the_end && span.start_s > 0.0 && plan.music_frames == plan.first_frame) {
        char start[32];
        std::snprintf(start, sizeof start, "%g", span.start_s);
        return failed(std::string("--start ") + start +
                      " is at or past the end of the music; give "
                      "--frames or --seconds to render past it");
    }
    if (plan.frames() == 0) return failed(kEmptySpanRefusal);
    return {};
}

// Ends a run that was stopped or failed: a stop signal by that signal, the reader of
// standard output gone quietly, as SIGPIPE ends `yes`.
int ended(const Outcome& outcome) {
    if (const int signal_number = stop_signal(); signal_number != 0) {
        say(std::string("stopped by ") + signal_name(signal_number) +
            "; unfinished output removed");
        die_of_signal(signal_number);
    }
    if (outcome.kind == OutcomeKind::reader_gone) die_of_signal(SIGPIPE);
    say(outcome.message);
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    if (const Outcome parsed = parse_render_options(argc - 1, argv + 1, &options); !parsed)
        return usage_error(parsed.message);
    if (options.help) return print(render_usage());
    if (options.version) return print("starglobe-render " STARGLOBE_VERSION "\n");

    std::string music;
    if (Outcome found = find_soundtrack(options.wav_path, &music); !found) {
        say(found.message);
        return kExitFailure;
    }
    if (const Outcome clash = outputs_clash(options, music); !clash)
        return usage_error(clash.message);

    // From here on a Ctrl-C stops the run between passes, so that unfinished outputs (and a
    // converted copy of the music) are removed.
    install_stop_handlers();
    std::signal(SIGPIPE, SIG_IGN);  // a reader that goes away shows up as a failed write
    int status = 0;
    {
        Soundtrack soundtrack;
        const Say quiet_or_say = [&](const std::string& line) {
            if (!options.quiet) say(line);
        };
        Outcome result = load_soundtrack(music, music_needed_s(options), quiet_or_say, &soundtrack);
        if (result) {
            const RenderPlan plan = render_plan(options, soundtrack.wav.track);
            // What only the music's length shows to be empty.
            if (const Outcome span = check_span(options, plan); !span)
                return usage_error(span.message);
            for (const std::string& note : outputs_notes(options, plan)) quiet_or_say(note);
            result = render(options, plan, soundtrack, say);
        }
        // The converted copy goes with the soundtrack, before any end by a signal.
        if (!result) {
            scratch_remove(&soundtrack.scratch);
            status = ended(result);
        }
    }
    return status;
}
