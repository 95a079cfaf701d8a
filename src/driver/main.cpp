// starglobe: plays the soundtrack full screen and, for as long as it plays, composes one
// picture per loop pass from the star field, the turning globe and noise, all driven by the
// soundtrack sample at the playback position. Then a closing card for ten seconds. Or, with
// --listen, follows whatever the computer plays. See driver/command.h for the command line.
//
// Start-up failures print one line (SDL's error, or our own) on standard output and end with
// status 255; the command's own lines go to standard error after "starglobe: ".
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

// The command's advice after the demo's own lines, for a failure the user can act on: the
// same reason for a refused file as the renderer and the page give.
void advise(DemoFailure failure, const std::string& file, const PreparedSoundtrack& ready,
            const WavFile* refused) {
    if (failure == DemoFailure::sound_device) {
        say("no sound device could be opened; to watch without sound: "
            "SDL_AUDIODRIVER=dummy starglobe, or choose the device with SDL_AUDIODRIVER "
            "(pulse, alsa); see ENVIRONMENT in starglobe(6)");
    } else if (failure == DemoFailure::soundtrack && refused) {
        say(refusal_line(file, ready, *refused));
    }
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
    if (command.listen) {
        end = listen_demo(command.source, command.gentle);
    } else {
        PlayRequest request;
        request.gentle = command.gentle;
        ScratchFolder scratch;  // a converted copy of the music, removed after the run
        if (command.plain_demo) {
            request.soundtrack = STARGLOBE_SOUNDTRACK_NAME;
        } else {
            PreparedSoundtrack ready;
            const Outcome prepared =
                prepare_soundtrack(command.file, kAllTheMusic, &scratch, say, &ready);
            if (prepared.kind == OutcomeKind::interrupted) {
                scratch_remove(&scratch);
                die_of_signal(stop_signal());
            }
            if (!prepared) {
                say(prepared.message);
                return kExitFailure;
            }
            request.soundtrack = ready.path;
            request.advise = [file = command.file, ready](DemoFailure f, const WavFile* refused) {
                advise(f, file, ready, refused);
            };
        }
        end = play_demo(request);
    }
    if (end.stop_signal != 0) die_of_signal(end.stop_signal);  // scratch is gone: out of scope
    return end.status;
}
