// Any music file made ready for the demo: used as it is when it is already a WAV in the demo's
// layout, otherwise converted by ffmpeg into a scratch folder. The starglobe command and the
// renderer's --wav both come through here and say the same things.
//
//     ScratchFolder scratch;                         // removed with everything in it
//     PreparedSoundtrack ready;
//     Outcome o = prepare_soundtrack("song.mp3", &scratch, say, &ready);
//     ...load_wav(ready.path.c_str())...
//
// A file that is neither in the layout nor audio to ffmpeg (a text file, a broken WAV) comes
// back as it is, marked not_audio, so that the loader says what is wrong with it.
#pragma once
#include <functional>
#include <string>

#include "common/outcome.h"

// A private folder under $TMPDIR (or /tmp), made on first use and removed with everything in
// it when the value goes out of scope (or by scratch_remove, before a program ends by a signal).
struct ScratchFolder {
    std::string path;  // "" until made

    ScratchFolder() = default;
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();
};

void scratch_remove(ScratchFolder* scratch);

struct PreparedSoundtrack {
    std::string path;        // the file to read and play
    bool converted = false;  // path is ffmpeg's copy in the scratch folder
    bool not_audio = false;  // path is the file as given, which is no audio ffmpeg knows
};

// One line for the user, without a program's prefix.
using Say = std::function<void(const std::string& line)>;

// Makes `file` ready (see above). Fails, with a line naming the file and the reason, for a
// file that cannot be read, music longer than the layout holds (kWavMaxSeconds), no ffmpeg to
// convert with, or a conversion that fails; interrupted by a stop signal, ffmpeg stopped.
Outcome prepare_soundtrack(const std::string& file, ScratchFolder* scratch, const Say& say,
                           PreparedSoundtrack* ready);
