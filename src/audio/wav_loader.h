// WAV loader: the analysis copy of the soundtrack.
//
// Accepts exactly one layout, the canonical 44-byte-header WAV of 16-bit stereo PCM at
// 44,100 Hz, and keeps the file in memory so the analyzer can index raw samples directly.
// The playable copy is SDL_mixer's business, not ours.
//
//     PcmTrack track;
//     if (!load_wav("tessaloon.wav", &track.frames, &track.samples)) { ... }
//
// parse_wav does the checking on bytes already in memory; load_wav is the thin file wrapper
// that also prints the one-line verdict of a rejected header.
#pragma once
#include <cstddef>
#include <cstdint>

// Interleaved signed 16-bit little-endian stereo samples, left then right.
struct PcmTrack {
    const int16_t* samples = nullptr;  // first sample of the data chunk (file byte 44)
    uint32_t frames = 0;               // whole sample frames: data size / 4, rounded down
};

enum class WavStatus {
    ok,
    unreadable,   // too short to hold a header: rejected without a word
    corrupted,    // wrong identity, RIFF size, chunk order or data size
    unsupported,  // a valid WAV, but not 16-bit stereo PCM at 44,100 Hz
};

// Checks `size` bytes at `bytes` and, when they are acceptable, points `track` into them
// (so the bytes must outlive the track). Reads nothing outside [bytes, bytes + size).
WavStatus parse_wav(const uint8_t* bytes, size_t size, PcmTrack* track);

// The line printed for a rejected header, or nullptr where the rejection is silent.
const char* wav_status_message(WavStatus status);

// Reads the whole file at `path` and parses it. On success sets both outputs and returns true;
// the file's bytes stay allocated for the life of the process. On failure sets neither, prints
// "wav is corrupted" or "wav is unsupported" where the header says which, and returns false.
bool load_wav(const char* path, uint32_t* frames, const int16_t** samples);
