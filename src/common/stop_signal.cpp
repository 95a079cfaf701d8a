#include "common/stop_signal.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kExitBySignalBase = 128;  // the shell's status for a death by signal N

volatile std::sig_atomic_t g_stop_signal = 0;

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

int stop_signal() { return g_stop_signal; }

void die_of_signal(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    std::_Exit(kExitBySignalBase + signal_number);  // only if the signal is blocked
}
