#include "render/output_video.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "audio/convert.h"
#include "common/picture.h"
#include "common/quoting.h"
#include "common/timeline.h"
#include "system/stop_signal.h"

namespace {

// Encoding choices, measured on a two-core x86-64 machine on the soundtrack's loudest 15 s at
// 400 x 300 and 60 fps, in CPU seconds (its other load aside). The frames are full of
// per-pixel noise, which no encoder predicts well, so x264's slower presets buy little:
//   medium    CRF 23  29.2 CPU s  42.3 MB  PSNR 27.4 dB
//   veryfast  CRF 22   8.7 CPU s  41.6 MB  PSNR 27.1 dB
//   superfast CRF 22   6.1 CPU s  41.4 MB  PSNR 27.1 dB
//   ultrafast CRF 23   2.2 CPU s  49.5 MB  PSNR 27.1 dB
// superfast at CRF 22 keeps medium's size and nearly its fidelity at a fifth of the work: 2.5x
// real time on one core, so with the rest of a run still well ahead of real time on two.
constexpr const char* kVideoCodec = "libx264";
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
// Less room than this in the output's folder after ffmpeg failed means the disk ran full: one
// of its writes (its buffer is 32 KiB) and a block to spare.
constexpr uint64_t kRoomForAWrite = uint64_t{64} << 10;
constexpr const char* kStdoutUrl = "pipe:1";

constexpr int64_t kMicrosecondsPerSecond = 1000000;

constexpr VideoContainer kContainers[] = {{".mp4", "mp4"}, {".mkv", "matroska"}};
constexpr VideoContainer kStreamContainer = kContainers[1];  // what "-" gets
constexpr const char* kPresets[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                    "medium",    "slow",      "slower",   "veryslow"};

// frames * den / num seconds as ffmpeg's microsecond duration, rounded up so that the last
// frame is never cut: "1500000us". 128 bits: frames * den * 10^6 may pass 2^63.
std::string duration_us(int64_t frames, int64_t num, int64_t den) {
    const __int128 us =
        (static_cast<__int128>(frames) * den * kMicrosecondsPerSecond + num - 1) / num;
    return std::to_string(static_cast<int64_t>(us)) + "us";
}

// Every occurrence of `from` in `text` replaced by `to`: ffmpeg's messages name the file it
// wrote, which for the user is the output they asked for.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Whether the file system that ffmpeg writes to, the one holding `path` or, for "", the one
// holding the regular file on our standard output, has no room left for another write: the
// fact behind a failure, asked of the system rather than read from ffmpeg's wording.
bool no_room_for(const std::string& path) {
    struct statvfs fs;
    if (path.empty()) {
        struct stat st;
        if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode) ||
            fstatvfs(STDOUT_FILENO, &fs) != 0)
            return false;
    } else {
        const size_t slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        if (statvfs(folder.c_str(), &fs) != 0) return false;
    }
    if (fs.f_blocks == 0) return false;
    // The blocks kept for the superuser are ffmpeg's too when it runs as one.
    const uint64_t blocks = geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    return blocks * fs.f_frsize < kRoomForAWrite;
}

// Whether the reader of our standard output has gone away (a pipe's read end closed).
bool stdout_reader_gone() {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    return poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
}

}  // namespace

const VideoContainer* video_container(const std::string& path) {
    for (const VideoContainer& c : kContainers)
        if (path.size() > std::strlen(c.extension) && ends_with(path, c.extension)) return &c;
    return nullptr;
}

bool is_x264_preset(const std::string& name) {
    for (const char* preset : kPresets)
        if (name == preset) return true;
    return false;
}

std::string x264_presets_text() {
    std::string text;
    for (const char* preset : kPresets) text += (text.empty() ? "" : ", ") + std::string(preset);
    return text;
}

Outcome video_take(const char* option, const std::string& value) {
    const std::string name = option;
    if (value.empty()) return failed(name + " needs a file name ending in .mp4 or .mkv, or -");
    if (ends_with(value, ".webm"))
        return failed(name +
                      ": .webm is not offered: VP9 encodes this picture's noise slower than "
                      "real time on two cores and at a third of H.264's fidelity; use .mp4 or "
                      ".mkv");
    if (value != kStdoutName && !names_standard_output(value) && video_container(value) == nullptr)
        return failed(name + " wants a name ending in .mp4 or .mkv, or -, not " + quoted(value));
    return {};
}

Outcome video_check(const RenderOptions&, const Framing& f) {
    // yuv420p keeps one colour sample per 2 x 2 pixels, so x264 takes even sides only.
    if (f.width % 2 != 0 || f.height % 2 != 0)
        return failed("--size for --video wants an even width and height");
    if (f.width > kMaxVideoSide || f.height > kMaxVideoSide)
        return failed("--video takes frames of at most " + std::to_string(kMaxVideoSide) + "x" +
                      std::to_string(kMaxVideoSide) + " (ffmpeg cannot take " +
                      std::to_string(f.width) + "x" + std::to_string(f.height) + ")");
    return {};
}

