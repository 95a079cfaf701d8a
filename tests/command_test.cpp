// The starglobe command as people run it (the launcher of the build tree, which becomes the
// demo program): any music file, the lines it adds where the user can act, and Ctrl-C as a
// terminal sends it, during the conversion and during play.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio/convert.h"
#include "common/build_info.h"
#include "common/stop_flag.h"
#include "common/wav_format.h"
#include "common/wording.h"
#include "driver/command.h"
#include "frame/flash_measure.h"
#include "frame/view.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

const std::string kCommand = kBuildDir + "/launcher/starglobe";

// A folder for one case: a private TMPDIR (to see that nothing is left there), a bin/ for
// stand-ins of ffmpeg and ffprobe, and the music.
struct Case {
    TempDir dir;
    std::vector<std::string> env;
    Case() {
        std::filesystem::create_directories(dir.file("tmp"));
        std::filesystem::create_directories(dir.file("bin"));
        env = {kHeadless[0], kHeadless[1], "TMPDIR=" + dir.file("tmp"),
               "PATH=" + dir.file("bin") + ":" + std::getenv("PATH")};
    }
    // A stand-in program in bin/, ahead of the real one on PATH.
    void stand_in(const std::string& name, const std::string& script) const {
        const std::string text = "#!/bin/sh\n" + script + "\n";
        write_file(dir.file("bin/" + name), std::vector<uint8_t>(text.begin(), text.end()));
        chmod(dir.file("bin/" + name).c_str(), 0755);
    }
    bool temp_empty() const { return names_in(dir.file("tmp")).empty(); }
};

// A file whose first four bytes tell the stand-ins below what to do with it.
void write_marked(const Case& c, const std::string& name, const std::string& mark) {
    std::vector<uint8_t> bytes(mark.begin(), mark.end());
    bytes.resize(100, 'm');
    write_file(c.dir.file(name), bytes);
}

