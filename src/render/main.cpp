// starglobe-render: the demo's timeline without a window or sound device. See render_usage().
#include <csignal>
#include <cstdio>
#include <string>

#include "audio/wav_loader.h"
#include "common/stop_signal.h"
#include "render/render.h"

namespace {
constexpr int kExitFailure = 1;  // the soundtrack or an output failed
constexpr int kExitUsage = 2;    // the command line is wrong

const char* signal_name(int signal_number) {
    switch (signal_number) {
        case SIGINT: return "SIGINT (Ctrl-C)";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}
}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    const std::string usage_error = parse_render_options(argc - 1, argv + 1, &options);
    if (!usage_error.empty()) {
        std::fprintf(stderr, "starglobe-render: %s (see --help)\n", usage_error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(render_usage().c_str(), stdout);
        return 0;
    }

    // The loader prints its own line first for a rejected header; this follows it on the same
    // stream, as in the demo.
    PcmTrack track;
    if (!load_wav(options.wav_path.c_str(), &track.frames, &track.samples)) {
        std::puts("Failed to load WAV");
        return kExitFailure;
    }

    // From here on a Ctrl-C stops the run between frames, so that unfinished outputs are removed.
    install_stop_handlers();
    std::signal(SIGPIPE, SIG_IGN);  // a reader that goes away shows up as a failed write
    const std::string error = render(options, track);
    if (const int signal_number = stop_signal(); signal_number != 0 && !error.empty()) {
        std::fprintf(stderr, "starglobe-render: stopped by %s; unfinished output removed\n",
                     signal_name(signal_number));
        die_of_signal(signal_number);
    }
    if (!error.empty()) {
        std::fprintf(stderr, "starglobe-render: %s\n", error.c_str());
        return kExitFailure;
    }
    return 0;
}
