// Making any music file into the one layout the demo plays: ffmpeg's command for it, and the
// words that go with it. The one home of the conversion: the starglobe command and the
// renderer run exactly these arguments (import/prepare.h), and every piece of advice to people
// (the renderer's, the web page's, the manuals') is this command.
//
//     std::vector<std::string> args = conversion_arguments("in.mp3", "out.wav");
//     std::string advice = conversion_advice("my song (live).mp3");
#pragma once
#include <string>
#include <vector>

// The program that converts and the one that looks inside files, and their Debian package.
constexpr const char* kFfmpegProgram = "ffmpeg";
constexpr const char* kFfprobeProgram = "ffprobe";
constexpr const char* kFfmpegPackage = "ffmpeg";

// Why a file that looked like sound gave none: ffmpeg probed it as audio (or the browser took
// it) but decoding it gave no samples.
constexpr const char* kNoAudioDecoded = "no audio could be decoded from it";

// `path` as ffmpeg and ffprobe must be given it: they read "name:rest" as a protocol, and
// "file:" makes every path a plain file, whatever it holds (a colon, a leading dash).
std::string file_url(const std::string& path);

// ffmpeg's command line that writes the first audio stream of `input` to `output` as 16-bit
// stereo PCM at 44,100 Hz with the plain 44-byte header: no metadata chunk, nothing else.
// Program name first. For people (`for_people`) without the options that only keep a program's
// run quiet, and with plain names instead of ffmpeg's file: URLs ("./" before a name ffmpeg
// would read as an option or a protocol: "./-bad.wav").
std::vector<std::string> conversion_arguments(const std::string& input, const std::string& output,
                                              bool for_people = false);

// "ffmpeg -i 'my song (live).mp3' ... 'my song (live).wav'": how a person makes `input` into a
// file in the layout, quoted for a POSIX shell.
std::string conversion_advice(const std::string& input);

// A length for people: "6 hours 45 minutes", "59 minutes", "1 hour". Whole minutes, rounded
// down, so that a limit is never overstated.
std::string hours_and_minutes(double seconds);

// A length to the second, rounded down so that it never overstates: "7 hours 1 minute",
// "6 hours 45 minutes 48 seconds".
std::string length_in_words(double seconds);

// The layout in words: "16-bit stereo PCM at 44,100 Hz" (the samples), and the same "with the
// plain 44-byte header" (the whole file).
std::string pcm_in_words();
std::string layout_in_words();
