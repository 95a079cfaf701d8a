// --video FILE: the output frames, framed, piped to ffmpeg, which encodes them with the music
// muxed in.
//
// H.264 in yuv420p, which every browser and phone decodes, and AAC, in MP4 (its index at the
// front, so a browser starts playing before the whole file arrives) or Matroska, by the name's
// ending; standard output ("-") gets Matroska, which a pipe carries as it comes. The frames'
// RGB is converted with the matrix of the output's size (BT.709 from 1280 x 720 on, BT.601
// below) into limited range, and the file says so, so that players show the artwork's colours.
//
// Frame k is shown from k / rate seconds on and the music starts at the first frame's time, so
// picture and sound keep the timeline the frames were rendered on. The file lasts exactly
// frames / rate seconds: the audio is padded with silence or cut to that length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/output_kind.h"
#include "system/child_process.h"

constexpr int32_t kMaxCrf = 51;      // x264's constant rate factor runs 0..51
constexpr int32_t kDefaultCrf = 22;  // lower is better and larger
constexpr const char* kDefaultPreset = "superfast";
// Frames this large or larger default to the fastest preset and a coarser rate factor: with the
// superfast default, 10 s at 1920 x 1080 took 20 s on two cores and came to 204 MB; with these,
// about 10 s and 133 MB (the noise is a scaled-up grain that no codec predicts).
constexpr int32_t kLargeFrameWidth = 1280, kLargeFrameHeight = 720;  // HD: as people name it
constexpr int64_t kLargeFramePixels = int64_t{kLargeFrameWidth} * kLargeFrameHeight;
constexpr const char* kLargeFramePreset = "ultrafast";
constexpr int32_t kLargeFrameCrf = 30;
// ffmpeg refuses raw frames whose rows and height, with its padding, pass 2^31 bytes: 16,256
// pixels a side already fails. Every size up to this square fits.
constexpr int32_t kMaxVideoSide = 16000;

// A container the renderer writes, picked by the file name's extension.
struct VideoContainer {
    const char* extension;  // ".mp4"
    const char* muxer;      // ffmpeg's name for it
};

// The container for `path` by its extension, in any case, or nullptr for one not offered.
const VideoContainer* video_container(const std::string& path);

// Whether `name` is one of x264's speed presets; all of them, for messages.
bool is_x264_preset(const std::string& name);
std::string x264_presets_text();

struct VideoSettings {
    std::string output_path;  // the file ffmpeg writes; "" for standard output
    bool seekable = true;     // false for a pipe or device: written in one pass
    const VideoContainer* container = nullptr;
    std::string audio_path;      // the WAV muxed in
    double audio_start_s = 0.0;  // where in it the first frame is
    int64_t rate_num = 60;       // frames per second, the exact ratio rate_num / rate_den
    int64_t rate_den = 1;
    int64_t frames = 0;  // how many frames will be written
    int32_t width = 0;   // pixels
    int32_t height = 0;
    int32_t crf = -1;    // -1: the default
    std::string preset;  // "": the default for the size
};

// The value of --video: a name ending in a container's extension, or "-".
Outcome video_take(const char* option, const std::string& value);

// What --video refuses of the frame: odd sides, or sides ffmpeg cannot take.
Outcome video_check(const RenderOptions& options, const Framing& framing);

// ffmpeg's command line for `settings`, program name first.
std::vector<std::string> ffmpeg_arguments(const VideoSettings& settings);

struct VideoOutput {
    std::string name;  // as messages call it
    AtomicOutput target;
    VideoSettings settings;
    ChildProcess ffmpeg;
};

Outcome output_open(VideoOutput* out, const std::string& path, const RunInfo& run);
Outcome output_frame(VideoOutput* out, const FrameView& frame);
// Ends the input and waits for ffmpeg to finish the file: its own account when it fails, with
// the user's name for the file; when the output's file system has no room left, whatever
// ffmpeg said, "cannot write NAME: No space left on device".
Outcome output_complete(VideoOutput* out);
