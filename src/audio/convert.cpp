#include "audio/convert.h"

#include <cmath>

#include "common/quoting.h"
#include "common/timeline.h"
#include "common/wav_format.h"
#include "common/wording.h"

namespace {

std::string counted(long n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

// The same protection for a command people type, where "file:" would puzzle: "./" before a
// relative name that ffmpeg would take for an option ("-bad.wav") or a protocol ("a:b.mp3").
std::string path_for_people(const std::string& path) {
    const bool option = !path.empty() && path[0] == '-';
    const bool protocol = path.find(':') < path.find('/');
    return option || protocol ? "./" + path : path;
}

// `input` with its extension replaced by .wav (or .wav added), for the advice's output name.
std::string wav_name_for(const std::string& input) {
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    const bool has_extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = has_extension ? input.substr(0, dot) : input;
    const std::string name = stem + ".wav";
    return name == input ? stem + "-converted.wav" : name;
}

}  // namespace

std::string file_url(const std::string& path) { return "file:" + path; }

std::vector<std::string> conversion_arguments(const std::string& input, const std::string& output,
                                              bool for_people) {
    std::vector<std::string> args = {kFfmpegProgram};
    if (!for_people) args.insert(args.end(), {"-nostdin", "-v", "error"});
    args.insert(
        args.end(),
        {"-i", for_people ? path_for_people(input) : file_url(input),
         // The first audio stream only; cover pictures and the like stay behind.
         "-map", "0:a:0",
         // No LIST chunk of metadata between "fmt " and "data", which the demo refuses.
         "-fflags", "+bitexact", "-flags:a", "+bitexact", "-map_metadata", "-1", "-c:a",
         "pcm_s16le", "-ac", std::to_string(kWavChannels), "-ar", std::to_string(kSampleRateHz)});
    if (!for_people) args.insert(args.end(), {"-f", "wav"});
    args.push_back(for_people ? path_for_people(output) : file_url(output));
    return args;
}

std::string conversion_advice(const std::string& input) {
    std::string command;
    for (const std::string& arg : conversion_arguments(input, wav_name_for(input), true))
        command += (command.empty() ? "" : " ") + shell_quoted(arg);
    return command;
}

std::string hours_and_minutes(double seconds) {
    const long minutes = std::lround(std::floor(seconds / kSecondsPerMinute));
    const long hours = minutes / kMinutesPerHour, rest = minutes % kMinutesPerHour;
    if (hours == 0) return counted(rest, "minute");
    return counted(hours, "hour") + (rest ? " " + counted(rest, "minute") : "");
}

std::string length_in_words(double seconds) {
    const long whole = std::lround(std::floor(seconds));
    const long rest = whole % kSecondsPerMinute;
    const std::string minutes = hours_and_minutes(double(whole - rest));
    if (whole < kSecondsPerMinute) return counted(rest, "second");
    return minutes + (rest ? " " + counted(rest, "second") : "");
}

std::string pcm_in_words() {
    return std::to_string(kWavBitsPerSample) + "-bit stereo PCM at " + grouped(kSampleRateHz) +
           " Hz";
}

std::string layout_in_words() {
    return pcm_in_words() + " with the plain " + std::to_string(kWavHeaderBytes) + "-byte header";
}
