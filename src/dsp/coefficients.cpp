#include "dsp/coefficients.h"

#include <algorithm>
#include <vector>

#include "dsp/kaiser.h"

namespace brontel {

namespace {

template <std::size_t N>
std::array<double, N> ToArray(const std::vector<double>& v)
{
  std::array<double, N> a{};
  std::copy_n(v.begin(), N, a.begin());
  return a;
}

// Taps 25 + j of the Hilbert transformer for odd j; tap 25 - j is the negative,
// taps at even distance from the centre are zero.
constexpr std::array<double, 13> HilbertOddTaps = {
    0.635259354,   // j = 1
    0.208151942,   // j = 3
    0.120653981,   // j = 5
    0.0817888932,  // j = 7
    0.059265658,   // j = 9
    0.0443046879,  // j = 11
    0.0335463929,  // j = 13
    0.0254322311,  // j = 15
    0.0191400206,  // j = 17
    0.0141916824,  // j = 19
    0.0102853949,  // j = 21
    0.00721576583, // j = 23
    0.00831235503, // j = 25
};

}  // namespace

const std::array<double, DecimTaps>& DecimCoef()
{
  static const auto table = ToArray<DecimTaps>(KaiserLowPass(2200.0, 44100.0, 25, KaiserBeta(60.0)));
  return table;
}

const std::array<double, BandTaps>& BandCoef()
{
  static const auto table =
      ToArray<BandTaps>(KaiserBandPass(1400.0, 1600.0, 4410.0, 50, KaiserBeta(40.0)));
  return table;
}

const std::array<double, HilbTaps>& HilbCoef()
{
  static const auto table = [] {
    std::array<double, HilbTaps> t{};
    for (int i = 0; i < 13; ++i) {
      const int j = 2 * i + 1;
      t[25 + j] = HilbertOddTaps[i];
      t[25 - j] = -HilbertOddTaps[i];
    }
    return t;
  }();
  return table;
}

const std::array<double, PostTaps>& PostCoef()
{
  static const auto table = ToArray<PostTaps>(KaiserLowPass(65.0, 4410.0, 50, KaiserBeta(40.0)));
  return table;
}

}  // namespace brontel
