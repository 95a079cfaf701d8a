// The demo program end to end, headless (dummy video and audio drivers), each run in a folder
// of its own holding whatever soundtrack the case needs. Runs of a case go side by side.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <deque>
#include <filesystem>

#include "support/test_support.h"

using namespace test_support;

namespace {

constexpr int kFailureStatus = 255;  // main's -1
constexpr double kCardSeconds = 10.0;
constexpr double kStartSeconds = 20.0;  // the longest a start-up may take on a busy machine

struct DemoRun {  // the demo in a folder of its own, with `soundtrack` if there is one
    TempDir dir;
    Process process;
    DemoRun(const std::vector<uint8_t>* soundtrack, std::vector<std::string> env = kHeadless,
            const std::vector<int>& ignored = {}) {
        if (soundtrack) write_file(dir.file("tessaloon.wav"), *soundtrack);
        process = start_program({kDemo}, dir.path, env, ignored);
    }
};

// SDL's audio thread joins the main one when the sound device opens, just before the music
// (or, when there is none, the end card) starts.
bool sound_open(const DemoRun& run) {
    std::error_code gone;  // once it has ended
    return std::distance(std::filesystem::directory_iterator(
                             "/proc/" + std::to_string(run.process.pid) + "/task", gone),
                         std::filesystem::directory_iterator()) > 1;
}

}  // namespace

TEST(Demo, StartUpFailuresPrintTheirLineAndEndWith255) {
    const std::vector<uint8_t> tone = tone_wav(1.0);
    std::vector<uint8_t> mono = tone;  // SDL_mixer would play it; the analysis copy refuses it
    put_u16(mono, 22, 1);
    put_u32(mono, 28, 88200);
    // The stub reaches into the demo ahead of SDL_mixer; AddressSanitizer wants to come first.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const auto failing = [&](const std::string& call) {
        return std::vector<std::string>{
            kHeadless[0], kHeadless[1], "LD_PRELOAD=" STARGLOBE_MIXER_STUB,
            "STARGLOBE_MIXER_FAIL=" + call,
            std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
    };
    const std::string sdls_line;  // SDL's own error string: one line, none of ours
    const struct {
        const char* what;
        const std::vector<uint8_t>* soundtrack;
        std::vector<std::string> env;
        std::string out;
    } cases[] = {
        {"no soundtrack", nullptr, kHeadless, "Failed to load WAV\n"},
        {"mono", &mono, kHeadless, "wav is unsupported\nFailed to load WAV\n"},
        {"no video", &tone, {"SDL_VIDEODRIVER=no-such-driver", kHeadless[1]}, sdls_line},
        // The sound device opens before the soundtrack is read: only SDL's line.
        {"no sound, no soundtrack",
         nullptr,
         {kHeadless[0], "SDL_AUDIODRIVER=no-such-driver"},
         sdls_line},
        {"Mix_LoadMUS", &tone, failing("Mix_LoadMUS"), "mixer stub: Mix_LoadMUS fails\n"},
        {"Mix_PlayMusic", &tone, failing("Mix_PlayMusic"), "mixer stub: Mix_PlayMusic fails\n"},
    };
    std::deque<DemoRun> runs;
    for (const auto& c : cases) runs.emplace_back(c.soundtrack, c.env);
    for (size_t i = 0; i < runs.size(); ++i) {
        const auto& c = cases[i];
        const ProcessResult r = finish_program(runs[i].process);
        EXPECT_EQ(r.exit_code, kFailureStatus) << c.what << ": " << r.out << r.err;
        if (c.out.empty()) {
            EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << c.what << ", one line: " << r.out;
            EXPECT_EQ(r.out.find("WAV"), std::string::npos) << c.what << ": " << r.out;
        } else {
            EXPECT_EQ(r.out, c.out) << c.what;
        }
    }
}

TEST(Demo, PlaysThenHoldsTheCardForTenSecondsAlsoWithoutAWholeSampleFrame) {
    const std::vector<uint8_t> tone = tone_wav(1.0), empty = short_data_wav(0),
                               odd = short_data_wav(3);
    std::deque<DemoRun> runs;
    for (const auto* soundtrack : {&tone, &empty, &odd}) runs.emplace_back(soundtrack);
    // Without music the sound device is open for the card's time and a moment more.
    double opened[3] = {}, closed[3] = {};
    ASSERT_TRUE(wait_until(
        [&] {
            for (size_t i = 1; i < runs.size(); ++i) {
                const bool open = sound_open(runs[i]);
                if (!opened[i] && open) opened[i] = monotonic_seconds();
                if (opened[i] && !closed[i] && !open) closed[i] = monotonic_seconds();
            }
            return closed[1] && closed[2];
        },
        kStartSeconds + 2 * kCardSeconds));
    for (size_t i = 0; i < runs.size(); ++i) {
        const ProcessResult r = finish_program(runs[i].process);
        EXPECT_EQ(r.exit_code, 0) << i << ": " << r.out << r.err;
        EXPECT_EQ(r.out, "") << i;
        if (i == 0) {  // a second of music, then the card: never cut short
            EXPECT_GE(r.seconds, 1.0 + kCardSeconds - 0.2);
            continue;
        }
        EXPECT_GT(closed[i] - opened[i], kCardSeconds - 0.3) << i;
        EXPECT_LT(closed[i] - opened[i], kCardSeconds + 2.0) << i;  // a busy machine's delays
    }
}

TEST(Demo, StopSignalsEndItThroughTheOrdinaryShutdownUnlessTheParentIgnoresThem) {
    // SDL would turn them into a quit event, which the demo ignores like a window-close request.
    // Music that outlasts any start-up, so that only the signal can end its run early.
    const std::vector<uint8_t> music = tone_wav(2 * kStartSeconds), card_only = short_data_wav(0);
    std::deque<DemoRun> runs;
    runs.emplace_back(&music);
    runs.emplace_back(&music);
    runs.emplace_back(&card_only, kHeadless, std::vector<int>{SIGTERM});
    ASSERT_TRUE(wait_until(
        [&] { return sound_open(runs[0]) && sound_open(runs[1]) && sound_open(runs[2]); },
        kStartSeconds));
    const double sent = monotonic_seconds();
    kill(runs[0].process.pid, SIGTERM);  // during the music
    kill(runs[1].process.pid, SIGHUP);
    kill(runs[2].process.pid, SIGTERM);  // during the card, ignored as the parent left it
    EXPECT_FALSE(wait_until([&] { return has_ended(runs[2].process); }, 1.0))
        << "SIGTERM was heard";
    kill(runs[2].process.pid, SIGINT);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        const ProcessResult r = finish_program(runs.front().process);
        runs.pop_front();
        EXPECT_EQ(r.exit_code, 128 + signal) << "ends by the signal, for the caller to see";
        EXPECT_LT(monotonic_seconds() - sent, kStartSeconds)
            << "neither the rest of the music nor the card may follow";
        EXPECT_EQ(r.out, "");
    }
}
