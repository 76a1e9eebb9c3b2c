// Block FIR evaluation that keeps the exact per-output summation order.
//
// Each output is Σ coef[k] × x(n − k) summed k = 0, 1, 2, … into an accumulator
// that starts at 0.0, exactly as a history with entry 0 newest would give.
// Speed comes from computing several outputs at once in independent lanes,
// never from reordering one output's sum.
#pragma once

#include <cstddef>

namespace brontel {

// out[m] = Σ_{k=0}^{taps-1} coef[k] × line[newest + m·stride − k], m = 0 … count−1.
// `line` holds samples oldest first; `newest` is the index of output 0's newest
// sample and must be at least taps − 1. Taps that are exactly zero contribute
// nothing to the sum and are skipped when skipZeros is set.
void FirBlock(const double* coef, std::size_t taps, const double* line, std::size_t newest,
              std::size_t stride, std::size_t count, double* out, bool skipZeros = false);

}  // namespace brontel
