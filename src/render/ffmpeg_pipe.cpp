#include "render/ffmpeg_pipe.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "common/stop_signal.h"
#include "render/atomic_output.h"

extern char** environ;

namespace {

// Encoding choices. libx264 in yuv420p is what every browser decodes. The frames are full of
// per-pixel noise, which no encoder can predict: at x264's default quality (CRF 23) a frame
// looks the same as the original side by side and the file takes about 2 MB a second of 60 fps
// video; CRF 20 adds a quarter to the size for no visible gain, CRF 30 halves it but smears the
// noise into blotches. "medium" is x264's own balance of speed and size. AAC at 192 kbit/s
// carries the soundtrack without audible loss.
constexpr const char* kVideoCodec = "libx264";
constexpr const char* kVideoPreset = "medium";
constexpr const char* kVideoQuality = "23";  // x264 constant rate factor: lower is better
constexpr const char* kPixelFormat = "yuv420p";
constexpr const char* kAudioCodec = "aac";
constexpr const char* kAudioBitrate = "192k";
// A seekable file gets its index moved to the front when it is finished, so a browser can start
// playing before the whole file arrives; a pipe cannot be rewritten, so there the index goes
// into every fragment instead.
constexpr const char* kSeekableFlags = "+faststart";
constexpr const char* kStreamFlags = "+frag_keyframe+empty_moov+default_base_moof";

constexpr int64_t kMicrosecondsPerSecond = 1000000;

// frames / fps seconds as ffmpeg's microsecond duration, rounded up so that the last frame is
// never cut: "1500000us".
std::string duration_us(int64_t frames, int32_t fps) {
    const int64_t whole = frames / fps;
    const int64_t part = ((frames % fps) * kMicrosecondsPerSecond + fps - 1) / fps;
    return std::to_string(whole * kMicrosecondsPerSecond + part) + "us";
}

// ffmpeg reads "name:rest" as a protocol; "file:" makes every path a plain file, whatever it
// holds (a colon, a leading dash).
std::string file_url(const std::string& path) { return "file:" + path; }

std::string exit_text(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Waits for the child, retrying when a signal interrupts the wait. False if it cannot be
// waited for at all.
bool wait_for(pid_t pid, int* status) {
    while (waitpid(pid, status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> ffmpeg_arguments(const VideoSettings& s) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    return {kFfmpegProgram,
            "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
            // Input 0: the frames, exactly as the compositor lays them out.
            "-f", "rawvideo", "-pixel_format", "bgr24", "-video_size", size,
            "-framerate", std::to_string(s.fps), "-i", "pipe:0",
            // Input 1: the soundtrack.
            "-i", file_url(s.audio_path),
            "-map", "0:v:0", "-map", "1:a:0",
            "-c:v", kVideoCodec, "-preset", kVideoPreset, "-crf", kVideoQuality,
            "-pix_fmt", kPixelFormat,
            "-c:a", kAudioCodec, "-b:a", kAudioBitrate,
            // Silence after the music (under the end card), and everything cut at the last frame.
            "-af", "apad", "-t", duration_us(s.frames, s.fps),
            "-movflags", s.seekable ? kSeekableFlags : kStreamFlags,
            "-f", "mp4", file_url(s.output_path)};
}

std::string find_on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

std::string video_open(const VideoSettings& settings, VideoPipe* video) {
    const std::string program = find_on_path(kFfmpegProgram);
    if (program.empty())
        return std::string("--video needs ") + kFfmpegProgram +
               ", which is not installed (not found on PATH): install the Debian package " +
               kFfmpegPackage + " (apt-get install " + kFfmpegPackage + ")";

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return std::string("cannot start ffmpeg: ") + std::strerror(errno);

    std::vector<std::string> args = ffmpeg_arguments(settings);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The child gets the read end as standard input and nothing on standard output (the file
    // is named on its command line); standard error stays shared, for ffmpeg's own complaints.
    // It starts with default signal actions and in its own process group.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int spawn_error =
        posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (spawn_error != 0) {
        close(fds[1]);
        return "cannot start " + program + ": " + std::strerror(spawn_error);
    }
    video->pid = pid;
    video->fd = fds[1];
    return "";
}

std::string video_write(VideoPipe* video, const uint8_t* bgr, size_t bytes) {
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = write(video->fd, bgr + done, bytes - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // EPIPE: ffmpeg has ended early; its own message is already on standard error.
            return std::string("ffmpeg stopped taking frames: ") + std::strerror(errno);
        } else if (n < 0 && stop_signal() != 0) {
            return "interrupted";  // the caller sees by which signal
        }
    }
    return "";
}

std::string video_close(VideoPipe* video) {
    if (video->pid < 0) return "";
    close(video->fd);
    video->fd = -1;
    int status = 0;
    const bool waited = wait_for(video->pid, &status);
    video->pid = -1;
    if (!waited) return std::string("cannot wait for ffmpeg: ") + std::strerror(errno);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    return "ffmpeg failed (" + exit_text(status) + ")";
}

void video_kill(VideoPipe* video) {
    if (video->pid < 0) return;
    kill(video->pid, SIGKILL);
    close(video->fd);
    video->fd = -1;
    int status = 0;
    wait_for(video->pid, &status);
    video->pid = -1;
}
