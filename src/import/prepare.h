// Any music file made ready for the demo: used as it is when it is already a WAV in the demo's
// layout, otherwise converted by ffmpeg into a scratch folder. The starglobe command and the
// renderer's --wav both come through here and say the same things.
//
//     ScratchFolder scratch;                         // system/scratch_folder.h
//     PreparedSoundtrack ready;
//     Outcome o = prepare_soundtrack("song.mp3", kAllTheMusic, &scratch, say, &ready);
//     WavFile wav = load_wav(ready.path.c_str());
//     if (wav.status != WavStatus::ok) say(refusal_line("song.mp3", ready, wav));
//
// A file that is neither in the layout nor audio to ffmpeg (a text file, a broken WAV) comes
// back as it is, marked not_audio, so that the loader says what is wrong with it.
//
// ffprobe and ffmpeg read the very file that was opened and checked, handed to them as an open
// descriptor, never its name again: /dev/stdin works, and a file swapped for another (a named
// pipe) after the check is not the one read. Every conversion is bounded in length and size,
// whatever the file's header claims.
#pragma once
#include <functional>
#include <limits>
#include <string>

#include "audio/wav_loader.h"
#include "common/outcome.h"
#include "system/scratch_folder.h"

struct PreparedSoundtrack {
    std::string path;        // the file to read and play
    bool converted = false;  // path is ffmpeg's copy in the scratch folder
    bool not_audio = false;  // path is the file as given, which is no audio ffmpeg knows
};

// One line for the user, without a program's prefix.
using Say = std::function<void(const std::string& line)>;

// How much of the music, from its start, the caller uses: all of it (the demo), or for a render
// of a span the seconds up to the span's end, which are all the analysis reads.
constexpr double kAllTheMusic = std::numeric_limits<double>::infinity();

// Makes the first `needed_s` seconds of `file` ready (see above): a span that the layout holds
// is converted alone, however long the music. Fails, with a line naming the file and the reason,
// for a file that cannot be read, music needed whole that is longer than the layout holds
// (kWavMaxSeconds), no ffmpeg to convert with, or a conversion that fails; interrupted by a stop
// signal, ffmpeg stopped.
Outcome prepare_soundtrack(const std::string& file, double needed_s, ScratchFolder* scratch,
                           const Say& say, PreparedSoundtrack* ready);

// Why the loader refused `wav`, what prepare_soundtrack made ready of `file`, in one line
// naming the file: "'notes.txt' is not audio ffmpeg can read: only 6 bytes, too short ...".
std::string refusal_line(const std::string& file, const PreparedSoundtrack& ready,
                         const WavFile& wav);
