// The spectrum analyser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>

#include "display/spectrum_analyser.h"
#include "display_test_util.h"

namespace brontel {
namespace {

std::unique_ptr<TSpectrumAnalyser> MakeAnalyser()
{
  auto a = std::make_unique<TSpectrumAnalyser>();
  InitSpectrumTables(*a);
  return a;
}

// Block `b` of a tone of `freq` Hz and `amplitude` at 4410 Hz.
std::array<double, BlockLen> ToneBlock(int b, double freq, double amplitude)
{
  std::array<double, BlockLen> m{};
  for (int i = 0; i < BlockLen; ++i) m[i] = amplitude * std::cos(TwoPi * freq * (b * BlockLen + i) / DecimRate);
  return m;
}

TEST(SpectrumAnalyser, Tables)
{
  auto a = MakeAnalyser();
  EXPECT_EQ(a->FftSize, 1024);
  EXPECT_EQ(FftStep, 6.283185307179586 / 1024);
  for (int k = 0; k < 512; ++k) {
    EXPECT_EQ(a->FftCos[k], std::cos(k * FftStep));
    EXPECT_EQ(a->FftSin[k], -std::sin(k * FftStep));
  }
  for (int i = 0; i < 1024; ++i) {
    int r = 0;
    for (int b = 0; b < 10; ++b)
      if (i & (1 << b)) r |= 1 << (9 - b);
    EXPECT_EQ(a->FftRev[i], r) << i;
  }
  EXPECT_EQ(a->FftRev[1], 512);
  EXPECT_EQ(a->FftRev[3], 768);
  EXPECT_EQ(a->FftWindow[0], 0.0);
  EXPECT_EQ(a->FftWindow[512], 1.0);
  EXPECT_NEAR(a->FftWindow[256], 0.5, 1e-15);
  EXPECT_EQ(a->FftWindow[1], a->FftWindow[1023]);  // periodic: divisor 1024
}

TEST(SpectrumAnalyser, SilenceGivesZeroEverywhere)
{
  auto a = MakeAnalyser();
  const std::array<double, BlockLen> zero{};
  for (int b = 0; b < 4; ++b) {
    AnalyseSpectrum(*a, zero);
    for (int k = 0; k < 1024; ++k) ASSERT_EQ(a->SpecLevel[k], 0.0) << k;
  }
}

TEST(SpectrumAnalyser, ToneOf1500HzPeaksInBin348)
{
  auto a = MakeAnalyser();
  for (int b = 0; b < 4; ++b) {
    AnalyseSpectrum(*a, ToneBlock(b, 1500.0, 1000.0));
    if (b < 2) continue;  // the window is full after three blocks
    const auto& L = a->SpecLevel;
    const int peak = int(std::max_element(L.begin(), L.begin() + 512) - L.begin());
    EXPECT_EQ(peak, 348);
    int second = -1;
    for (int k = 0; k < 512; ++k)
      if (k != peak && (second < 0 || L[k] > L[second])) second = k;
    EXPECT_EQ(second, 349);
    // 150 cycles per block: the block arrangement does not break the phase,
    // so every full window gives the same spectrum.
    EXPECT_NEAR(L[348], 247.9, 0.05) << "block " << b;
  }
}

TEST(SpectrumAnalyser, BinZeroIsAlwaysZero)
{
  auto a = MakeAnalyser();
  uint32_t seed = 1;
  for (int b = 0; b < 6; ++b) {
    std::array<double, BlockLen> m{};
    for (double& v : m) v = 500.0 + test::Lcg(seed) * 3000.0;  // DC plus noise
    AnalyseSpectrum(*a, m);
    EXPECT_EQ(a->SpecLevel[0], 0.0);
    EXPECT_NE(a->SpecLevel[1], 0.0);
  }
}

TEST(SpectrumAnalyser, WindowAgesByOneBlock)
{
  auto a = MakeAnalyser();
  std::array<double, BlockLen> m{};
  for (int b = 0; b < 3; ++b) {
    for (int i = 0; i < BlockLen; ++i) m[i] = 1000.0 * b + i;
    AnalyseSpectrum(*a, m);
  }
  // Current block, previous block, the first 142 samples of the one before.
  for (int i = 0; i < BlockLen; ++i) {
    EXPECT_EQ(a->SpecBuf[i], 2000.0 + i);
    EXPECT_EQ(a->SpecBuf[BlockLen + i], 1000.0 + i);
  }
  for (int i = 0; i < 1024 - 2 * BlockLen; ++i) EXPECT_EQ(a->SpecBuf[2 * BlockLen + i], 0.0 + i);
}

// The levels against a direct DFT of the windowed analysis window.
TEST(SpectrumAnalyser, MatchesDirectDft)
{
  auto a = MakeAnalyser();
  uint32_t seed = 99;
  for (int b = 0; b < 3; ++b) {
    std::array<double, BlockLen> m{};
    for (int i = 0; i < BlockLen; ++i)
      m[i] = 2000.0 * std::cos(TwoPi * 1415.0 * (b * BlockLen + i) / DecimRate) + 300.0 * test::Lcg(seed);
    AnalyseSpectrum(*a, m);
  }
  for (int k = 1; k < 1024; ++k) {
    if (k == 512) continue;  // imaginary part exactly zero: level 0.0
    std::complex<long double> x = 0;
    for (int n = 0; n < 1024; ++n) {
      const long double w = 0.5L - 0.5L * std::cos(2.0L * 3.14159265358979323846L * n / 1024);
      x += std::polar<long double>(a->SpecBuf[n] * w, -2.0L * 3.14159265358979323846L * k * n / 1024);
    }
    const double expected = 20.0 * std::log(double(std::abs(x)));
    ASSERT_NEAR(a->SpecLevel[k], expected, 1e-6) << "bin " << k;
  }
  EXPECT_EQ(a->SpecLevel[0], 0.0);
  EXPECT_EQ(a->SpecLevel[512], 0.0);
}

// The exact numbers of a fixed input: any change of the operation order of
// the window, the butterflies or the levels changes this checksum.
TEST(SpectrumAnalyser, GoldenLevels)
{
  auto a = MakeAnalyser();
  uint32_t seed = 4242;
  for (int b = 0; b < 5; ++b) {
    std::array<double, BlockLen> m{};
    for (int i = 0; i < BlockLen; ++i)
      m[i] = 3000.0 * std::cos(TwoPi * 1585.0 * (b * BlockLen + i) / DecimRate) + 800.0 * test::Lcg(seed);
    AnalyseSpectrum(*a, m);
  }
  EXPECT_EQ(test::Fnv1a(a->SpecLevel.data(), sizeof(double) * 1024), test::GoldenSpecLevels)
      << std::hex << test::Fnv1a(a->SpecLevel.data(), sizeof(double) * 1024);
}

}  // namespace
}  // namespace brontel