std::vector<std::string> ffmpeg_arguments(const VideoSettings& s) {
    const bool hd = s.width >= kHdWidth || s.height >= kHdHeight;
    const std::string matrix = hd ? "bt709" : "bt601";
    const std::string tag = hd ? "bt709" : "smpte170m";  // ffmpeg's names for the two
    const bool large = int64_t{s.width} * s.height >= kLargeFramePixels;
    const std::string preset = !s.preset.empty() ? s.preset
                               : large           ? kLargeFramePreset
                                                 : kDefaultPreset;
    char start[32];
    std::snprintf(start, sizeof start, "%.6f", s.audio_start_s);
    std::vector<std::string> args = {
        kFfmpegProgram, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // Input 0: the frames, exactly as the compositor lays them out.
        "-f", "rawvideo", "-pixel_format", "bgr24", "-video_size",
        std::to_string(s.width) + "x" + std::to_string(s.height), "-framerate",
        std::to_string(s.rate_num) + "/" + std::to_string(s.rate_den), "-i", "pipe:0"};
    // Input 1: the music, from the first frame's time on.
    if (s.audio_start_s > 0.0) args.insert(args.end(), {"-ss", start});
    args.insert(
        args.end(),
        {"-i", file_url(s.audio_path), "-map", "0:v:0", "-map", "1:a:0",
         // Full-range RGB into limited-range YUV with the size's matrix, tagged to match.
         "-vf", "scale=out_color_matrix=" + matrix + ":out_range=tv,format=yuv420p", "-colorspace",
         tag, "-color_primaries", tag, "-color_trc", tag, "-color_range", "tv", "-c:v", kVideoCodec,
         "-preset", preset, "-crf",
         std::to_string(s.crf >= 0 ? s.crf
                        : large    ? kLargeFrameCrf
                                   : kDefaultCrf),
         "-c:a", kAudioCodec, "-b:a", kAudioBitrate,
         // Silence after the music (under the end card), and everything cut at the last frame.
         "-af", "apad", "-t", duration_us(s.frames, s.rate_num, s.rate_den)});
    const bool mp4 = std::strcmp(s.container->muxer, "mp4") == 0;
    if (mp4) args.insert(args.end(), {"-movflags", s.seekable ? kSeekableFlags : kStreamFlags});
    // A fragmented MP4 has no edit list to hide B-frames' reordering delay: its picture would
    // start two frames after its sound. Without B-frames both start, and end, together.
    if (mp4 && !s.seekable) args.insert(args.end(), {"-bf", "0"});
    args.insert(args.end(), {"-f", s.container->muxer,
                             s.output_path.empty() ? kStdoutUrl : file_url(s.output_path)});
    return args;
}

Outcome output_open(VideoOutput* out, const std::string& path, const RunInfo& run) {
    out->name = output_name(path);
    // Without ffmpeg nothing is made: only what to install is said.
    if (find_on_path(kFfmpegProgram).empty())
        return failed(std::string("--video needs ") + kFfmpegProgram +
                      ", which is not installed (not found on PATH): install the Debian "
                      "package " +
                      kFfmpegPackage + " (apt-get install " + kFfmpegPackage + ")");
    if (Outcome o = output_begin(path, OutputShape::file_or_stdout, &out->target); !o) return o;
    VideoSettings& s = out->settings;
    const bool to_stdout = out->target.way == OutputWay::to_stdout;
    s.container = video_container(path);
    if (!s.container) s.container = &kStreamContainer;
    s.output_path = to_stdout ? "" : out->target.write_path;
    s.seekable = out->target.way == OutputWay::replaced;
    s.audio_path = run.soundtrack.path;
    s.audio_start_s = frame_time_ms(run.plan.first_frame, run.plan.fps) / kMsPerSecond;
    s.rate_num = run.plan.fps.num;
    s.rate_den = run.plan.fps.den;
    s.frames = run.plan.frames();
    s.width = run.framing.width;
    s.height = run.framing.height;
    s.crf = run.options.crf;
    s.preset = run.options.preset;
    ChildOptions options;
    options.output = to_stdout ? ChildOutput::inherit : ChildOutput::discard;
    return child_start(ffmpeg_arguments(s), options, &out->ffmpeg);
}

Outcome output_frame(VideoOutput* out, const FrameView& frame) {
    const size_t frame_bytes =
        size_t(out->settings.width) * size_t(out->settings.height) * kImageBytesPerPixel;
    const Outcome written = child_write(&out->ffmpeg, frame.framed, frame_bytes);
    if (written || written.kind == OutcomeKind::interrupted) return written;
    // ffmpeg has ended early: its own account says why.
    const Outcome reason = output_complete(out);
    return reason ? failed("ffmpeg stopped taking frames: " + written.message) : reason;
}

Outcome output_complete(VideoOutput* out) {
    const ChildEnd end = child_wait(&out->ffmpeg);
    if (end.ok()) return {};
    if (end.fate == ChildFate::interrupted) return interrupted();
    if (out->target.way == OutputWay::to_stdout && stdout_reader_gone()) return reader_gone();
    const std::string& written = out->settings.output_path;
    if (no_room_for(written))
        return failed("cannot write " + quoted(out->name) + ": " + std::strerror(ENOSPC));
    const std::string last_line =
        replaced(replaced(end.last_log_line(), file_url(written), quoted(out->name)), written,
                 quoted(out->name));
    return failed("ffmpeg failed (" + child_status(end) + ")" +
                  (last_line.empty() ? "" : ": " + last_line));
}
