// The renderer's soundtrack: found, read and checked by the loader's rules, and when refused,
// described in plain words (what the file holds, what is needed) rather than the demo's
// one-word verdict.
//
//     Soundtrack soundtrack;
//     std::string error = load_soundtrack(options.wav_path, &soundtrack);   // "" when loaded
//
// The demo's own loader prints to standard output; the renderer keeps standard output for
// --controls and --raw, so it reads the file itself and speaks only through its messages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/wav_loader.h"

constexpr const char* kDefaultSoundtrack = "tessaloon.wav";

struct Soundtrack {
    std::string path;            // the file read
    std::vector<uint8_t> bytes;  // the whole file; `track` points into it
    PcmTrack track;
};

// Loads `path`, or with "" tessaloon.wav from the working folder, else the installed copy.
// Returns "" or the reason, possibly over several lines: "song.wav: <what is wrong>" and how to
// convert a file into the accepted layout.
std::string load_soundtrack(const std::string& path, Soundtrack* soundtrack);

// Why `size` bytes that parse_wav refuses are refused, in plain words: "a LIST chunk sits
// between fmt and data", "48000 Hz mono 16-bit PCM, needs 44100 Hz stereo 16-bit PCM".
std::string describe_wav(const uint8_t* bytes, size_t size);
