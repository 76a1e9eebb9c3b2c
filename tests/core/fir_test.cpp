// The lane FIR against the plain sum over many sizes, strides and offsets.
#include <gtest/gtest.h>

#include <algorithm>
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
    for (std::size_t count : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 32u, 33u, 40u, 48u, 49u, 64u, 441u}) {
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

// FilterBlock over consecutive blocks against pushing every input into a
// history and summing it, for the strides, block lengths and filter lengths
// the chain uses and for awkward ones (a block shorter than the filter, a
// length that is not a multiple of the stride, fewer outputs asked for).
template <std::size_t Taps, std::size_t N>
void ExpectPushAndSum(std::size_t stride, std::size_t outputs, std::mt19937& rng)
{
  std::uniform_real_distribution<double> u(-30000.0, 30000.0);
  std::array<double, Taps> coef;
  for (double& c : coef) c = u(rng) / 1e5;
  TFirHistory<Taps> hist{}, plain{};
  for (int block = 0; block < 4; ++block) {
    std::array<double, N> in;
    for (double& x : in) x = u(rng);
    std::vector<double> out(outputs, -1.0), want;
    FilterBlock(hist, coef, std::span<const double, N>(in), std::span<double>(out), stride);
    for (std::size_t j = 0; j < N; ++j) {
      std::copy_backward(plain.begin(), plain.end() - 1, plain.end());
      plain[0] = in[j];
      if (j % stride != stride - 1 || want.size() == std::min(outputs, N / stride)) continue;
      double acc = 0.0;
      for (std::size_t k = 0; k < Taps; ++k) acc += coef[k] * plain[k];
      want.push_back(acc);
    }
    want.resize(outputs, -1.0);  // outputs beyond the block's are left alone
    ASSERT_EQ(out, want) << Taps << " taps, " << N << " inputs, stride " << stride << ", block " << block;
    ASSERT_EQ(hist, plain) << Taps << " taps, " << N << " inputs, stride " << stride << ", block " << block;
  }
}

TEST(FilterBlock, EqualsPushingEachInputAndSumming)
{
  std::mt19937 rng(11);
  ExpectPushAndSum<51, 4410>(10, 441, rng);
  ExpectPushAndSum<101, 441>(1, 441, rng);
  ExpectPushAndSum<51, 20>(10, 2, rng);   // the block shorter than the filter
  ExpectPushAndSum<51, 37>(10, 3, rng);   // not a multiple of the stride
  ExpectPushAndSum<26, 100>(10, 4, rng);  // fewer outputs than the block has
  ExpectPushAndSum<26, 100>(3, 40, rng);
  ExpectPushAndSum<1, 30>(10, 3, rng);
}

}  // namespace
}  // namespace brontel
