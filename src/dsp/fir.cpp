#include "dsp/fir.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace brontel {

namespace {

// Outputs are computed in groups of lanes. Inside a group every lane has its
// own accumulator and adds its taps in order, k = 0, 1, 2, …, each product
// rounded before the addition (the build forbids fused multiply-adds), so a
// lane gives exactly the bits of the plain loop. Only the number of lanes
// differs between the two kernels below; AVX is used when the processor has it.
typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));

// Input of tap k for lane 0 of the group; lane l reads taps[k][l].
using TTapInputs = const double* const*;

inline V2 Load2(const double* p)
{
  V2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Eight outputs with SSE2.
void Group8(const double* coef, std::size_t nTaps, TTapInputs in, std::size_t m, double* out)
{
  V2 a0 = {}, a1 = {}, a2 = {}, a3 = {};
  for (std::size_t i = 0; i < nTaps; ++i) {
    const V2 c = {coef[i], coef[i]};
    const double* p = in[i] + m;
    a0 += c * Load2(p);
    a1 += c * Load2(p + 2);
    a2 += c * Load2(p + 4);
    a3 += c * Load2(p + 6);
  }
  std::memcpy(out, &a0, sizeof a0);
  std::memcpy(out + 2, &a1, sizeof a1);
  std::memcpy(out + 4, &a2, sizeof a2);
  std::memcpy(out + 6, &a3, sizeof a3);
}

void Lanes8(const double* coef, std::size_t nTaps, TTapInputs in, std::size_t count, double* out)
{
  std::size_t m = 0;
  for (; m + 8 <= count; m += 8) Group8(coef, nTaps, in, m, out + m);
  // The last group ends at the last output; it recomputes a few outputs with
  // the same bits rather than running a slow single-lane tail.
  if (m < count) Group8(coef, nTaps, in, count - 8, out + count - 8);
}

#if defined(__x86_64__)
__attribute__((target("avx"))) inline V4 Load4(const double* p)
{
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Sixteen outputs with AVX (no FMA: the products are rounded as in SSE2).
__attribute__((target("avx"), always_inline)) inline void Group16(const double* coef, std::size_t nTaps,
                                                                  TTapInputs in, std::size_t m, double* out)
{
  V4 a0 = {}, a1 = {}, a2 = {}, a3 = {};
  for (std::size_t i = 0; i < nTaps; ++i) {
    const V4 c = {coef[i], coef[i], coef[i], coef[i]};
    const double* p = in[i] + m;
    a0 += c * Load4(p);
    a1 += c * Load4(p + 4);
    a2 += c * Load4(p + 8);
    a3 += c * Load4(p + 12);
  }
  std::memcpy(out, &a0, sizeof a0);
  std::memcpy(out + 4, &a1, sizeof a1);
  std::memcpy(out + 8, &a2, sizeof a2);
  std::memcpy(out + 12, &a3, sizeof a3);
}

__attribute__((target("avx"))) void Lanes16(const double* coef, std::size_t nTaps, TTapInputs in,
                                            std::size_t count, double* out)
{
  std::size_t m = 0;
  for (; m + 16 <= count; m += 16) Group16(coef, nTaps, in, m, out + m);
  if (m < count) Group16(coef, nTaps, in, count - 16, out + count - 16);
}

bool HaveAvx()
{
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
}
#endif

double One(const double* coef, std::size_t nTaps, TTapInputs in, std::size_t m)
{
  double acc = 0.0;
  for (std::size_t i = 0; i < nTaps; ++i) acc += coef[i] * in[i][m];
  return acc;
}

constexpr std::size_t MaxTaps = 128;

}  // namespace

void FirBlock(const double* coef, std::size_t taps, const double* line, std::size_t newest,
              std::size_t stride, std::size_t count, double* out, bool skipZeros)
{
  if (count == 0 || taps > MaxTaps || stride == 0) return;
  const std::size_t lineLen = newest + (count - 1) * stride + 1;

  // With a stride, output m's tap k reads line[newest − k + m·stride]: split the
  // line into its `stride` phases so that every tap reads consecutive samples.
  // The scratch grows once to the block size and is reused from then on.
  thread_local std::vector<double> phases;
  const double* base = line;
  std::size_t phaseLen = 0;
  if (stride > 1) {
    phaseLen = (lineLen + stride - 1) / stride;
    phases.resize(phaseLen * stride);
    for (std::size_t r = 0; r < stride; ++r)
      for (std::size_t j = 0; j * stride + r < lineLen; ++j) phases[r * phaseLen + j] = line[j * stride + r];
    base = phases.data();
  }

  // The taps taking part, in order, and where each one's input for output 0 lies.
  std::array<double, MaxTaps> c;
  std::array<const double*, MaxTaps> in;
  std::size_t n = 0;
  for (std::size_t k = 0; k < taps; ++k) {
    if (skipZeros && coef[k] == 0.0) continue;  // adds exactly nothing
    const std::size_t at = newest - k;
    c[n] = coef[k];
    in[n] = stride > 1 ? base + (at % stride) * phaseLen + at / stride : base + at;
    ++n;
  }

#if defined(__x86_64__)
  if (count >= 16 && HaveAvx()) {
    Lanes16(c.data(), n, in.data(), count, out);
    return;
  }
#endif
  if (count >= 8) {
    Lanes8(c.data(), n, in.data(), count, out);
    return;
  }
  for (std::size_t m = 0; m < count; ++m) out[m] = One(c.data(), n, in.data(), m);
}

}  // namespace brontel
