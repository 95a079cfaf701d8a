#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "common/wav_format.h"

namespace test_support {

constexpr double kPi = 3.14159265358979323846;
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

std::vector<uint8_t> tone_wav(double seconds, double hz, double amplitude) {
    const size_t frames = static_cast<size_t>(seconds * kSampleRateHz);
    std::vector<int16_t> s(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double v = amplitude * 32767.0 * std::sin(2.0 * kPi * hz * i / kSampleRateHz);
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
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/starglobe-test-XXXXXX";
    if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

double monotonic_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> strings = argv;
    strings.insert(strings.end(), env.begin(), env.end());
    std::vector<char*> args;
    for (auto& s : strings) args.push_back(s.data());
    args.insert(args.begin() + static_cast<long>(argv.size()), nullptr);

    Process process;
    process.started = monotonic_seconds();
    process.pid = fork();
    if (process.pid < 0) throw std::runtime_error("fork failed");
    if (process.pid == 0) {
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setpgid(0, 0);  // its own group, so a timeout kills its children too
        for (size_t i = argv.size() + 1; i < args.size(); ++i) putenv(args[i]);
        for (const int s : ignored) signal(s, SIG_IGN);
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(process.pid, process.pid);
    close(out_pipe[1]);
    close(err_pipe[1]);
    process.out_fd = out_pipe[0];
    process.err_fd = err_pipe[0];
    return process;
}

ProcessResult finish_program(Process& process, double timeout_s) {
    ProcessResult result;
    const int fds[2] = {process.out_fd, process.err_fd};
    std::string* sinks[2] = {&result.out, &result.err};
    bool open[2] = {true, true};
    while (open[0] || open[1]) {
        if (monotonic_seconds() - process.started > timeout_s && !result.timed_out) {
            result.timed_out = true;
            kill(-process.pid, SIGKILL);
            kill(process.pid, SIGKILL);
        }
        pollfd p[2] = {{open[0] ? fds[0] : -1, POLLIN, 0}, {open[1] ? fds[1] : -1, POLLIN, 0}};
        if (poll(p, 2, 100) <= 0) continue;
        for (int k = 0; k < 2; ++k) {
            if (!open[k] || !(p[k].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = read(fds[k], buf, sizeof buf);
            if (n > 0) sinks[k]->append(buf, static_cast<size_t>(n));
            open[k] = n > 0 || (n < 0 && errno == EINTR);
        }
    }
    close(process.out_fd);
    close(process.err_fd);
    int status = 0;
    while (waitpid(process.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.seconds = monotonic_seconds() - process.started;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    process.pid = -1;
    return result;
}

bool has_ended(const Process& process) {
    siginfo_t info{};
    return waitid(P_PID, process.pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

ProcessResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                          const std::vector<std::string>& env, double timeout_s) {
    Process process = start_program(argv, cwd, env);
    return finish_program(process, timeout_s);
}

}  // namespace test_support
