#include "import/prepare.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/convert.h"
#include "audio/wav_loader.h"
#include "common/quoting.h"
#include "common/wav_format.h"
#include "system/child_process.h"

namespace {

constexpr const char* kConvertedName = "converted.wav";
// A span is converted this much past its end: the analysis of a pass reads the sample at its
// time, rounded down, so a second more covers every pass the span holds with room to spare.
constexpr double kSpanMarginSeconds = 1.0;
// No music lasts longer than this (about 32 years): a prober that says more, or gives no
// finite number, is taken to know nothing of the length.
constexpr double kMostBelievableSeconds = 1e9;

// Owns a descriptor: closed when it goes out of scope.
struct OpenFile {
    int fd = -1;
    explicit OpenFile(int opened) : fd(opened) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd >= 0) close(fd);
    }
};

// The name under which a helper finds the file we opened and checked: the descriptor it
// inherits, opened afresh (so seekable, from its start, whatever our own position).
std::string passed_file() { return "/dev/fd/" + std::to_string(kChildPassedFd); }

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

Outcome probe(const std::string& file, int fd, const Say& say, Probe* found) {
    ChildProcess child;
    ChildOptions options;
    options.input = ChildInput::none;
    options.output = ChildOutput::capture;
    options.passed = fd;
    Outcome started = child_start({kFfprobeProgram, "-v", "error", "-select_streams", "a:0",
                                   "-show_entries", "stream=codec_type:format=duration", "-of",
                                   "default=noprint_wrappers=1", file_url(passed_file())},
                                  options, &child);
    if (!started) return started;
    const ChildEnd end = child_wait(&child);
    if (end.fate == ChildFate::interrupted) return interrupted();
    // ffprobe fails on what it cannot read at all: that is an answer, "no audio"; only a
    // ffprobe that did not run properly (killed, missing libraries) is a failure.
    if (end.fate != ChildFate::exited)
        return failed("ffprobe could not look into " + quoted(file) + " (" + child_status(end) +
                      ")");
    // Two short lines are the whole answer; more is a broken ffprobe, whose words are not kept.
    if (end.output_cut)
        return failed("ffprobe answered with " + std::to_string(kChildOutputBytes) +
                      " bytes or more about " + quoted(file) + ", where two short lines were " +
                      "asked for: is the ffprobe on PATH broken?");
    found->audio = end.output.find("codec_type=audio") != std::string::npos;
    const size_t at = end.output.find("duration=");
    if (at != std::string::npos) {
        const std::string text =
            end.output.substr(at + std::strlen("duration="),
                              end.output.find('\n', at) - at - std::strlen("duration="));
        char* stop = nullptr;
        const double seconds = std::strtod(text.c_str(), &stop);
        const bool number = stop != text.c_str();
        if (number && std::isfinite(seconds) && seconds >= 0.0 &&
            seconds <= kMostBelievableSeconds) {
            found->seconds = seconds;
        } else if (number) {
            say("ffprobe gives " + quoted(file) + " an impossible length (" + printable(text) +
                " seconds): taken as unknown");
        }
    }
    return {};
}

Outcome too_long(const std::string& file, double seconds) {
    return failed(quoted(file) + " lasts " + length_in_words(seconds) +
                  "; the demo plays music of at most " + hours_and_minutes(kWavMaxSeconds));
}

}  // namespace

