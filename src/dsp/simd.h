// Vector types for kernels that run in lanes, and the choice between the
// baseline (SSE2) build of a kernel and its AVX build, made once per process.
//
// A kernel is written once over these types and compiled twice: plainly, and
// in a function marked __attribute__((target("avx"))), which the caller picks
// when HaveAvx() says so. Lanes are independent scalar operations: every
// product is rounded before its addition (the build forbids fused
// multiply-adds), so both builds give exactly the bits of the scalar loop.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brontel::simd {

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef long long M2 __attribute__((vector_size(16)));  // lane masks of V2 comparisons

// Whether the AVX builds of the kernels may run here.
inline bool HaveAvx()
{
#if defined(__x86_64__)
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
#else
  return false;
#endif
}

// Two doubles held in registers as one vector, built in registers: a plain
// initialiser may go through the stack, two narrow stores read back by one
// wide load, which waits for both.
inline V2 Pair(double a, double b)
{
#if defined(__SSE2__)
  return reinterpret_cast<V2>(_mm_unpacklo_pd(_mm_set_sd(a), _mm_set_sd(b)));
#else
  return V2{a, b};
#endif
}

}  // namespace brontel::simd
