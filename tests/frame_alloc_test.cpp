// A frame pass takes nothing from the heap: every allocation of this program is counted while
// many passes of the real timeline (analysis, picture choice, composing) run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "audio/analyzer.h"
#include "audio/wav_loader.h"
#include "driver/frame.h"
#include "support/test_support.h"
#include "visuals/image_bank.h"
#include "visuals/noise.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hook (sanitizer/allocator_interface.h, which GCC does not
// install).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void* p, size_t size), void (*free_hook)(const volatile void* p));
#else
// glibc's own allocator entry points, under the names it keeps for programs that wrap malloc.
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);
extern "C" void __libc_free(void* p);
#endif

namespace {
bool counting = false;
long allocations = 0;

void note() {
    if (counting) ++allocations;
}
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer owns the allocator in sanitizer builds, and replacing malloc and free under
// it would hand its blocks to glibc (posix_memalign, which is not replaced here, still reaches
// it). Its hook sees every allocation instead: malloc, calloc, realloc, new, aligned forms.
namespace {
[[maybe_unused]] const int hooks_installed = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, size_t) { note(); }, [](const volatile void*) {});
}  // namespace
#else
extern "C" void* malloc(size_t size) {
    note();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
    note();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
    note();
    return __libc_realloc(p, size);
}
extern "C" void* aligned_alloc(size_t alignment, size_t size) {
    note();
    return __libc_memalign(alignment, size);
}
extern "C" void free(void* p) { __libc_free(p); }

void* operator new(size_t size) {
    note();
    if (void* p = __libc_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    note();
    return __libc_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}
void* operator new(size_t size, std::align_val_t alignment) {
    note();
    if (void* p = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { __libc_free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { __libc_free(p); }
#endif

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;
constexpr int kPasses = 600;  // ten seconds of the demo at 60 frames a second

TEST(FrameAllocation, CountingSeesAnAllocation) {
    // The hooks are live: otherwise the next test would pass for nothing.
    counting = true;
    allocations = 0;
    std::vector<int>* v = new std::vector<int>(3);
    void* volatile p = std::malloc(16);  // kept: an unused block may be optimised away
    counting = false;
    std::free(p);
    delete v;
    EXPECT_GE(allocations, 3);
}

TEST(FrameAllocation, FramePassesTakeNothingFromTheHeap) {
    // A loud, changing soundtrack, so that every control and both routings come up.
    const std::vector<uint8_t> wav = test_support::tone_wav(12.0, 180.0, 0.9);
    PcmTrack track;
    ASSERT_EQ(parse_wav(wav.data(), wav.size(), &track), WavStatus::ok);
    AudioAnalyzer analyzer;
    std::vector<uint8_t> pixels(kImageBytes);
    noise_restart();
    ASSERT_TRUE(noise_init());

    counting = true;
    allocations = 0;
    for (int i = 0; i < kPasses; ++i) frame_pass(&analyzer, track, i * kFrameMs, pixels.data());
    counting = false;
    EXPECT_EQ(allocations, 0);

    // The same on the rand() fallback.
    noise_restart();
    ASSERT_FALSE(noise_init_with([] { return 0; }, [](unsigned) {}));
    counting = true;
    allocations = 0;
    for (int i = 0; i < kPasses; ++i) frame_pass(&analyzer, track, i * kFrameMs, pixels.data());
    counting = false;
    EXPECT_EQ(allocations, 0);
    noise_restart();
}

}  // namespace
