// starglobe: plays the soundtrack full screen and, for as long as it plays, composes one
// picture per loop pass from the star field, the turning globe and noise, all driven by the
// soundtrack sample at the playback position. Then a closing card for ten seconds. Or, with
// --listen, follows whatever the computer plays. See driver/command.h for the command line.
//
// Start-up failures print the demo's own lines on standard output (SDL's error, or the loader's
// verdict and "Failed to load WAV"; tell_end) and end with status 255; the command's own lines
// go to standard error after "starglobe: " (driver/say.h).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/build_info.h"
#include "driver/command.h"
#include "driver/listen.h"
#include "driver/play.h"
#include "driver/say.h"
#include "import/prepare.h"
#include "system/stop_signal.h"

namespace {

// --help and --version; a text that cannot be written is a failure, not a success.
int print(const std::string& text) {
    std::signal(SIGPIPE, SIG_IGN);
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
    say(std::string("cannot write to standard output: ") + std::strerror(errno));
    return kExitFailure;
}

// Whom the advice after a failure names: the music the user gave and what was made of it.
struct Advice {
    bool given = false;  // the plain demo prints only its own lines
    std::string file;
    PreparedSoundtrack ready;
};

// Tells how the run ended; returns the exit status. A start-up failure prints the demo's own
// lines on standard output as it always has (SDL's error, or the loader's verdict and "Failed
// to load WAV"), then the command's advice for a failure the user can act on: the same reason
// for a refused file as the renderer and the page give.
int tell_end(const DemoEnd& end, const Advice& advice) {
    switch (end.failure) {
        case DemoFailure::none: return 0;
        case DemoFailure::sound_source: say(end.error); return kExitCannotStart;
        case DemoFailure::soundtrack:
            if (const char* line = wav_status_message(end.refused.status)) std::puts(line);
            std::puts("Failed to load WAV");
            break;
        case DemoFailure::sound_device:
        case DemoFailure::other: std::puts(end.error.c_str()); break;
    }
    std::fflush(stdout);  // before any advice on standard error
    if (advice.given && end.failure == DemoFailure::sound_device) {
        say("no sound device could be opened; to watch without sound: "
            "SDL_AUDIODRIVER=dummy starglobe, or choose the device with SDL_AUDIODRIVER "
            "(pulse, alsa); see ENVIRONMENT in starglobe(6)");
    } else if (advice.given && end.failure == DemoFailure::soundtrack) {
        say(refusal_line(advice.file, advice.ready, end.refused));
    }
    return kExitCannotStart;
}

}  // namespace

int main(int argc, char** argv) {
    // SDL turns Ctrl-C and kill into a quit event, which the loop ignores like a window-close
    // request; that would leave the demo deaf to them. They stop it here instead, through the
    // ordinary shutdown, so that the display mode and the sound device are given back. Set
    // before SDL starts, which then leaves them in place.
    install_stop_handlers();

    DemoCommand command;
    if (const Outcome parsed =
            parse_demo_command(argc - 1, argv + 1, std::getenv(kSoundtrackVariable), &command);
        !parsed) {
        say(parsed.message + " (see starglobe --help)");
        return kExitUsage;
    }
    if (command.help) return print(demo_usage());
    if (command.version) return print("starglobe " STARGLOBE_VERSION "\n");
    if (const Outcome chosen = choose_video_driver(command.plain_demo); !chosen) {
        say(chosen.message);
        return kExitFailure;
    }

    // Said where a person reads it before the picture starts flashing: standard error on a
    // terminal. Not in the plain demo, which prints only its own lines, nor into a log or pipe.
    if (!command.gentle && !command.plain_demo && isatty(STDERR_FILENO)) say(flash_warning());

    DemoEnd end;
    int status = 0;
    if (command.listen) {
        end = listen_demo(command.source, command.gentle);
        status = tell_end(end, Advice{});
    } else {
        Advice advice;
        ScratchFolder scratch;  // a converted copy of the music, removed after the run
        if (!command.plain_demo) {
            const Outcome prepared =
                prepare_soundtrack(command.file, kAllTheMusic, &scratch, say, &advice.ready);
            if (prepared.kind == OutcomeKind::interrupted) {
                scratch_remove(&scratch);
                die_of_signal(stop_signal());
            }
            if (!prepared) {
                say(prepared.message);
                return kExitFailure;
            }
            advice.given = true;
            advice.file = command.file;
        }
        end =
            play_demo(advice.given ? advice.ready.path : STARGLOBE_SOUNDTRACK_NAME, command.gentle);
        status = tell_end(end, advice);
    }
    if (end.stop_signal != 0) die_of_signal(end.stop_signal);  // scratch is gone: out of scope
    return status;
}
