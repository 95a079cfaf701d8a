// Included by every translation unit whose floating-point results are pinned bit for bit (the
// filters, the envelopes, the soundtrack's synthesizer): they must give the same bits on every
// machine, at every optimisation level and in the web build. Each double or float operation
// must be rounded to its own type before the next: SSE or WebAssembly arithmetic, no x87
// excess precision, and no value-changing optimisations. The build adds -ffp-contract=off to
// every target (the top CMakeLists.txt), so nothing is fused into a multiply-add either.
#pragma once
#include <cfloat>

static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must not carry excess precision");
#ifdef __FAST_MATH__
#error "pinned floating-point results must not be reordered: build without -ffast-math"
#endif
