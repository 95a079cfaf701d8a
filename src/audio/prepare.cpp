#include "audio/prepare.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "audio/convert.h"
#include "audio/wav_loader.h"
#include "common/child_process.h"
#include "common/wav_format.h"

namespace {

constexpr const char* kConvertedName = "converted.wav";
constexpr double kSecondsPerMinute = 60.0;
constexpr const char* kScratchPattern = "/starglobe.XXXXXX";  // mkdtemp fills the Xs

std::string quoted(const std::string& file) { return "'" + file + "'"; }

// Whether the file's first 44 bytes and size are those of the layout.
bool in_demo_layout(int fd, uint64_t size) {
    uint8_t header[kWavHeaderBytes];
    uint32_t data_bytes = 0;
    return pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
           check_wav_header(header, size, &data_bytes) == WavStatus::ok;
}

// ffprobe's view of the file: whether it has an audio stream and, when known, how long it
// lasts in seconds (negative when ffprobe cannot tell, as for some streams).
struct Probe {
    bool audio = false;
    double seconds = -1.0;
};

Outcome probe(const std::string& file, Probe* found) {
    ChildProcess child;
    ChildOptions options;
    options.input = ChildInput::none;
    options.output = ChildOutput::capture;
    Outcome started = child_start(
        {kFfprobeProgram, "-v", "error", "-select_streams", "a:0", "-show_entries",
         "stream=codec_type:format=duration", "-of", "default=noprint_wrappers=1", "file:" + file},
        options, &child);
    if (!started) return started;
    bool stopped = false;
    const ChildEnd end = child_wait(&child, &stopped);
    if (stopped) return interrupted();
    // ffprobe fails on what it cannot read at all: that is an answer, "no audio"; only a
    // ffprobe that did not run properly (killed, missing libraries) is a failure.
    if (!end.exited)
        return failed("ffprobe could not look into " + quoted(file) + " (" + end.status + ")");
    found->audio = end.output.find("codec_type=audio") != std::string::npos;
    const size_t at = end.output.find("duration=");
    if (at != std::string::npos) {
        const char* text = end.output.c_str() + at + std::strlen("duration=");
        char* stop = nullptr;
        const double seconds = std::strtod(text, &stop);
        if (stop != text && seconds >= 0.0) found->seconds = seconds;
    }
    return {};
}

Outcome make_scratch(ScratchFolder* scratch) {
    if (!scratch->path.empty()) return {};
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + kScratchPattern;
    if (!mkdtemp(path.data()))
        return failed("cannot make a temporary folder in " + path.substr(0, path.rfind('/')) +
                      ": " + std::strerror(errno));
    scratch->path = path;
    return {};
}

Outcome too_long(const std::string& file, double seconds) {
    // Its length in whole minutes rounded up, so that it never reads as the limit itself.
    const double minutes_up = std::ceil(seconds / kSecondsPerMinute) * kSecondsPerMinute;
    return failed(quoted(file) + " lasts " + hours_and_minutes(minutes_up) +
                  "; the demo plays music of at most " + hours_and_minutes(kWavMaxSeconds));
}

}  // namespace

ScratchFolder::~ScratchFolder() { scratch_remove(this); }

void scratch_remove(ScratchFolder* scratch) {
    if (scratch->path.empty()) return;
    std::error_code ignored;  // nothing more can be done about a file that will not go
    std::filesystem::remove_all(scratch->path, ignored);
    scratch->path.clear();
}

Outcome prepare_soundtrack(const std::string& file, ScratchFolder* scratch, const Say& say,
                           PreparedSoundtrack* ready) {
    *ready = PreparedSoundtrack{};
    // Without O_NONBLOCK a named pipe would hold the open until something writes to it.
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed("cannot read " + quoted(file) + ": " + std::strerror(errno));
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool as_it_is = regular && in_demo_layout(fd, uint64_t(st.st_size));
    close(fd);
    if (!regular) return failed("cannot read " + quoted(file) + ": not a regular file");
    ready->path = file;
    if (as_it_is) return {};

    if (find_on_path(kFfmpegProgram).empty() || find_on_path(kFfprobeProgram).empty())
        return failed(quoted(file) + " is not a WAV the demo plays as it is (" + layout_in_words() +
                      "); converting it needs ffmpeg: sudo apt-get install " + kFfmpegPackage);
    Probe found;
    if (Outcome probed = probe(file, &found); !probed) return probed;
    if (!found.audio) {
        ready->not_audio = true;
        return {};
    }
    if (found.seconds > kWavMaxSeconds) return too_long(file, found.seconds);

    if (Outcome made = make_scratch(scratch); !made) return made;
    ready->path = scratch->path + "/" + kConvertedName;
    ready->converted = true;
    say("converting " + quoted(file) + " with ffmpeg to " + pcm_in_words());
    std::vector<std::string> args = conversion_arguments(file, ready->path);
    // Music whose length ffprobe cannot tell is cut one second past what the layout holds, so
    // that an endless stream ends and too long a file shows by its size.
    if (found.seconds < 0.0)
        args.insert(args.end() - 1, {"-t", std::to_string(kWavMaxSeconds + 1.0)});
    ChildProcess child;
    ChildOptions options;
    options.input = ChildInput::none;
    if (Outcome started = child_start(args, options, &child); !started) return started;
    bool stopped = false;
    const ChildEnd end = child_wait(&child, &stopped);
    if (stopped) return interrupted();
    struct stat converted;
    const bool made = stat(ready->path.c_str(), &converted) == 0;
    if (!end.ok) {
        const std::string why = end.last_log_line();
        // Probed as audio, yet no sample came out (zero bytes named .mp3 end with "Error
        // configuring filter graph"): the reason first, ffmpeg's own words after it.
        if (!made || uint64_t(converted.st_size) <= kWavHeaderBytes)
            return failed("ffmpeg could not convert " + quoted(file) + ": " + kNoAudioDecoded +
                          (why.empty() ? "" : " (" + why + ")"));
        return failed("ffmpeg could not convert " + quoted(file) + (why.empty() ? "" : ": " + why));
    }
    if (made && uint64_t(converted.st_size) > kWavHeaderBytes + kWavMaxDataBytes)
        return failed(quoted(file) + " lasts longer than the " + hours_and_minutes(kWavMaxSeconds) +
                      " of music the demo plays at most");
    return {};
}
