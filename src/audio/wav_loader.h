// WAV loader: the analysis copy of the soundtrack.
//
// Accepts exactly one layout, the canonical 44-byte-header WAV of 16-bit stereo PCM at
// 44,100 Hz (common/wav_format.h), and maps its samples into memory so that the analyzer can
// index them directly. Only what is read becomes resident, and the program lets go of what it
// has passed (wav_let_go), so hours of music hold no more memory than minutes. The playable
// copy is SDL_mixer's or the browser's business, not ours.
//
//     WavFile wav = load_wav("tessaloon.wav");    // owns the mapping the track points into
//     if (wav.status != WavStatus::ok) { puts(wav_status_message(wav.status)) ... }
//     analyzer.analyze(wav.track, elapsed_ms);
//     wav_let_go_behind(wav.track, elapsed_ms, &held_from);  // after every pass
//
// Nothing here prints: the callers say what they make of a refusal (the demo its one-word
// lines, the renderer and the page a description from describe_wav).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/wav_format.h"

// Interleaved signed 16-bit little-endian stereo samples, left then right.
struct PcmTrack {
    const int16_t* samples = nullptr;  // first sample of the data chunk (file byte 44)
    uint32_t frames = 0;               // whole sample frames: data size / 4, rounded down
    bool mapped = false;               // the samples are a read-only mapping of the file
};

// Gives back the memory that sample frames [first, end) of a mapped track hold, whole pages
// only; read again, they come back from the file. Does nothing for samples held otherwise.
void wav_let_go(const PcmTrack& track, int64_t first, int64_t end);

// For a loop that analyses a mapped track in time order: lets go of what lies more than a
// second behind `elapsed_ms`, some megabytes at a time. `*held_from` is the first frame still
// held: 0 at the start, kept by the caller from call to call.
void wav_let_go_behind(const PcmTrack& track, double elapsed_ms, int64_t* held_from);

// Whether a mapped file has been cut short since it was loaded (somebody truncated or
// rewrote it). Its lost samples then read as silence rather than ending the program with a
// bus error, and the program decides what becomes of its run. load_wav sets this watch up.
bool wav_cut_short();

// A read-only mapping of a file's first `size` bytes, unmapped when it goes.
struct MappedBytes {
    const uint8_t* at = nullptr;
    size_t size = 0;

    MappedBytes() = default;
    MappedBytes(MappedBytes&& other) noexcept;
    MappedBytes& operator=(MappedBytes&& other) noexcept;
    ~MappedBytes();
};

enum class WavStatus {
    ok,
    unreadable,   // missing, not a regular file, too short for a header, or a failed read
    corrupted,    // wrong identity, RIFF size, chunk order or data size
    unsupported,  // a valid WAV, but not 16-bit stereo PCM at 44,100 Hz
    interrupted,  // a stop signal arrived while the samples were being read
};

// What the checks of the 44-byte `header` make of a file of `file_size` bytes, in the order
// the layout is checked (identity and RIFF size, then the format, then the data chunk). On ok
// sets `data_bytes`, the data chunk's size, which then lies inside the file.
WavStatus check_wav_header(const uint8_t (&header)[kWavHeaderBytes], uint64_t file_size,
                           uint32_t* data_bytes);

// Checks `size` bytes at `bytes` and, when they are acceptable, points `track` into them (so
// the bytes must outlive the track). Reads nothing outside [bytes, bytes + size). A refusal
// leaves the track alone.
WavStatus parse_wav(const uint8_t* bytes, size_t size, PcmTrack* track);

// The demo's line for a refused header, or nullptr where the refusal is silent.
const char* wav_status_message(WavStatus status);

// A soundtrack in memory: the bytes the track points into, and what the checks said.
struct WavFile {
    WavStatus status = WavStatus::unreadable;
    PcmTrack track;                    // set when ok
    std::unique_ptr<uint8_t[]> bytes;  // the header and the data chunk, when handed over whole
    MappedBytes mapped;                // the same, mapped from the file load_wav opened
    size_t size = 0;                   // bytes held or mapped; 0 when refused
    // For describing a refusal: the file's first bytes and its size.
    uint8_t header[kWavHeaderBytes] = {};
    size_t header_bytes = 0;  // how many of them the file has
    uint64_t file_size = 0;
    bool regular_file = false;  // false for a folder, a device or a named pipe
    int error = 0;              // errno of a file that could not be opened or read
};

// Reads the soundtrack at `path`: the header first, then, only for a file it accepts, maps
// the samples (read from the file as they are first used); `interrupted` when a stop signal
// has arrived. Anything but a regular file (a folder, a named pipe, a device) is unreadable,
// untouched.
WavFile load_wav(const char* path);

// The same checks over a whole file already in memory (the web page's files); takes the bytes.
WavFile wav_from_bytes(std::unique_ptr<uint8_t[]> bytes, size_t size);

// Why a refused file is refused, in plain words for people: "a LIST chunk sits between fmt
// and data (as ffmpeg writes by default)", "48000 Hz mono 16-bit PCM, needs 44100 Hz stereo
// 16-bit PCM", "an MP3 file, not a WAV file".
std::string describe_wav(const WavFile& wav);

// Whether a refused file's first bytes are those of sound in some container (MP3, Ogg, FLAC,
// MP4, AIFF, WebM, a WAV of another layout) rather than of something else (a picture, a
// text, nothing at all): only sound is worth converting.
bool wav_looks_like_audio(const WavFile& wav);
