#include "support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <thread>

#include "common/wav_format.h"

namespace test_support {

constexpr int kPollMs = 20;  // how often waits look again

void put_u16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    wav_put_u16(&bytes.at(offset + 1) - 1, value);
}

void put_u32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    wav_put_u32(&bytes.at(offset + 3) - 3, value);
}

std::vector<uint8_t> canonical_wav(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> b(kWavHeaderBytes + samples.size() * 2);
    wav_write_header(*reinterpret_cast<uint8_t(*)[kWavHeaderBytes]>(b.data()),
                     static_cast<uint32_t>(samples.size() * 2));
    for (size_t i = 0; i < samples.size(); ++i)
        put_u16(b, kWavHeaderBytes + 2 * i, static_cast<uint16_t>(samples[i]));
    return b;
}

std::vector<uint8_t> short_data_wav(uint32_t bytes) {
    std::vector<uint8_t> b = canonical_wav({});
    b.resize(b.size() + bytes, 0x55);
    wav_write_header(*reinterpret_cast<uint8_t(*)[kWavHeaderBytes]>(b.data()), bytes);
    return b;
}

std::vector<uint8_t> tone_wav(double seconds, double hz, double amplitude) {
    const size_t frames = static_cast<size_t>(seconds * kSampleRateHz);
    std::vector<int16_t> s(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double v =
            amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * hz * i / kSampleRateHz);
        s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(v);
    }
    return canonical_wav(s);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    path = std::filesystem::temp_directory_path() / "starglobe-test-XXXXXX";  // under $TMPDIR
    if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
    std::error_code ignored;  // whatever cannot be removed stays
    std::filesystem::remove_all(path, ignored);
}

double monotonic_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool wait_until(const std::function<bool()>& ready, double timeout_s) {
    for (const double end = monotonic_seconds() + timeout_s; !ready();) {
        if (monotonic_seconds() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return true;
}

Process start_program(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::vector<std::string>& env, const std::vector<int>& ignored) {
    std::vector<std::string> strings = argv;
    strings.insert(strings.end(), env.begin(), env.end());
    std::vector<char*> args;
    for (auto& s : strings) args.push_back(s.data());
    args.insert(args.begin() + static_cast<long>(argv.size()), nullptr);
    Process process;
    // Its output goes to files in memory, read back whenever the test likes.
    process.out_fd = memfd_create("stdout", MFD_CLOEXEC);
    process.err_fd = memfd_create("stderr", MFD_CLOEXEC);
    process.started = monotonic_seconds();
    process.pid = fork();
    if (process.out_fd < 0 || process.err_fd < 0 || process.pid < 0)
        throw std::runtime_error("cannot start " + argv[0]);
    if (process.pid == 0) {
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(process.out_fd, 1);
        dup2(process.err_fd, 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setpgid(0, 0);  // its own group, so a timeout kills its children too
        for (size_t i = argv.size() + 1; i < args.size(); ++i) putenv(args[i]);
        for (const int s : ignored) signal(s, SIG_IGN);
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(process.pid, process.pid);
    return process;
}

std::string output_of(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, off_t(text.size()))) > 0;)
        text.append(buf, size_t(n));
    return text;
}

ProcessResult finish_program(Process& process, double timeout_s) {
    ProcessResult result;
    int status = 0;
    result.timed_out =
        !wait_until([&] { return waitpid(process.pid, &status, WNOHANG) == process.pid; },
                    process.started + timeout_s - monotonic_seconds());
    if (result.timed_out) {
        kill(-process.pid, SIGKILL);
        kill(process.pid, SIGKILL);
        waitpid(process.pid, &status, 0);
    }
    result.seconds = monotonic_seconds() - process.started;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = output_of(process.out_fd);
    result.err = output_of(process.err_fd);
    close(process.out_fd);
    close(process.err_fd);
    process.pid = -1;
    return result;
}

bool has_ended(const Process& process) {
    siginfo_t info{};
    return waitid(P_PID, process.pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

std::string start_xvfb(Process* server) {
    // Xvfb picks a free display number and writes it once it takes connections.
    *server = start_program({STARGLOBE_XVFB, "-displayfd", "1", "-screen", "0", "400x300x24",
                             "-nolisten", "tcp", "-noreset"},
                            "/");
    std::string number;
    if (!wait_until(
            [&] { return (number = output_of(server->out_fd)).find('\n') != std::string::npos; },
            20.0))
        return "";
    return ":" + std::to_string(std::atoi(number.c_str()));
}

ProcessResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                          const std::vector<std::string>& env, double timeout_s) {
    Process process = start_program(argv, cwd, env);
    return finish_program(process, timeout_s);
}

}  // namespace test_support
