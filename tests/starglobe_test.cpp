// The demo program end to end, headless (dummy video and audio drivers), in a folder of its
// own holding whatever soundtrack the case needs.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <thread>

#include "support/test_support.h"

using namespace test_support;

namespace {

const std::string kDemo = kBuildDir + "/starglobe";
constexpr int kFailureStatus = 255;
constexpr double kEndCardSeconds = 10.0;

ProcessResult run_demo_with(const std::vector<uint8_t>* soundtrack,
                            const std::vector<std::string>& env = kHeadless) {
    TempDir dir;
    if (soundtrack) write_file(dir.file("tessaloon.wav"), *soundtrack);
    return run_program({kDemo}, dir.path, env, 60.0);
}

}  // namespace

TEST(Demo, MissingSoundtrackSaysOnlyThatLoadingFailed) {
    const ProcessResult r = run_demo_with(nullptr);
    EXPECT_EQ(r.out, "Failed to load WAV\n");
    EXPECT_EQ(r.exit_code, kFailureStatus);
}

TEST(Demo, RejectedSoundtrackPrintsTheLoadersLineFirst) {
    // Both files are ones SDL_mixer would play; our analysis copy refuses them before any music.
    std::vector<uint8_t> with_list = tone_wav(1.0);
    const uint8_t list[] = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    with_list.insert(with_list.begin() + 36, std::begin(list), std::end(list));
    put_u32(with_list, 4, static_cast<uint32_t>(with_list.size() - 8));
    ProcessResult r = run_demo_with(&with_list);
    EXPECT_EQ(r.out, "wav is corrupted\nFailed to load WAV\n");
    EXPECT_EQ(r.exit_code, kFailureStatus);

    std::vector<uint8_t> mono = tone_wav(1.0);
    put_u16(mono, 22, 1);
    put_u32(mono, 28, 88200);
    put_u16(mono, 32, 2);
    r = run_demo_with(&mono);
    EXPECT_EQ(r.out, "wav is unsupported\nFailed to load WAV\n");
    EXPECT_EQ(r.exit_code, kFailureStatus);
}

TEST(Demo, UnusableVideoDriverPrintsSdlsError) {
    const std::vector<uint8_t> wav = tone_wav(1.0);
    const ProcessResult r =
        run_demo_with(&wav, {"SDL_VIDEODRIVER=no-such-driver", "SDL_AUDIODRIVER=dummy"});
    EXPECT_EQ(r.exit_code, kFailureStatus);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
}

TEST(Demo, PlaysThenHoldsTheEndCardForTenSeconds) {
    const std::vector<uint8_t> wav = tone_wav(1.0);
    const ProcessResult r = run_demo_with(&wav);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    // One second of music, then the card: never cut short, and not held much longer.
    EXPECT_GE(r.seconds, 1.0 + kEndCardSeconds - 0.2);
    EXPECT_LT(r.seconds, 1.0 + kEndCardSeconds + 5.0);
}

TEST(Demo, CtrlCAndKillStopItThroughTheOrdinaryShutdown) {
    // SDL would turn both into a quit event, which the demo ignores like a window-close request.
    for (const int signal : {SIGINT, SIGTERM}) {
        TempDir dir;
        write_file(dir.file("tessaloon.wav"), tone_wav(8.0));
        Process demo = start_program({kDemo}, dir.path, kHeadless);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(demo.pid, signal);
        const ProcessResult r = finish_program(demo, 30.0);
        EXPECT_EQ(r.exit_code, 128 + signal) << "ends by the signal, for the caller to see";
        EXPECT_LT(r.seconds, 5.0) << "neither the rest of the music nor the end card may follow";
    }
}
