#include "system/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "common/quoting.h"
#include "system/stop_signal.h"

extern char** environ;

namespace {

constexpr long kPollNs = 10000000;  // how often child_wait looks again: 10 ms

// Waits for the child, retrying when a signal interrupts the wait: its wait status, or the
// errno of a wait that cannot be done at all.
struct Waited {
    bool ok = false;
    int status = 0;  // waitpid's, when ok
    int error = 0;   // errno, when not
};

Waited wait_for(pid_t pid) {
    Waited waited;
    while (waitpid(pid, &waited.status, 0) < 0) {
        if (errno != EINTR) return waited.error = errno, waited;
    }
    waited.ok = true;
    return waited;
}

// Whether the child has ended, without collecting it.
bool has_ended(pid_t pid) {
    siginfo_t info{};
    const int flags = WEXITED | WNOWAIT | WNOHANG;
    while (waitid(P_PID, id_t(pid), &info, flags) != 0) {
        if (errno != EINTR) return true;  // nothing to wait for: wait_for says why
    }
    return info.si_pid == pid;
}

// Collects an ended child after ending what is left of its process group: until it is
// collected its id cannot be reused, so the group's id still names only its own.
Waited reap(pid_t pid) {
    kill(-pid, SIGKILL);
    return wait_for(pid);
}

// What the child wrote to a file made by bounded_memory_file: up to its bound, and whether
// it reached it. The child's descriptor shares our file position, which says how far it got.
std::string read_kept(int fd, size_t bound, bool* cut) {
    std::string text;
    const off_t written = fd < 0 ? 0 : lseek(fd, 0, SEEK_CUR);
    if (written <= 0) return text;
    text.resize(std::min(size_t(written), bound));
    size_t got = 0;
    for (ssize_t n; got < text.size() &&
                    (n = pread(fd, text.data() + got, text.size() - got, off_t(got))) > 0;)
        got += size_t(n);
    text.resize(got);
    *cut = size_t(written) >= bound;
    return text;
}

void close_fd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

int memory_file(const char* name) { return memfd_create(name, MFD_CLOEXEC); }

// A file in memory of `bound` bytes (whole pages) that can never grow: a write past its end
// fails, so a child that floods it is refused its bytes instead of being kept waiting.
int bounded_memory_file(const char* name, size_t bound) {
    const int fd = memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return fd;
    if (ftruncate(fd, off_t(bound)) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Writes all of `text` to `fd`, then rewinds it for the child to read from the start.
bool fill(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return lseek(fd, 0, SEEK_SET) == 0;
}

ChildEnd ended(ChildProcess* child, const Waited& waited) {
    ChildEnd end;
    child->pid = -1;
    end.log = read_kept(child->log, kChildLogBytes, &end.log_cut);
    end.output = read_kept(child->output, child->most_output, &end.output_cut);
    close_fd(&child->log);
    close_fd(&child->output);
    if (!waited.ok) {
        end.fate = ChildFate::lost, end.error = waited.error;
    } else if (WIFSIGNALED(waited.status)) {
        end.fate = ChildFate::killed, end.signal = WTERMSIG(waited.status);
    } else {
        end.code = WEXITSTATUS(waited.status);  // waitpid without WUNTRACED: exited
    }
    return end;
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        child_kill(this);
        pid = other.pid, input = other.input, log = other.log, output = other.output;
        most_output = other.most_output;
        other.pid = other.input = other.log = other.output = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() { child_kill(this); }

std::string ChildEnd::last_log_line() const {
    const size_t whole = log_cut ? log.rfind('\n') : log.size();
    const size_t end = whole == std::string::npos ? whole : log.find_last_not_of('\n', whole);
    if (end == std::string::npos) return "";
    const size_t newline = log.rfind('\n', end);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    return printable(log.substr(start, end + 1 - start));
}

std::string child_status(const ChildEnd& end) {
    switch (end.fate) {
        case ChildFate::exited: return "exit status " + std::to_string(end.code);
        case ChildFate::killed: return "killed by signal " + std::to_string(end.signal);
        case ChildFate::lost: return std::string("lost: ") + std::strerror(end.error);
        case ChildFate::interrupted: return "interrupted";
    }
    return "";
}

std::string find_on_path(const std::string& program) {
    // Without PATH, the system's default search path, as the shells use: never the working
    // folder alone, where a file of the same name could be anything.
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    if (!path) {
        dirs.resize(confstr(_CS_PATH, nullptr, 0));
        if (!dirs.empty()) confstr(_CS_PATH, dirs.data(), dirs.size()), dirs.pop_back();
    }
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

Outcome child_start(const std::vector<std::string>& args, const ChildOptions& options,
                    ChildProcess* child) {
    child_kill(child);
    const std::string program = find_on_path(args[0]);
    if (program.empty()) return failed(args[0] + " is not installed (not found on PATH)");
    const auto cannot = [&](int error) {
        return failed("cannot start " + args[0] + ": " + std::strerror(error));
    };
    // Everything made here is owned by `staged` until the child runs, so any early return
    // closes it.
    ChildProcess staged;
    staged.most_output = options.most_output;
    staged.log = bounded_memory_file("log", kChildLogBytes);
    if (staged.log < 0) return cannot(errno);
    if (options.output == ChildOutput::capture &&
        (staged.output = bounded_memory_file("output", options.most_output)) < 0)
        return cannot(errno);
    int read_end = -1;
    if (options.input == ChildInput::pipe) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return cannot(errno);
        read_end = fds[0];
        staged.input = fds[1];
    } else if (options.input == ChildInput::text) {
        read_end = memory_file("input");
        if (read_end < 0 || !fill(read_end, options.text)) {
            const int error = errno;
            if (read_end >= 0) close(read_end);
            return cannot(error);
        }
    }
    // The passed descriptor, copied above the child's standard ones, so that the copy can
    // become its kChildPassedFd whatever number ours has.
    const int passed =
        options.passed < 0 ? -1 : fcntl(options.passed, F_DUPFD_CLOEXEC, kChildPassedFd + 1);
    if (options.passed >= 0 && passed < 0) {
        const int error = errno;
        if (read_end >= 0) close(read_end);
        return cannot(error);
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (read_end >= 0) {
        posix_spawn_file_actions_adddup2(&actions, read_end, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (options.output == ChildOutput::discard)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (options.output == ChildOutput::capture)
        posix_spawn_file_actions_adddup2(&actions, staged.output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, staged.log, STDERR_FILENO);
    if (passed >= 0) posix_spawn_file_actions_adddup2(&actions, passed, kChildPassedFd);
    // Default signal actions, nothing blocked, a process group of its own.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int spawn_error =
        posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (read_end >= 0) close(read_end);
    if (passed >= 0) close(passed);
    if (spawn_error != 0)
        return failed("cannot start " + program + ": " + std::strerror(spawn_error));
    staged.pid = pid;
    *child = std::move(staged);
    return {};
}

Outcome child_write(ChildProcess* child, const void* bytes, size_t size) {
    assert(child->input >= 0);  // started with ChildInput::pipe, not yet finished
    // Our end of the pipe alone: a child that stops reading then holds no write, and the
    // frames go in as large pieces as the pipe takes.
    const int flags = fcntl(child->input, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(child->input, F_SETFL, flags | O_NONBLOCK);
    const int error = write_heeding_stop(child->input, bytes, size);
    if (error == EINTR) return interrupted();
    if (error != 0) return failed(std::strerror(error));  // EPIPE: the child has ended early
    return {};
}

ChildEnd child_wait(ChildProcess* child) {
    close_fd(&child->input);
    while (child->pid >= 0) {
        if (has_ended(child->pid)) return ended(child, reap(child->pid));
        if (stop_signal() != 0) {
            child_kill(child);
            ChildEnd end;
            end.fate = ChildFate::interrupted;
            return end;
        }
        const timespec pause{0, kPollNs};
        nanosleep(&pause, nullptr);
    }
    return ChildEnd{};
}

void child_kill(ChildProcess* child) {
    if (child->pid >= 0) {
        kill(-child->pid, SIGKILL);  // the group: the child and all it started
        wait_for(child->pid);
        child->pid = -1;
    }
    close_fd(&child->input);
    close_fd(&child->log);
    close_fd(&child->output);
}
