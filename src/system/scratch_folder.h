// A private folder for a run's working files (ffmpeg's copy of the music), made on first use
// under $TMPDIR (or /tmp) and removed with everything in it when the value goes out of scope,
// or by scratch_remove before a program ends by a signal, which runs no destructor.
//
//     ScratchFolder scratch;
//     if (Outcome made = scratch_make(&scratch); !made) return made;
//     std::string file = scratch.path + "/converted.wav";
#pragma once
#include <string>

#include "common/outcome.h"

struct ScratchFolder {
    std::string path;  // "" until made

    ScratchFolder() = default;
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();
};

// Makes the folder unless it is made already. Fails naming the folder it would go in.
Outcome scratch_make(ScratchFolder* scratch);

// Removes the folder and all in it, if made; nothing more can be done about a file that will
// not go.
void scratch_remove(ScratchFolder* scratch);
