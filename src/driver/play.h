// The demo itself: start-up of video and audio, the frame loop while the music plays, the end
// card and the shutdown, as one call.
//
//     DemoEnd end = play_demo(request);
//     ...remove what the caller made for the run...
//     if (end.stop_signal) die_of_signal(end.stop_signal);
//     return end.status;
//
// Start-up failures print their line on standard output (SDL's error, or the loader's verdict
// and "Failed to load WAV") and end with status 255; `advise` is then told which failure it
// was, and for a refused soundtrack what the loader found, so that the starglobe command can
// add a line of its own.
#pragma once
#include <functional>
#include <string>

#include "audio/wav_loader.h"

enum class DemoFailure {
    sound_device,  // the audio device could not be opened
    soundtrack,    // the loader refused the soundtrack
    other,
};

struct PlayRequest {
    std::string soundtrack;  // the WAV to analyse and play
    bool gentle = false;     // show the picture through the gentle filter
    // After a start-up failure's own lines, with the refused file for DemoFailure::soundtrack
    // (else null); may be empty.
    std::function<void(DemoFailure, const WavFile*)> advise;
};

struct DemoEnd {
    int status = 0;       // the exit status: 0, or 255 after a start-up failure
    int stop_signal = 0;  // the stop signal that ended the run, after its shutdown; else 0
};

DemoEnd play_demo(const PlayRequest& request);
