#include "render/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "common/stop_signal.h"

extern char** environ;

namespace {

constexpr size_t kLogChunk = 4096;  // bytes read from the log at a time

std::string exit_text(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Waits for the child, retrying when a signal interrupts the wait. False if it cannot be
// waited for at all.
bool wait_for(pid_t pid, int* status) {
    while (waitpid(pid, status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

std::string read_log(FILE* log) {
    std::string text;
    if (!log) return text;
    std::rewind(log);
    char chunk[kLogChunk];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, log)) > 0;) text.append(chunk, n);
    return text;
}

void close_log(ChildPipe* child) {
    if (child->log) std::fclose(child->log);
    child->log = nullptr;
}

}  // namespace

std::string ChildEnd::last_log_line() const {
    const size_t end = log.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const size_t newline = log.rfind('\n', end);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    return log.substr(start, end + 1 - start);
}

std::string find_on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "";
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

std::string child_start(const std::vector<std::string>& args, ChildPipe* child) {
    const std::string program = find_on_path(args[0]);
    if (program.empty()) return args[0] + " is not installed (not found on PATH)";
    FILE* log = std::tmpfile();  // unnamed: gone when closed, whatever happens
    if (!log) return "cannot start " + args[0] + ": " + std::strerror(errno);
    fcntl(fileno(log), F_SETFD, FD_CLOEXEC);  // only this child gets it, as its stderr
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        const int error = errno;
        std::fclose(log);
        return "cannot start " + args[0] + ": " + std::strerror(error);
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(log), STDERR_FILENO);
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
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int spawn_error =
        posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (spawn_error != 0) {
        close(fds[1]);
        std::fclose(log);
        return "cannot start " + program + ": " + std::strerror(spawn_error);
    }
    child->pid = pid;
    child->fd = fds[1];
    child->log = log;
    return "";
}

std::string child_write(ChildPipe* child, const void* bytes, size_t size) {
    const auto* at = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(child->fd, at + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return std::strerror(errno);  // EPIPE: the child has ended early
        } else if (n < 0 && stop_signal() != 0) {
            return kInterrupted;  // the caller sees by which signal
        }
    }
    return "";
}

ChildEnd child_finish(ChildPipe* child) {
    ChildEnd end;
    if (child->pid < 0) {
        end.ok = true;
        return end;
    }
    close(child->fd);
    child->fd = -1;
    int status = 0;
    const bool waited = wait_for(child->pid, &status);
    child->pid = -1;
    end.log = read_log(child->log);
    close_log(child);
    end.ok = waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    end.status = waited ? exit_text(status) : std::string("lost: ") + std::strerror(errno);
    return end;
}

void child_kill(ChildPipe* child) {
    if (child->pid < 0) return;
    kill(child->pid, SIGKILL);
    close(child->fd);
    child->fd = -1;
    int status = 0;
    wait_for(child->pid, &status);
    child->pid = -1;
    close_log(child);
}
