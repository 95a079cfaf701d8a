#include "system/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// How long a write waits on a reader before it looks at the stop flag again.
constexpr int kWritePollMs = 10;

void note_stop_signal(int signal_number) { g_stop_signal = signal_number; }

}  // namespace

void install_stop_handlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    for (const int signal_number : kStopSignals) {
        struct sigaction before;
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(signal_number, &action, nullptr);
    }
}

void die_of_signal(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    std::_Exit(kExitBySignalBase + signal_number);  // only if the signal is blocked
}

int write_heeding_stop(int fd, const void* bytes, size_t size) {
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const int flags = fcntl(fd, F_GETFL);
    // A blocking pipe takes up to PIPE_BUF bytes at once when poll finds room; a larger
    // write could block part way, and a signal arriving just before it would go unheard.
    const bool whole = regular || (flags >= 0 && (flags & O_NONBLOCK) != 0);
    const auto* at = static_cast<const uint8_t*>(bytes);
    for (size_t done = 0; done < size;) {
        if (stop_signal() != 0) return EINTR;
        if (!regular) {
            pollfd ready{fd, POLLOUT, 0};
            const int polled = poll(&ready, 1, kWritePollMs);
            if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
            if (polled < 0) return errno;
        }
        const size_t piece = whole ? size - done : std::min(size - done, size_t{PIPE_BUF});
        const ssize_t n = write(fd, at + done, piece);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return errno;
        }
    }
    return 0;
}
