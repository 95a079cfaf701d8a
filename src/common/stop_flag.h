// Which stop signal has arrived: the one piece of the stop signals every layer reads, so that
// a long loop anywhere (reading the samples, rendering, converting) can end early. Only
// system/stop_signal.h installs the handlers that set it; where none are installed (the web
// page, a test) it stays 0.
//
//     if (stop_signal() != 0) return WavStatus::interrupted;
#pragma once
#include <csignal>

// Set by the handler, read between steps: 0 until a stop signal (SIGINT, SIGTERM, SIGHUP)
// arrives, then its number.
inline volatile std::sig_atomic_t g_stop_signal = 0;

// The exit status of a program a signal stopped: this plus the signal's number, as a shell
// reports a death by signal (130 for Ctrl-C).
constexpr int kExitBySignalBase = 128;

// The stop signal received since install_stop_handlers, or 0.
inline int stop_signal() { return g_stop_signal; }
