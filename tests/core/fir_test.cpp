// The lane FIR against the plain sum over many sizes, strides and offsets.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "dsp/fir.h"

namespace brontel {
namespace {

template <std::size_t taps>
void ExpectPlainSum(std::mt19937& rng)
{
  std::uniform_real_distribution<double> u(-30000.0, 30000.0);
  for (std::size_t stride : {1u, 10u})
    for (std::size_t count : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 40u, 441u}) {
        std::array<double, taps> coef;
        std::vector<double> line((taps - 1) + count * stride + 3);
        for (double& c : coef) c = u(rng) / 1e5;
        if (taps > 2) coef[taps / 2] = 0.0;
        for (double& x : line) x = u(rng);
        for (bool skip : {false, true}) {
          const std::size_t newest = taps - 1 + (stride - 1);
          std::vector<double> out(count), want(count);
          FirBlock(coef, line.data(), newest, stride, count, out.data(), skip);
          for (std::size_t m = 0; m < count; ++m) {
            double acc = 0.0;
            for (std::size_t k = 0; k < taps; ++k) acc += coef[k] * line[newest + m * stride - k];
            want[m] = acc;
          }
          ASSERT_EQ(out, want) << "taps " << taps << " stride " << stride << " count " << count;
        }
    }
}

TEST(FirBlock, EqualsThePlainSumBitForBit)
{
  std::mt19937 rng(7);
  ExpectPlainSum<1>(rng);
  ExpectPlainSum<26>(rng);
  ExpectPlainSum<51>(rng);
  ExpectPlainSum<101>(rng);
}

}  // namespace
}  // namespace brontel
