#include "dsp/fir.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dsp/rates.h"
#include "dsp/simd.h"

namespace brontel::fir_detail {

namespace {

// Outputs are computed in groups of lanes. Inside a group every lane has its
// own accumulator and adds its taps in order, i = 0, 1, 2, …, each product
// rounded before the addition (the build forbids fused multiply-adds), so a
// lane gives exactly the bits of the plain loop. The two instantiations differ
// only in the vector width: two doubles (SSE2, a group of four vectors) or
// four (AVX, used when the processor has it, a group of eight: enough
// independent sums in flight to keep its adders busy).
using simd::V2;
using simd::V4;

template <class V>
constexpr std::size_t Width = sizeof(V) / sizeof(double);

template <class V, std::size_t Vectors = 4>
__attribute__((always_inline)) inline void Group(const double* coef, std::size_t nTaps,
                                                 const double* const* in, std::size_t m, double* out)
{
  constexpr std::size_t W = Width<V>;
  // The accumulators live in registers: every loop over them is unrolled.
  V acc[Vectors];
#pragma GCC unroll 16
  for (std::size_t g = 0; g < Vectors; ++g) acc[g] = V{};
  for (std::size_t i = 0; i < nTaps; ++i) {
    V c;
    for (std::size_t l = 0; l < W; ++l) c[l] = coef[i];
    const double* p = in[i] + m;
#pragma GCC unroll 16
    for (std::size_t g = 0; g < Vectors; ++g) {
      V x;
      std::memcpy(&x, p + g * W, sizeof x);
      acc[g] += c * x;
    }
  }
#pragma GCC unroll 16
  for (std::size_t g = 0; g < Vectors; ++g) std::memcpy(out + g * W, &acc[g], sizeof(V));
}

// Every output in groups; the last group ends at the last output and
// recomputes a few outputs with the same bits rather than running a slow
// single-lane tail (a group half as wide when that covers what is left).
template <class V, std::size_t Vectors = 4>
__attribute__((always_inline)) inline void Lanes(const double* coef, std::size_t nTaps,
                                                 const double* const* in, std::size_t count, double* out)
{
  constexpr std::size_t G = Vectors * Width<V>;
  std::size_t m = 0;
  for (; m + G <= count; m += G) Group<V, Vectors>(coef, nTaps, in, m, out + m);
  if (m == count) return;
  if constexpr (Vectors % 2 == 0) {
    if (count - m <= G / 2) {
      Group<V, Vectors / 2>(coef, nTaps, in, count - G / 2, out + count - G / 2);
      return;
    }
  }
  Group<V, Vectors>(coef, nTaps, in, count - G, out + count - G);
}

void LanesSse2(const double* coef, std::size_t nTaps, const double* const* in, std::size_t count,
               double* out)
{
  Lanes<V2>(coef, nTaps, in, count, out);
}

#if defined(__x86_64__)
__attribute__((target("avx"))) void LanesAvx(const double* coef, std::size_t nTaps,
                                             const double* const* in, std::size_t count, double* out)
{
  Lanes<V4, 8>(coef, nTaps, in, count, out);
}
#endif

// Rows j … rows − 1 of a line, whole, from `src` on into their phases;
// returns the row after the last one written. Stride is fixed at compile
// time when Fixed is not 0.
template <std::size_t Fixed>
std::size_t SplitRows(const double* src, std::size_t j, std::size_t rows, std::size_t stride, std::size_t phaseLen,
                      double* out)
{
  const std::size_t s = Fixed ? Fixed : stride;
  for (; j < rows; ++j, src += s)
    for (std::size_t r = 0; r < s; ++r) out[r * phaseLen + j] = src[r];
  return j;
}

}  // namespace

void RunLanes(const double* coef, std::size_t nTaps, const double* const* in, std::size_t count,
              double* out)
{
#if defined(__x86_64__)
  if (count >= 8 * Width<V4> && simd::HaveAvx()) {
    LanesAvx(coef, nTaps, in, count, out);
    return;
  }
#endif
  if (count >= 4 * Width<V2>) {
    LanesSse2(coef, nTaps, in, count, out);
    return;
  }
  for (std::size_t m = 0; m < count; ++m) {
    double acc = 0.0;
    for (std::size_t i = 0; i < nTaps; ++i) acc += coef[i] * in[i][m];
    out[m] = acc;
  }
}

const double* SplitPhases(const double* past, std::size_t pastLen, const double* recent, std::size_t lineLen,
                          std::size_t stride, std::size_t phaseLen)
{
  // Grows once to the block size and is reused from then on.
  thread_local std::vector<double> phases;
  phases.resize(phaseLen * stride);
  double* const out = phases.data();
  if (!recent) recent = past, pastLen = 0;  // the whole line in one piece
  // The rows (`stride` samples each, one per phase) that hold samples of
  // `past`, one sample at a time; then the rows of `recent` alone, read in
  // order and written to the phases side by side.
  const std::size_t head = std::min(lineLen, (pastLen + stride - 1) / stride * stride);
  for (std::size_t i = 0; i < head; ++i)
    out[(i % stride) * phaseLen + i / stride] = i < pastLen ? past[i] : recent[i - pastLen];
  const std::size_t rows = lineLen / stride;
  const double* src = recent + (head - pastLen);
  std::size_t j = head / stride;
  if (stride == DecimFactor)
    j = SplitRows<DecimFactor>(src, j, rows, DecimFactor, phaseLen, out);
  else
    j = SplitRows<0>(src, j, rows, stride, phaseLen, out);
  src += (j - head / stride) * stride;
  for (std::size_t r = 0; j * stride + r < lineLen; ++r) out[r * phaseLen + j] = src[r];  // the last, partial row
  return phases.data();
}

}  // namespace brontel::fir_detail
