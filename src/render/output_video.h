// Video output: raw frames piped to ffmpeg, which encodes them with the soundtrack muxed in.
//
//     VideoPipe video;
//     std::string error = video_open(settings, &video);   // starts ffmpeg
//     ...video_write(&video, frame, bytes) once per frame...
//     error = video_close(&video, "clip.mp4");             // ffmpeg finishes the file
//
// H.264 in yuv420p, which every browser and phone decodes, and AAC, in MP4 (its index at the
// front, so a browser starts playing before the whole file arrives) or Matroska. The frames'
// RGB is converted with the matrix of the output's size (BT.709 from 1280 x 720 on, BT.601
// below) into limited range, and the file says so, so that players show the artwork's colours.
//
// Frame k is shown from k / rate seconds on and the audio starts at 0, so picture and sound
// keep the timeline the frames were rendered on. The file lasts exactly frames / rate seconds:
// the audio is padded with silence or cut to that length, in a pipe too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/child_process.h"

// The program and the Debian package that provides it.
constexpr const char* kFfmpegProgram = "ffmpeg";
constexpr const char* kFfmpegPackage = "ffmpeg";

constexpr int32_t kMaxCrf = 51;  // x264's constant rate factor runs 0..51

// A container the renderer writes, picked by the file name's extension.
struct VideoContainer {
    const char* extension;  // ".mp4"
    const char* muxer;      // ffmpeg's name for it
};

// The container for `path` by its extension, in any case, or nullptr for one not offered.
const VideoContainer* video_container(const std::string& path);

// Whether `name` is one of x264's speed presets.
bool is_x264_preset(const std::string& name);

struct VideoSettings {
    std::string output_path;  // the file ffmpeg writes
    bool seekable = true;     // false for a pipe or device: written in one pass
    const VideoContainer* container = nullptr;
    std::string audio_path;   // the WAV muxed in
    int64_t rate_num = 60;    // frames per second, the exact ratio rate_num / rate_den
    int64_t rate_den = 1;
    int64_t frames = 0;       // how many frames will be written
    int32_t width = 0;        // pixels
    int32_t height = 0;
    int32_t crf = -1;         // -1: the default
    std::string preset;       // "": the default
};

struct VideoPipe {
    ChildPipe child;          // ffmpeg
    std::string output_path;  // the file it writes, as named in its messages
};

// ffmpeg's command line for `settings`, program name first.
std::vector<std::string> ffmpeg_arguments(const VideoSettings& settings);

// Starts ffmpeg. Fails at once, naming the package to install, when ffmpeg is not on PATH.
std::string video_open(const VideoSettings& settings, VideoPipe* video);

// Hands one frame of packed blue, green, red pixels to ffmpeg. Returns "", "interrupted", or
// the reason ffmpeg stopped taking frames (it is finished and its complaint read).
std::string video_write(VideoPipe* video, const uint8_t* bgr, size_t bytes,
                        const std::string& name);

// Ends the input and waits for ffmpeg to finish the file. Returns "" when it succeeded, else
// the reason in ffmpeg's words with `name` (the output the user asked for) in place of the file
// ffmpeg wrote; a full disk always reads "cannot write NAME: No space left on device".
std::string video_close(VideoPipe* video, const std::string& name);

// Stops ffmpeg at once and waits for it; whatever it wrote is left for the caller to remove.
void video_kill(VideoPipe* video);
