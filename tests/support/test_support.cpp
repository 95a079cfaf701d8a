#include "support/test_support.h"

#include "common/wav_format.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace test_support {

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

void put_u16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    bytes.at(offset) = static_cast<uint8_t>(value);
    bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

void put_u32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> canonical_wav(const std::vector<int16_t>& samples) {
    const uint32_t data_size = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> b(kWavHeaderBytes + data_size);
    uint8_t header[kWavHeaderBytes];
    wav_write_header(header, data_size);
    std::memcpy(b.data(), header, sizeof header);
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
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/starglobe-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

namespace {

// Reads whatever is ready on `fd` into `sink`; returns false at end of file.
bool drain(int fd, std::string& sink) {
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) sink.append(buf, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

double monotonic_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Process start_program(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::vector<std::string>& env) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    // Build the child's environment before forking: the parent's, overridden by `env`.
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        const std::string name = var.substr(0, var.find('='));
        bool overridden = false;
        for (const auto& o : env) overridden |= o.substr(0, o.find('=')) == name;
        if (!overridden) vars.push_back(var);
    }
    vars.insert(vars.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& a : argv_copy) args.push_back(a.data());
    args.push_back(nullptr);

    Process process;
    process.started = monotonic_seconds();
    process.pid = fork();
    if (process.pid < 0) throw std::runtime_error("fork failed");
    if (process.pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setpgid(0, 0);  // its own group, so a timeout kills its children too
        execve(args[0], args.data(), envp.data());
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
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        if (monotonic_seconds() - process.started > timeout_s && !result.timed_out) {
            result.timed_out = true;
            kill(-process.pid, SIGKILL);
            kill(process.pid, SIGKILL);
        }
        pollfd fds[2] = {{out_open ? process.out_fd : -1, POLLIN, 0},
                         {err_open ? process.err_fd : -1, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) continue;
        if (out_open && (fds[0].revents & (POLLIN | POLLHUP))) out_open = drain(process.out_fd, result.out);
        if (err_open && (fds[1].revents & (POLLIN | POLLHUP))) err_open = drain(process.err_fd, result.err);
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

ProcessResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                          const std::vector<std::string>& env, double timeout_s) {
    Process process = start_program(argv, cwd, env);
    return finish_program(process, timeout_s);
}

}  // namespace test_support
