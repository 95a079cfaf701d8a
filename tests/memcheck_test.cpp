// The demo and the renderer under valgrind's memcheck: no invalid read or write, no use of
// uninitialised memory, nothing lost, and nothing kept that grows with the length of the run.
// Skipped in sanitizer builds (valgrind cannot run AddressSanitizer's programs) and where
// valgrind is not installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <regex>

#include "support/test_support.h"

using namespace test_support;

namespace {

const std::string kValgrind = "/usr/bin/valgrind";
const std::string kDemo = kBuildDir + "/starglobe";
const std::string kRenderer = kBuildDir + "/starglobe-render";
constexpr int kFoundErrors = 99;  // valgrind's status when it reported anything
constexpr double kTimeoutSeconds = 120.0;
constexpr uint32_t kBytesPerSecond = 176400;  // of the soundtrack: 44,100 frames of 4 bytes

// Leaks of every kind but "still reachable" count as errors: memory the program still points
// to at exit (SDL's and the held soundtrack) is fine as long as it does not grow.
std::vector<std::string> memcheck(const std::vector<std::string>& program) {
    std::vector<std::string> argv = {kValgrind, "--tool=memcheck", "--leak-check=full",
                                     "--errors-for-leak-kinds=definite,indirect,possible",
                                     "--error-exitcode=" + std::to_string(kFoundErrors)};
    argv.insert(argv.end(), program.begin(), program.end());
    return argv;
}

struct HeapAtExit {
    long bytes = -1;
    long blocks = -1;
};

// valgrind's "in use at exit: 1,234 bytes in 5 blocks".
HeapAtExit heap_at_exit(const std::string& log) {
    static const std::regex line("in use at exit: ([0-9,]+) bytes in ([0-9,]+) blocks");
    std::smatch m;
    if (!std::regex_search(log, m, line)) return {};
    auto number = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), ','), s.end());
        return std::stol(s);
    };
    return {number(m[1]), number(m[2])};
}

bool runnable() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return access(kValgrind.c_str(), X_OK) == 0;
#endif
}

}  // namespace

TEST(Memcheck, DemoPlaysCleanAndKeepsNothingThatGrowsWithTheMusic) {
    if (!runnable()) GTEST_SKIP() << "needs valgrind and a build without sanitizers";
    // Two runs side by side, one and three seconds of music, each with its end card.
    TempDir short_dir, long_dir;
    write_file(short_dir.file("tessaloon.wav"), tone_wav(1.0));
    write_file(long_dir.file("tessaloon.wav"), tone_wav(3.0));
    Process short_run = start_program(memcheck({kDemo}), short_dir.path, kHeadless);
    Process long_run = start_program(memcheck({kDemo}), long_dir.path, kHeadless);
    const ProcessResult s = finish_program(short_run, kTimeoutSeconds);
    const ProcessResult l = finish_program(long_run, kTimeoutSeconds);
    for (const ProcessResult* r : {&s, &l}) {
        EXPECT_EQ(r->exit_code, 0) << r->out << r->err;
        EXPECT_NE(r->err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r->err;
    }
    // The same blocks are held at exit, and only the longer soundtrack's bytes are added.
    const HeapAtExit a = heap_at_exit(s.err), b = heap_at_exit(l.err);
    ASSERT_GE(a.blocks, 0) << s.err;
    ASSERT_GE(b.blocks, 0) << l.err;
    EXPECT_EQ(b.blocks, a.blocks);
    EXPECT_EQ(b.bytes - a.bytes, 2 * long{kBytesPerSecond});
}

TEST(Memcheck, RendererComposesHundredsOfFramesClean) {
    if (!runnable()) GTEST_SKIP() << "needs valgrind and a build without sanitizers";
    // Past the end of the music too: the last 100 frames hold its last sample.
    TempDir dir;
    write_file(dir.file("three.wav"), tone_wav(3.0, 180.0, 0.9));
    const ProcessResult r =
        run_program(memcheck({kRenderer, "--wav", "three.wav", "--fps", "100", "--frames", "400",
                               "--raw", "/dev/null"}),
                    dir.path, {}, kTimeoutSeconds);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
}
