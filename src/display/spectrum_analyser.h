// The spectrum analyser: a 1024-point Hann-windowed FFT of the
// mixer output, ten times a second, as levels 20 · ln |X|.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/receiver_state.h"

namespace brontel {

inline constexpr int FftLength = 1024;
// The angle step of every table, 2π/1024 rad, a fixed constant (not derived
// from FftSize).
inline constexpr double FftStep = 0.006135923151542565;
static_assert(FftStep == TwoPi / 1024);

// The analyser's state: tables (built once) and the per-block arrays. Zero
// until InitSpectrumTables; fixed size, nothing allocated.
struct TSpectrumAnalyser {
  int32_t FftSize = 0;
  std::array<double, FftLength / 2> FftCos{};  // cos(k · FftStep)
  std::array<double, FftLength / 2> FftSin{};  // −sin(k · FftStep)
  std::array<int32_t, FftLength> FftRev{};     // i with its 10 bits reversed
  std::array<double, FftLength> FftWindow{};   // periodic Hann, 0 at n = 0, 1 at n = 512
  std::array<double, FftLength> SpecBuf{};     // analysis window, newest block at 0 … 440
  std::array<double, FftLength> FftRe{}, FftIm{};
  std::array<double, FftLength> SpecLevel{};   // level of each bin, natural order
};

// Builds FftSize, FftCos, FftSin, FftRev and FftWindow.
void InitSpectrumTables(TSpectrumAnalyser& a);

// One analysis: ages SpecBuf by one block, takes the block's 441
// mixer outputs into positions 0 … 440, windows, transforms (radix-2
// decimation in frequency, no scaling), converts each bin to
// 20 · ln(sqrt(re² + im²)) (0.0 when re or im is exactly 0.0) and reorders the
// levels into bin order in SpecLevel.
void AnalyseSpectrum(TSpectrumAnalyser& a, std::span<const double, BlockLen> mixed);

}  // namespace brontel
