#include "render/ffmpeg_pipe.h"

#include <strings.h>

#include <cstring>
#include <iterator>

namespace {

// Encoding choices, measured on this two-core machine on the soundtrack's loudest 15 seconds at
// 400 x 300 and 60 fps, in CPU seconds (the machine's other load aside). The frames are full of
// per-pixel noise, which no encoder predicts well, so x264's slower presets buy little:
//   medium    CRF 23  29.2 CPU s  42.3 MB  PSNR 27.4 dB
//   veryfast  CRF 22   8.7 CPU s  41.6 MB  PSNR 27.1 dB
//   superfast CRF 22   6.1 CPU s  41.4 MB  PSNR 27.1 dB
//   ultrafast CRF 23   2.2 CPU s  49.5 MB  PSNR 27.1 dB
// superfast at CRF 22 keeps medium's size and nearly its fidelity at a fifth of the work: 2.5x
// real time on one core, so with the rest of a run still well ahead of real time on two.
constexpr const char* kVideoCodec = "libx264";
constexpr const char* kDefaultPreset = "superfast";
constexpr int32_t kDefaultCrf = 22;  // lower is better and larger
constexpr const char* kAudioCodec = "aac";
constexpr const char* kAudioBitrate = "192k";  // carries the soundtrack without audible loss
// From this size on a picture counts as HD and takes BT.709's colour matrix; below it BT.601's,
// as players assume for untagged files of those sizes.
constexpr int32_t kHdWidth = 1280;
constexpr int32_t kHdHeight = 720;
// A seekable MP4 gets its index moved to the front when it is finished, so a browser can start
// playing before the whole file arrives; a pipe cannot be rewritten, so there the index goes
// into every fragment instead.
constexpr const char* kSeekableFlags = "+faststart";
constexpr const char* kStreamFlags = "+frag_keyframe+empty_moov+default_base_moof";
constexpr const char* kNoSpace = "No space left on device";

constexpr int64_t kMicrosecondsPerSecond = 1000000;

constexpr VideoContainer kContainers[] = {{".mp4", "mp4"}, {".mkv", "matroska"}};
constexpr const char* kPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                    "medium",    "slow",      "slower",   "veryslow"};

// frames * den / num seconds as ffmpeg's microsecond duration, rounded up so that the last
// frame is never cut: "1500000us". 128 bits: frames * den * 10^6 may pass 2^63.
std::string duration_us(int64_t frames, int64_t num, int64_t den) {
    const __int128 us = (static_cast<__int128>(frames) * den * kMicrosecondsPerSecond + num - 1) /
                        num;
    return std::to_string(static_cast<int64_t>(us)) + "us";
}

// ffmpeg reads "name:rest" as a protocol; "file:" makes every path a plain file, whatever it
// holds (a colon, a leading dash).
std::string file_url(const std::string& path) { return "file:" + path; }

// Every occurrence of `from` in `text` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

const VideoContainer* video_container(const std::string& path) {
    for (const VideoContainer& c : kContainers) {
        const size_t n = std::strlen(c.extension);
        if (path.size() > n && strcasecmp(path.c_str() + path.size() - n, c.extension) == 0)
            return &c;
    }
    return nullptr;
}

bool is_x264_preset(const std::string& name) {
    for (const char* preset : kPresets)
        if (name == preset) return true;
    return false;
}

std::vector<std::string> ffmpeg_arguments(const VideoSettings& s) {
    const bool hd = s.width >= kHdWidth || s.height >= kHdHeight;
    const std::string matrix = hd ? "bt709" : "bt601";
    const std::string tag = hd ? "bt709" : "smpte170m";  // ffmpeg's names for the two
    std::vector<std::string> args = {
        kFfmpegProgram, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // Input 0: the frames, exactly as the compositor lays them out.
        "-f", "rawvideo", "-pixel_format", "bgr24",
        "-video_size", std::to_string(s.width) + "x" + std::to_string(s.height),
        "-framerate", std::to_string(s.rate_num) + "/" + std::to_string(s.rate_den),
        "-i", "pipe:0",
        // Input 1: the soundtrack.
        "-i", file_url(s.audio_path),
        "-map", "0:v:0", "-map", "1:a:0",
        // Full-range RGB into limited-range YUV with the size's matrix, tagged to match.
        "-vf", "scale=out_color_matrix=" + matrix + ":out_range=tv,format=yuv420p",
        "-colorspace", tag, "-color_primaries", tag, "-color_trc", tag, "-color_range", "tv",
        "-c:v", kVideoCodec, "-preset", s.preset.empty() ? kDefaultPreset : s.preset,
        "-crf", std::to_string(s.crf >= 0 ? s.crf : kDefaultCrf),
        "-c:a", kAudioCodec, "-b:a", kAudioBitrate,
        // Silence after the music (under the end card), and everything cut at the last frame.
        "-af", "apad", "-t", duration_us(s.frames, s.rate_num, s.rate_den)};
    const bool mp4 = std::strcmp(s.container->muxer, "mp4") == 0;
    if (mp4) args.insert(args.end(), {"-movflags", s.seekable ? kSeekableFlags : kStreamFlags});
    // A fragmented MP4 has no edit list to hide B-frames' reordering delay: its picture would
    // start two frames after its sound. Without B-frames both start, and end, together.
    if (mp4 && !s.seekable) args.insert(args.end(), {"-bf", "0"});
    args.insert(args.end(), {"-f", s.container->muxer, file_url(s.output_path)});
    return args;
}

std::string video_open(const VideoSettings& settings, VideoPipe* video) {
    if (find_on_path(kFfmpegProgram).empty())
        return std::string("--video needs ") + kFfmpegProgram +
               ", which is not installed (not found on PATH): install the Debian package " +
               kFfmpegPackage + " (apt-get install " + kFfmpegPackage + ")";
    video->output_path = settings.output_path;
    return child_start(ffmpeg_arguments(settings), &video->child);
}

std::string video_write(VideoPipe* video, const uint8_t* bgr, size_t bytes,
                        const std::string& name) {
    const std::string error = child_write(&video->child, bgr, bytes);
    if (error.empty() || error == kInterrupted) return error;
    // ffmpeg has ended early: its own account says why.
    const std::string reason = video_close(video, name);
    return reason.empty() ? "ffmpeg stopped taking frames: " + error : reason;
}

std::string video_close(VideoPipe* video, const std::string& name) {
    const ChildEnd end = child_finish(&video->child);
    if (end.ok) return "";
    if (end.log.find(kNoSpace) != std::string::npos)
        return "cannot write " + name + ": " + kNoSpace;
    const std::string last_line =
        replaced(replaced(end.last_log_line(), file_url(video->output_path), name),
                 video->output_path, name);
    return "ffmpeg failed (" + end.status + ")" + (last_line.empty() ? "" : ": " + last_line);
}

void video_kill(VideoPipe* video) { child_kill(&video->child); }
