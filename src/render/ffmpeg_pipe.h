// Video output: raw frames piped to ffmpeg, which encodes them to an MP4 that plays in a browser
// (H.264 in yuv420p, the file's index at the front) with the soundtrack muxed in as AAC.
//
//     VideoPipe video;
//     std::string error = video_open(settings, &video);   // starts ffmpeg
//     ...video_write(&video, frame, kImageBytes) once per frame...
//     error = video_close(&video);                          // ffmpeg finishes the file
//
// Frame k is shown from k / fps seconds on and the audio starts at 0, so picture and sound keep
// the same timeline as the frames were rendered on. The file lasts exactly frames / fps seconds:
// the audio is padded with silence or cut to that length.
//
// ffmpeg runs in a process group of its own, so a Ctrl-C at the terminal reaches the renderer
// only, which then decides what becomes of the half-made file (video_kill).
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program and the Debian package that provides it.
constexpr const char* kFfmpegProgram = "ffmpeg";
constexpr const char* kFfmpegPackage = "ffmpeg";

struct VideoSettings {
    std::string output_path;  // the file ffmpeg writes
    bool seekable = true;     // false for a pipe or device: a fragmented MP4, written in one pass
    std::string audio_path;   // the WAV muxed in
    int32_t fps = 60;         // frames per second
    int64_t frames = 0;       // how many frames will be written
    int32_t width = 0;        // pixels
    int32_t height = 0;       // pixels
};

struct VideoPipe {
    pid_t pid = -1;  // ffmpeg, while it runs
    int fd = -1;     // the write end of its standard input
};

// ffmpeg's command line for `settings`, program name first.
std::vector<std::string> ffmpeg_arguments(const VideoSettings& settings);

// The full path of `program` found on PATH, or "" when it is not there.
std::string find_on_path(const std::string& program);

// Starts ffmpeg. Fails at once, naming the package to install, when ffmpeg is not on PATH.
std::string video_open(const VideoSettings& settings, VideoPipe* video);

// Hands one frame of packed blue, green, red pixels to ffmpeg. SIGPIPE must be ignored (as
// starglobe-render does), so that an ffmpeg that has ended shows as a failed write.
std::string video_write(VideoPipe* video, const uint8_t* bgr, size_t bytes);

// Ends the input and waits for ffmpeg to finish the file. Returns "" when it succeeded.
std::string video_close(VideoPipe* video);

// Stops ffmpeg at once and waits for it; whatever it wrote is left for the caller to remove.
void video_kill(VideoPipe* video);
