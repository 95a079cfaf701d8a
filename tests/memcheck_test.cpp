// The demo under valgrind's memcheck: no memory errors, no leaks, no growth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/test_support.h"

using namespace test_support;

namespace {

// Every leak kind but "still reachable" is an error: what the program still points to at exit
// (SDL's) is fine as long as it does not grow with the music.
std::vector<std::string> memcheck(std::vector<std::string> program) {
    program.insert(program.begin(),
                   {STARGLOBE_VALGRIND, "--tool=memcheck", "--leak-check=full",
                    "--errors-for-leak-kinds=definite,indirect,possible", "--error-exitcode=99"});
    return program;
}

// Expects a clean run; returns valgrind's "in use at exit: N bytes in M blocks" as {N, M}.
std::pair<long, long> expect_clean(const ProcessResult& r) {
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
    std::string log = r.err;
    log.erase(std::remove(log.begin(), log.end(), ','), log.end());
    long bytes = -1, blocks = -1;
    const char* at = std::strstr(log.c_str(), "in use at exit: ");
    EXPECT_TRUE(at &&
                std::sscanf(at, "in use at exit: %ld bytes in %ld blocks", &bytes, &blocks) == 2)
        << "no heap summary: " << r.err;
    return {bytes, blocks};
}

}  // namespace

TEST(Memcheck, DemoAndRendererRunCleanAndKeepNothingThatGrowsWithTheMusic) {
    // valgrind cannot run AddressSanitizer's programs; on CI a missing valgrind is a failure.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "valgrind cannot run a sanitizer build";
#endif
    if (!*STARGLOBE_VALGRIND && std::getenv("CI"))
        FAIL() << "valgrind was not found when the build was configured";
    if (!*STARGLOBE_VALGRIND) GTEST_SKIP() << "needs valgrind";
    // Three runs side by side: the demo with one and three seconds of music, each with its end
    // card, and the renderer composing a second's frames, gently, two passes a frame (each pass
    // costs about 30 ms under memcheck, the live rate's thousand would take half a minute).
    TempDir short_dir, long_dir;
    write_file(short_dir.file("tessaloon.wav"), tone_wav(1.0));
    write_file(long_dir.file("tessaloon.wav"), tone_wav(3.0));
    Process short_run = start_program(memcheck({kDemo}), short_dir.path, kHeadless),
            long_run = start_program(memcheck({kDemo}), long_dir.path, kHeadless),
            render = start_program(
                memcheck({kBuildDir + "/starglobe-render", "--quiet", "--frames", "60",
                          "--loop-fps", "120", "--gentle", "--raw", "/dev/null"}),
                short_dir.path);
    expect_clean(finish_program(render, 240.0));
    const auto [short_bytes, short_blocks] = expect_clean(finish_program(short_run, 240.0));
    const auto [long_bytes, long_blocks] = expect_clean(finish_program(long_run, 240.0));
    // The same blocks held at exit: the soundtrack went with its owner.
    EXPECT_EQ(long_blocks, short_blocks);
    EXPECT_EQ(long_bytes, short_bytes);
}