TEST(Command, SaysWhatIsWrongWhereTheUserCanActAndKeepsTheDemosLinesAndStatus) {
    Case c;
    write_file(c.dir.file("notes.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
    write_file(c.dir.file("tiny.wav"), {'R', 'I', 'F', 'F'});
    write_file(c.dir.file("song.wav"), tone_wav(0.3));
    // The stand-ins read the file they are handed, as the real ones do, never its name.
    // An hour-long stream ffprobe calls 7 h 1 min long: refused before any converting, its
    // length not overstated. A length that is no number, a flood of words; a failing ffmpeg
    // whose complaint holds an escape that would clear the screen.
    c.stand_in("ffprobe",
               "case $(head -c 4 /dev/fd/3) in LONG) echo codec_type=audio; echo duration=25260.9;;"
               " HUGE) echo codec_type=audio; echo duration=1e400;;"
               " FLOD) echo codec_type=audio; yes | head -c 100000;;"
               " ESCC) echo codec_type=audio;; *) exec /usr/bin/ffprobe \"$@\";; esac");
    c.stand_in("ffmpeg",
               "case $(head -c 4 /dev/fd/3) in ESCC) printf 'bad\\033[2J\\tnews\\n' >&2; exit 1;;"
               " *) exec /usr/bin/ffmpeg \"$@\";; esac");
    write_marked(c, "long.mp3", "LONG");
    write_marked(c, "huge.mp3", "HUGE");
    write_marked(c, "flood.mp3", "FLOD");
    write_marked(c, "\033[2J.mp3", "ESCC");
    const std::vector<std::string> no_display = {
        "SDL_VIDEODRIVER=", "DISPLAY=", "WAYLAND_DISPLAY=wayland-0", kHeadless[1]};
    const struct {
        std::vector<std::string> args, env;
        int status;
        std::string out, err;
    } cases[] = {
        // The loader's lines as they are, then the reason the renderer and the page give.
        {{"notes.txt"},
         {},
         255,
         "Failed to load WAV\n",
         "starglobe: 'notes.txt' is not audio ffmpeg can read: only 6 bytes, too short for a "
         "WAV file\n"},
        {{"tiny.wav"}, {}, 255, "Failed to load WAV\n", "'tiny.wav' is not audio"},
        {{"long.mp3"},
         {},
         1,
         "",
         "starglobe: 'long.mp3' lasts 7 hours 1 minute; the demo plays "
         "music of at most 6 hours 45 minutes\n"},
        {{"huge.mp3"},
         {},
         1,
         "",
         "starglobe: ffprobe gives 'huge.mp3' an impossible length (1e400 seconds): taken as "
         "unknown\n"},
        {{"flood.mp3"},
         {},
         1,
         "",
         "starglobe: ffprobe answered with 4096 bytes or more about 'flood.mp3', where two short "
         "lines were asked for: is the ffprobe on PATH broken?\n"},
        // Names as coreutils quotes them, a helper's complaint without control characters.
        {{"\033[2J.mp3"},
         {},
         1,
         "",
         "starglobe: ffmpeg could not convert ''$'\\033''[2J.mp3': no audio could be decoded "
         "from it (bad[2J news)\n"},
        {{"song.wav"},
         {kHeadless[0], "SDL_AUDIODRIVER=no-such-driver"},
         255,
         "",
         "SDL_AUDIODRIVER=dummy starglobe"},
        // Only a Wayland session: SDL 1.2 would draw ASCII art into the terminal.
        {{"song.wav"},
         no_display,
         1,
         "",
         "starglobe: no X display: starglobe needs an X "
         "server (or XWayland, under Wayland)"},
        {{"--loud"}, {}, 2, "", "starglobe: unknown option '--loud' (see starglobe --help)\n"},
        {{"a.wav", "b.wav"}, {}, 2, "", "only one FILE"},
        // The word after --listen is the source, even where it names a file.
        {{"--listen", "song.wav", "song.wav"}, {}, 2, "", "--listen plays no FILE"},
    };
    for (const auto& k : cases) {
        std::vector<std::string> env = c.env;
        env.insert(env.end(), k.env.begin(), k.env.end());
        std::vector<std::string> argv = {kCommand};
        argv.insert(argv.end(), k.args.begin(), k.args.end());
        const ProcessResult r = run_program(argv, c.dir.path, env);
        EXPECT_EQ(r.exit_code, k.status) << k.args[0] << ": " << r.out << r.err;
        // The demo's own lines as they are; SDL's one line where the case names none.
        const bool sdls_line = k.status == 255 && k.out.empty();
        EXPECT_TRUE(sdls_line ? r.out.find('\n') == r.out.size() - 1 : r.out == k.out)
            << k.args[0] << ": " << r.out;
        EXPECT_NE(r.err.find(k.err), std::string::npos) << k.args[0] << ": " << r.err;
        EXPECT_EQ(r.err.find('\033'), std::string::npos) << k.args[0] << ": " << r.err;
        EXPECT_TRUE(c.temp_empty()) << k.args[0];
    }
    // Music on standard input: the file opened and checked is the one converted.
    std::vector<uint8_t> other_rate = tone_wav(0.3);
    put_u32(other_rate, 24, 22050), put_u32(other_rate, 28, 22050 * 4);
    write_file(c.dir.file("song22.wav"), other_rate);
    std::vector<std::string> env = c.env;
    env.push_back("SDL_AUDIODRIVER=no-such-driver");  // ends the run once it is converted
    const ProcessResult r = run_program(
        {"/bin/sh", "-c", "exec \"$0\" /dev/stdin <song22.wav", kCommand}, c.dir.path, env);
    EXPECT_NE(r.err.find("starglobe: converting '/dev/stdin' with ffmpeg"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("no sound device could be opened"), std::string::npos) << r.err;
    // Help and version that cannot be written are failures, not successes.
    for (const char* option : {"--help", "--version"}) {
        const ProcessResult r = run_program(
            {"/bin/sh", "-c", "\"$0\" " + std::string(option) + " >/dev/full", kCommand},
            c.dir.path, c.env);
        EXPECT_EQ(r.exit_code, 1) << option;
    }
}

// Before it flashes, the demo warns whoever reads its standard error on a terminal; gentle, or
// with standard error kept in a file or a pipe, it says nothing. Each run ends at the sound
// device.
TEST(Command, WarnsOfTheFlashesOnATerminalUnlessGentle) {
    Case c;
    write_file(c.dir.file("song.wav"), tone_wav(0.3));
    std::vector<std::string> env = c.env;
    env.push_back("SDL_AUDIODRIVER=no-such-driver");
    const struct {
        std::string args;
        bool terminal, warned;
    } cases[] = {{"song.wav", true, true},
                 {"--gentle song.wav", true, false},
                 {"song.wav 2>err", true, false},
                 {"song.wav", false, false}};
    for (const auto& k : cases) {
        // script(1) runs the command on a terminal of its own and copies what it shows there.
        const std::string line = "'" + kCommand + "' " + k.args;
        const ProcessResult r =
            k.terminal
                ? run_program({"/usr/bin/script", "-qec", line, "/dev/null"}, c.dir.path, env)
                : run_program({"/bin/sh", "-c", line}, c.dir.path, env);
        const std::string seen = r.out + r.err;
        EXPECT_EQ(r.exit_code, 255) << k.args << ": " << seen;
        const size_t warning = seen.find(
            "starglobe: WARNING: starglobe contains fast flashing "
            "lights and patterns, which can trigger seizures");
        EXPECT_EQ(warning != std::string::npos, k.warned) << k.args << ": " << seen;
        if (k.warned) {  // one line, before SDL's about the sound device
            EXPECT_LT(seen.find('\n', warning), seen.find("audio", warning)) << seen;
        }
    }
}

// The flash warning is one sentence that the build puts into every text it makes; README.md's
// copy is written by hand. Its count in words is the flash check's limit.
TEST(Command, TheReadmeCarriesTheOneFlashWarningWithTheLimitInWords) {
    const std::string sentence = STARGLOBE_FLASH_WARNING;
    EXPECT_NE(sentence.find(" " + in_words(kMaxFlashesPerSecond) + " flashes a second"),
              std::string::npos)
        << sentence;
    const std::vector<uint8_t> bytes = read_file(kSourceDir + "/README.md");
    std::string words;
    // As Markdown reads a quote: its lines run on, and bold is no text.
    for (size_t at = 0; at < bytes.size(); ++at) {
        const std::string_view rest(reinterpret_cast<const char*>(&bytes[at]), bytes.size() - at);
        if (rest.starts_with("\n> ")) {
            words += ' ', at += 2;
        } else if (rest.starts_with("**")) {
            ++at;
        } else {
            words += rest[0];
        }
    }
    EXPECT_NE(words.find(sentence), std::string::npos) << "README.md lacks: " << sentence;
    // The synopsis that carries it fits a terminal.
    std::istringstream help(demo_usage());
    for (std::string line; std::getline(help, line);) EXPECT_LE(line.size(), kTextColumns) << line;
    // starglobe(6), the long form written by hand, states the limits and statuses they set.
    const std::vector<uint8_t> manual = read_file(kSourceDir + "/docs/man/starglobe.6.scd");
    const std::string page(manual.begin(), manual.end());
    for (const std::string& limit :
         {hours_and_minutes(kWavMaxSeconds) + ",", std::to_string(int(kGentleRenewMs)) + " ms",
          "\n*" + std::to_string(kExitFailure) + "*\n", "\n*" + std::to_string(kExitUsage) + "*\n",
          "\n*" + std::to_string(kExitCannotStart) + "*\n",
          "*" + std::to_string(kExitBySignalBase) + "* + _N_"})
        EXPECT_NE(page.find(limit), std::string::npos) << "starglobe(6) lacks " << limit;
}

// Ctrl-C as a terminal sends it: SIGINT to the whole foreground process group. The command
// and the demo end through its ordinary shutdown at once (in a fraction of a second; the
// deadline below allows for a busy machine, still far short of the music's 30 s and the
// stand-in ffmpeg's minute), by that signal, and leave no temporary folder, nor anything the
// helpers started: a helper's group ends with it.
TEST(Command, CtrlCInATerminalEndsItDuringTheConversionAndDuringPlay) {
    Case c;
    write_file(c.dir.file("long.wav"), tone_wav(30.0));
    write_file(c.dir.file("song.ogg"), std::vector<uint8_t>(100, 'o'));
    c.stand_in("ffprobe",
               "sleep 60 & echo $! > \"$TMPDIR/../probe-sleep\"; "
               "printf 'codec_type=audio\\nduration=60\\n'");
    c.stand_in("ffmpeg",
               "sleep 60 & echo $! > \"$TMPDIR/../convert-sleep\"; "
               "echo started > \"$TMPDIR/../ffmpeg-ran\"; wait");
    const auto started = [&](const Process& p, const std::string& name) {
        if (name == "song.ogg") return std::filesystem::exists(c.dir.file("ffmpeg-ran"));
        std::error_code gone;  // SDL's audio thread joins when the sound device opens
        return std::distance(std::filesystem::directory_iterator(
                                 "/proc/" + std::to_string(p.pid) + "/task", gone),
                             std::filesystem::directory_iterator()) > 1;
    };
    for (const std::string name : {"long.wav", "song.ogg"}) {
        Process p = start_program({kCommand, name}, c.dir.path, c.env);
        ASSERT_TRUE(wait_until([&] { return started(p, name); }, 20.0)) << name;
        const double sent = monotonic_seconds();
        kill(-p.pid, SIGINT);  // the process group, as the terminal does
        const ProcessResult r = finish_program(p, 30.0);
        EXPECT_EQ(r.exit_code, 128 + SIGINT) << name << ": " << r.err;
        EXPECT_LT(monotonic_seconds() - sent, 10.0) << name;
        EXPECT_TRUE(c.temp_empty()) << name;
    }
    for (const std::string file : {"probe-sleep", "convert-sleep"}) {
        const std::vector<uint8_t> pid = read_file(c.dir.file(file));
        const std::string stat = "/proc/" + std::string(pid.begin(), pid.end() - 1) + "/stat";
        const auto gone = [&] {  // no such process, or one ended but not yet collected
            std::ifstream in(stat);
            std::string id, name, state;
            return !(in >> id >> name >> state) || state == "Z";
        };
        EXPECT_TRUE(wait_until(gone, 10.0)) << file << " outlived its helper";
    }
}

TEST(Command, AHugeSoundtrackIsMappedNotReadAndAStopSignalEndsTheDemoAtOnce) {
    // 2 GB of samples behind a good header, sparse on disk (SDL_mixer seeks no further); read
    // whole, 4 GB took 17 s and 4 GB of memory.
    TempDir dir;
    const uint32_t data = 2000000000u;
    std::vector<uint8_t> header = canonical_wav({});
    put_u32(header, 4, 36 + data);
    put_u32(header, 40, data);
    write_file(dir.file("tessaloon.wav"), header);
    ASSERT_EQ(truncate(dir.file("tessaloon.wav").c_str(), off_t{44} + data), 0);
    Process demo = start_program({kDemo}, dir.path, kHeadless);
    const std::string proc = "/proc/" + std::to_string(demo.pid);
    const auto peak_kib = [&] {
        std::ifstream status(proc + "/status");
        long kib = 0;
        for (std::string line; std::getline(status, line);)
            if (std::sscanf(line.c_str(), "VmHWM: %ld", &kib) == 1) break;
        return kib;
    };
    const auto mapped = [&] {
        std::ifstream maps(proc + "/maps");
        for (std::string line; std::getline(maps, line);)
            if (line.find("tessaloon.wav") != std::string::npos) return true;
        return false;
    };
    ASSERT_TRUE(wait_until(mapped, 20.0)) << "never mapped; peak " << peak_kib() << " KiB";
    EXPECT_LT(peak_kib(), 300 * 1024) << "KiB resident at the peak";
    const double sent = monotonic_seconds();
    kill(demo.pid, SIGTERM);
    const ProcessResult r = finish_program(demo, 30.0);
    EXPECT_EQ(r.exit_code, 128 + SIGTERM) << r.out << r.err;
    // What is left to do after the signal takes a moment, longer under the sanitizers or on a
    // busy machine.
    EXPECT_LT(monotonic_seconds() - sent, 8.0);
    EXPECT_EQ(r.out, "");
}

}  // namespace
