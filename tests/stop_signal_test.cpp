// The stop signals both programs honour: noted instead of ending the process, except that a
// signal the parent chose to ignore stays ignored.
#include "common/stop_signal.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(StopSignals, AreNotedInsteadOfEndingTheProcessUnlessIgnoredBefore) {
    std::signal(SIGHUP, SIG_IGN);
    install_stop_handlers();
    EXPECT_EQ(stop_signal(), 0);
    std::raise(SIGHUP);  // still ignored: no stop
    EXPECT_EQ(stop_signal(), 0);
    std::raise(SIGTERM);
    EXPECT_EQ(stop_signal(), SIGTERM);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) std::signal(signal_number, SIG_DFL);
}

}  // namespace
