// FIR filtering that keeps the exact per-output summation order.
//
// Each output is Σ coef[k] × x(n − k) summed k = 0, 1, 2, … into an accumulator
// that starts at 0.0, exactly as a history with entry 0 newest would give.
// Speed comes from computing several outputs at once in independent lanes,
// never from reordering one output's sum.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

namespace brontel {

namespace fir_detail {
// The lane kernels: out[m] = Σ_i coef[i] × in[i][m], i = 0 … nTaps−1 in order.
void RunLanes(const double* coef, std::size_t nTaps, const double* const* in, std::size_t count,
              double* out);
// Splits a line of lineLen samples, `past` (pastLen samples, oldest first)
// followed by `recent`, into `stride` phases of phaseLen samples each (phase r
// holds line[r], line[r + stride], …) in a reused scratch buffer.
const double* SplitPhases(const double* past, std::size_t pastLen, const double* recent, std::size_t lineLen,
                          std::size_t stride, std::size_t phaseLen);

// FirBlock on a line held as it is (stride 1) or split into its phases.
template <std::size_t Taps>
void RunTaps(const std::array<double, Taps>& coef, const double* base, std::size_t newest, std::size_t stride,
             std::size_t phaseLen, std::size_t count, double* out, bool skipZeros)
{
  // The taps taking part, in order, and where each one's input for output 0 lies.
  std::array<double, Taps> c;
  std::array<const double*, Taps> in;
  std::size_t n = 0;
  for (std::size_t k = 0; k < Taps; ++k) {
    if (skipZeros && coef[k] == 0.0) continue;  // adds exactly nothing
    const std::size_t at = newest - k;
    c[n] = coef[k];
    in[n] = stride > 1 ? base + (at % stride) * phaseLen + at / stride : base + at;
    ++n;
  }
  RunLanes(c.data(), n, in.data(), count, out);
}
}  // namespace fir_detail

// out[m] = Σ_{k=0}^{Taps-1} coef[k] × line[newest + m·stride − k], m = 0 … count−1.
// `line` holds samples oldest first; `newest` is the index of output 0's newest
// sample and must be at least Taps − 1. Taps that are exactly zero contribute
// nothing to the sum and are skipped when skipZeros is set.
template <std::size_t Taps>
void FirBlock(const std::array<double, Taps>& coef, const double* line, std::size_t newest,
              std::size_t stride, std::size_t count, double* out, bool skipZeros = false)
{
  static_assert(Taps > 0, "a filter has at least one tap");
  if (count == 0 || stride == 0) return;
  const std::size_t lineLen = newest + (count - 1) * stride + 1;

  // With a stride, output m's tap k reads line[newest − k + m·stride]: split the
  // line into its `stride` phases so that every tap reads consecutive samples.
  const std::size_t phaseLen = (lineLen + stride - 1) / stride;
  const double* base =
      stride > 1 ? fir_detail::SplitPhases(line, lineLen, nullptr, lineLen, stride, phaseLen) : line;
  fir_detail::RunTaps(coef, base, newest, stride, phaseLen, count, out, skipZeros);
}

// A filter's input history, entry 0 newest.
template <std::size_t Taps>
using TFirHistory = std::array<double, Taps>;

// Filters a block through `coef` with the history `hist`, which then holds the
// block's newest inputs. Output m is the filter output after input
// m·stride + stride − 1 (every input when stride is 1, the decimated outputs
// otherwise), exactly as pushing each input into `hist` and summing would give.
template <std::size_t Taps, std::size_t N>
void FilterBlock(TFirHistory<Taps>& hist, const std::array<double, Taps>& coef,
                 std::span<const double, N> in, std::span<double> out, std::size_t stride = 1,
                 bool skipZeros = false)
{
  static_assert(N > 0, "a block holds samples");
  constexpr std::size_t Past = Taps - 1;
  if (stride > 1) {
    // Decimating: the inputs are taken straight into their phases (the block
    // is not copied first), as a line of the history, oldest first, then the
    // block.
    std::array<double, Past> past;
    for (std::size_t k = 0; k < Past; ++k) past[Past - 1 - k] = hist[k];
    const std::size_t count = std::min(out.size(), N / stride);
    if (count > 0) {
      const std::size_t newest = Past + stride - 1;
      const std::size_t lineLen = Past + count * stride;
      const std::size_t phaseLen = (lineLen + stride - 1) / stride;
      const double* base = fir_detail::SplitPhases(past.data(), Past, in.data(), lineLen, stride, phaseLen);
      fir_detail::RunTaps(coef, base, newest, stride, phaseLen, count, out.data(), skipZeros);
    }
    for (std::size_t k = 0; k < Taps; ++k) hist[k] = k < N ? in[N - 1 - k] : past[Past + N - 1 - k];
    return;
  }
  std::array<double, Past + N> line;  // the inputs before the block, oldest first, then the block
  for (std::size_t k = 0; k < Past; ++k) line[Past - 1 - k] = hist[k];
  std::copy(in.begin(), in.end(), line.begin() + Past);
  FirBlock(coef, line.data(), Past, 1, std::min(out.size(), N), out.data(), skipZeros);
  for (std::size_t k = 0; k < Taps; ++k) hist[k] = line[Past + N - 1 - k];
}

}  // namespace brontel
