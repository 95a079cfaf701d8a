// A run's passes take nothing from the heap: every allocation of this program is counted while
// many passes of the real timeline (analysis, picture choice, composing) run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "frame/run.h"
#include "support/test_support.h"
#include "visuals/image_bank.h"

namespace {
bool counting = false;  // while the test looks
long allocations = 0;
[[maybe_unused]] void note() { allocations += counting; }
}  // namespace

// glibc's own entry points, kept for programs that wrap malloc. libstdc++'s operator new goes
// through malloc and aligned_alloc, so these see it too (the test checks). AddressSanitizer
// owns the allocator in sanitizer builds, so there the test is left to the plain build.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void __libc_free(void* p);

extern "C" void* malloc(size_t size) { return note(), __libc_malloc(size); }
extern "C" void* calloc(size_t count, size_t size) { return note(), __libc_calloc(count, size); }
extern "C" void* aligned_alloc(size_t align, size_t size) {
    return note(), __libc_memalign(align, size);
}
extern "C" void free(void* p) { __libc_free(p); }
#endif

namespace {

TEST(FrameAllocation, FramePassesTakeNothingFromTheHeapOnEitherNoisePath) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's allocator cannot be counted this way";
#endif
    // The hooks are live, for new as for malloc: otherwise the rest would pass for nothing.
    counting = true;
    std::vector<int>* volatile v = new std::vector<int>(3);
    void* volatile p = std::malloc(16);  // kept: an unused block may be optimised away
    counting = false;
    std::free(p), delete v;
    ASSERT_GE(allocations, 3);
    // A loud, changing soundtrack, so that every control and both routings come up.
    const std::vector<uint8_t> wav = test_support::tone_wav(12.0, 180.0, 0.9);
    PcmTrack track;
    ASSERT_EQ(parse_wav(wav.data(), wav.size(), &track), WavStatus::ok);
    DemoRun run = run_start(false);
    std::vector<uint8_t> pixels(kImageBytes);
    for (const bool fast : {true, false}) {
        run.noise = fast ? noise_source_checked()
                         : noise_source_checked_with([] { return 0; }, [](unsigned) {});
        ASSERT_EQ(run.noise.use_rand, !fast);
        counting = true;
        allocations = 0;
        for (int i = 0; i < 600; ++i)  // ten seconds at 60 frames a second
            run_compose(&run, tap_track(track), i * 1000.0 / 60.0, pixels.data());
        counting = false;
        EXPECT_EQ(allocations, 0) << (fast ? "generator" : "rand() fallback");
    }
}

}  // namespace
