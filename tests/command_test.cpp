// The starglobe command as people run it (the launcher of the build tree, which becomes the
// demo program): any music file, the lines it adds where the user can act, and Ctrl-C as a
// terminal sends it, during the conversion and during play.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

TEST(Command, SaysWhatIsWrongWhereTheUserCanActAndKeepsTheDemosLinesAndStatus) {
    Case c;
    write_file(c.dir.file("notes.txt"), std::vector<uint8_t>(100, 'x'));
    write_file(c.dir.file("tiny.wav"), {'R', 'I', 'F', 'F'});
    write_file(c.dir.file("song.wav"), tone_wav(0.3));
    // An hour-long stream ffprobe calls seven hours long: refused before any converting.
    c.stand_in("ffprobe",
               "case \"$*\" in *long.mp3) printf 'codec_type=audio\\nduration=25230.5"
               "\\n' ;; *) exec /usr/bin/ffprobe \"$@\" ;; esac");
    write_file(c.dir.file("long.mp3"), std::vector<uint8_t>(100, 'm'));
    const std::vector<std::string> no_display = {
        "SDL_VIDEODRIVER=", "DISPLAY=", "WAYLAND_DISPLAY=wayland-0", kHeadless[1]};
    const struct {
        std::vector<std::string> args, env;
        int status;
        std::string out, err;
    } cases[] = {
        {{"notes.txt"},
         {},
         255,
         "wav is corrupted\nFailed to load WAV\n",
         "starglobe: 'notes.txt' is not audio: neither a WAV in the demo's layout nor a file "
         "ffmpeg can decode\n"},
        {{"tiny.wav"}, {}, 255, "Failed to load WAV\n", "'tiny.wav' is not audio"},
        {{"long.mp3"},
         {},
         1,
         "",
         "starglobe: 'long.mp3' lasts 7 hours 1 minute; the demo plays "
         "music of at most 6 hours 45 minutes\n"},
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
        {{"--listen", "song.wav"}, {}, 2, "", "--listen plays no FILE"},
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
        EXPECT_TRUE(c.temp_empty()) << k.args[0];
    }
    // Help and version that cannot be written are failures, not successes.
    for (const char* option : {"--help", "--version"}) {
        const ProcessResult r = run_program(
            {"/bin/sh", "-c", "\"$0\" " + std::string(option) + " >/dev/full", kCommand},
            c.dir.path, c.env);
        EXPECT_EQ(r.exit_code, 1) << option;
    }
}

// Ctrl-C as a terminal sends it: SIGINT to the whole foreground process group. The command
// and the demo end through its ordinary shutdown within a second, by that signal, and leave
// no temporary folder.
TEST(Command, CtrlCInATerminalEndsItDuringTheConversionAndDuringPlay) {
    Case c;
    write_file(c.dir.file("long.wav"), tone_wav(30.0));
    write_file(c.dir.file("song.ogg"), std::vector<uint8_t>(100, 'o'));
    c.stand_in("ffprobe", "printf 'codec_type=audio\\nduration=60\\n'");
    c.stand_in("ffmpeg", "echo started > \"$TMPDIR/../ffmpeg-ran\"; exec sleep 60");
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
        EXPECT_LT(monotonic_seconds() - sent, 1.0) << name;
        EXPECT_TRUE(c.temp_empty()) << name;
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
    // What is left to do after the signal takes a moment, longer under the sanitizers.
    EXPECT_LT(monotonic_seconds() - sent, 3.0);
    EXPECT_EQ(r.out, "");
}

}  // namespace