Outcome prepare_soundtrack(const std::string& file, double needed_s, ScratchFolder* scratch,
                           const Say& say, PreparedSoundtrack* ready) {
    *ready = PreparedSoundtrack{};
    // Without O_NONBLOCK a named pipe would hold the open until something writes to it. Kept
    // open: what the helpers read is this file, the one checked here.
    const OpenFile opened(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (opened.fd < 0) return failed("cannot read " + quoted(file) + ": " + std::strerror(errno));
    struct stat st {};
    const bool regular = fstat(opened.fd, &st) == 0 && S_ISREG(st.st_mode);
    // A pipe would have to be read twice, by ffprobe and by ffmpeg: the file itself is needed.
    if (!regular)
        return failed("cannot read " + quoted(file) + ": not a regular file" +
                      (S_ISFIFO(st.st_mode) ? " but a pipe, which cannot be read twice; give the "
                                              "file itself, or redirect from it (<FILE)"
                                            : ""));
    ready->path = file;
    if (in_demo_layout(opened.fd, uint64_t(st.st_size))) return {};

    if (find_on_path(kFfmpegProgram).empty() || find_on_path(kFfprobeProgram).empty())
        return failed(quoted(file) + " is not a WAV the demo plays as it is (" + layout_in_words() +
                      "); converting it needs ffmpeg: sudo apt-get install " + kFfmpegPackage);
    Probe found;
    if (Outcome probed = probe(file, opened.fd, say, &found); !probed) return probed;
    if (!found.audio) {
        ready->not_audio = true;
        return {};
    }
    // A span the layout holds is converted alone; anything more needs the music whole.
    const bool span = needed_s <= kWavMaxSeconds;
    if (!span && found.seconds > kWavMaxSeconds) return too_long(file, found.seconds);

    if (Outcome made = scratch_make(scratch); !made) return made;
    ready->path = scratch->path + "/" + kConvertedName;
    ready->converted = true;
    say("converting " + quoted(file) + " with ffmpeg to " + pcm_in_words());
    std::vector<std::string> args = conversion_arguments(passed_file(), ready->path);
    // Bounded whatever the header claims (a header can lie, a stream can be endless): the span
    // and its margin, or one second past what the layout holds, so that too long a file shows
    // by its size. The size bound, a second's bytes beyond, holds if the length is misjudged.
    const double cut_s =
        span ? std::min(needed_s + kSpanMarginSeconds, kWavMaxSeconds) : kWavMaxSeconds + 1.0;
    const uint64_t most_bytes = kWavHeaderBytes + uint64_t(std::ceil(cut_s + 1.0)) * kWavByteRate;
    args.insert(args.end() - 1, {"-t", std::to_string(cut_s), "-fs", std::to_string(most_bytes)});
    ChildProcess child;
    ChildOptions options;
    options.input = ChildInput::none;
    options.passed = opened.fd;
    if (Outcome started = child_start(args, options, &child); !started) return started;
    const ChildEnd end = child_wait(&child);
    if (end.fate == ChildFate::interrupted) return interrupted();
    struct stat converted;
    const bool made = stat(ready->path.c_str(), &converted) == 0;
    if (!end.ok()) {
        // ffmpeg names the input by the name it was given, ours for the descriptor; the message
        // names the file already.
        std::string why = end.last_log_line();
        const std::string input = file_url(passed_file()) + ": ";
        if (why.rfind(input, 0) == 0) why.erase(0, input.size());
        // Probed as audio, yet no sample came out (zero bytes named .mp3 end with "Error
        // configuring filter graph"): the reason first, ffmpeg's own words after it.
        if (!made || uint64_t(converted.st_size) <= kWavHeaderBytes)
            return failed("ffmpeg could not convert " + quoted(file) + ": " + kNoAudioDecoded +
                          (why.empty() ? "" : " (" + why + ")"));
        return failed("ffmpeg could not convert " + quoted(file) + (why.empty() ? "" : ": " + why));
    }
    if (!span && made && uint64_t(converted.st_size) > kWavHeaderBytes + kWavMaxDataBytes)
        return failed(quoted(file) + " lasts longer than the " + hours_and_minutes(kWavMaxSeconds) +
                      " of music the demo plays at most");
    return {};
}

std::string refusal_line(const std::string& file, const PreparedSoundtrack& ready,
                         const WavFile& wav) {
    const std::string why = describe_wav(wav);
    if (ready.not_audio) return quoted(file) + " is not audio ffmpeg can read: " + why;
    if (ready.converted) return quoted(file) + ": ffmpeg's copy of it was refused: " + why;
    return quoted(file) + ": " + why;
}
