// The renderer's music: found, made ready (used as it is, or converted by ffmpeg exactly as the
// starglobe command converts, import/prepare.h) and read by the demo's loader, and when refused,
// described in plain words (what the file holds, how to convert it) rather than the demo's
// one-word verdict.
//
//     std::string name;
//     Outcome o = find_soundtrack(options.wav_path, &name);
//     Soundtrack soundtrack;
//     o = load_soundtrack(name, music_needed_s(options), say, &soundtrack);
#pragma once
#include <string>

#include "audio/wav_loader.h"
#include "common/outcome.h"
#include "import/prepare.h"
#include "render/options.h"

struct Soundtrack {
    std::string name;       // the file as the user named it (or the default found)
    std::string path;       // the file read: that one, or its converted copy
    WavFile wav;            // its samples; wav.track is what the analysis taps
    ScratchFolder scratch;  // holds a converted copy for the run's length
};

// The music to play: `given`, or with "" the soundtrack in the working folder, else the
// installed copy. Fails naming both places it looked.
Outcome find_soundtrack(const std::string& given, std::string* name);

// The seconds of music, from its start, that a run with `options` analyses: up to the end of
// the span it renders (every pass before it runs, seen or not), or all of it (kAllTheMusic)
// when it renders to the end.
double music_needed_s(const RenderOptions& options);

// Loads `name`, or of music to convert only its first `needed_s` seconds (a long file is not
// refused for a short span). `say` hears the converting line. Fails with the reason, possibly
// over several lines: "'song.wav': <what is wrong>" and the command that converts it.
Outcome load_soundtrack(const std::string& name, double needed_s, const Say& say,
                        Soundtrack* soundtrack);
