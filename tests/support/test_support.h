// Helpers shared by the tests: WAV bytes, files in a temporary folder, running a program.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

inline const std::string kBuildDir = STARGLOBE_BUILD_DIR;
inline const std::string kSourceDir = STARGLOBE_SOURCE_DIR;
inline const std::string kDemo = kBuildDir + "/starglobe";

// A headless run of the demo: no window, no sound card.
inline const std::vector<std::string> kHeadless = {"SDL_VIDEODRIVER=dummy",
                                                   "SDL_AUDIODRIVER=dummy"};

// A canonical WAV holding `samples`, interleaved left, right; fields change with put_u16/32.
std::vector<uint8_t> canonical_wav(const std::vector<int16_t>& samples);
void put_u16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void put_u32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
// A canonical WAV whose data chunk holds `bytes` bytes (0..3: no whole sample frame).
std::vector<uint8_t> short_data_wav(uint32_t bytes);
// `seconds` of a stereo tone, as WAV bytes.
std::vector<uint8_t> tone_wav(double seconds, double hz = 440.0, double amplitude = 0.25);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<std::string> names_in(const std::string& folder);  // entry names, sorted

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the value dies.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

struct ProcessResult {
    int exit_code = -1;      // the program's exit status, or 128 + signal if it was killed
    std::string out, err;    // everything it wrote to standard output and standard error
    double seconds = 0.0;    // wall-clock run time
    bool timed_out = false;  // killed for running past the time limit
};

// A program running in the background, its output collected by finish_program.
struct Process {
    int pid = -1;
    int out_fd = -1, err_fd = -1;  // its standard output and error so far: output_of(fd)
    double started = 0.0;          // seconds on the monotonic clock
};

// Starts `argv` (argv[0] a path) in `cwd` with the environment plus `env` ("NAME=value"), no
// standard input, in a process group of its own, with the signals `ignored` ignored.
Process start_program(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::vector<std::string>& env = {},
                      const std::vector<int>& ignored = {});
// Waits for it to end, killing its group `timeout_s` seconds after it started; its output.
ProcessResult finish_program(Process& process, double timeout_s = 60.0);
std::string output_of(int fd);
bool has_ended(const Process& process);  // leaves it for finish_program to collect
ProcessResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                          const std::vector<std::string>& env = {}, double timeout_s = 60.0);

// Starts a private Xvfb whose screen is the picture's size (so that the picture fills it
// whoever scales it) and returns its display name (":N"), or "" when none starts in time.
std::string start_xvfb(Process* server);

// Seconds on the monotonic clock, for scheduling what a test does while a program runs.
double monotonic_seconds();
// Asks `ready` every few milliseconds until it holds (true) or `timeout_s` has passed (false).
bool wait_until(const std::function<bool()>& ready, double timeout_s);

}  // namespace test_support
