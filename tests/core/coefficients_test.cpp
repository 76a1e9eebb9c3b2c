#include <gtest/gtest.h>

#include <numeric>

#include "core/receiver.h"
#include "dsp/coefficients.h"
#include "dsp/kaiser.h"

namespace brontel {
namespace {

template <std::size_t N>
void ExpectSymmetric(const std::array<double, N>& t, double sign)
{
  for (std::size_t k = 0; k < N; ++k) EXPECT_EQ(t[k], sign * t[N - 1 - k]) << "tap " << k;
}

TEST(Coefficients, DecimationTableMatchesItsCheckRows)
{
  const auto& t = DecimCoef();
  EXPECT_EQ(t[0], 0.000259546915);
  EXPECT_EQ(t[1], 0.000442776341);
  EXPECT_EQ(t[2], 0.00059972748);
  EXPECT_EQ(t[12], -0.00938058624);
  EXPECT_EQ(t[24], 0.0977457327);
  EXPECT_EQ(t[25], 0.0997732426);
  ExpectSymmetric(t, 1.0);
  EXPECT_NEAR(std::accumulate(t.begin(), t.end(), 0.0), 0.99927, 5e-6);
}

TEST(Coefficients, BandPassTableMatchesItsCheckRows)
{
  const auto& t = BandCoef();
  EXPECT_EQ(t[0], 0.00140235465);
  EXPECT_EQ(t[1], -0.00069040004);
  EXPECT_EQ(t[2], -0.000593274122);
  EXPECT_EQ(t[25], 0.00714983406);
  EXPECT_EQ(t[49], -0.0484745261);
  EXPECT_EQ(t[50], 0.0907029478);
  ExpectSymmetric(t, 1.0);
}

TEST(Coefficients, PostDetectionTableMatchesItsCheckRows)
{
  const auto& t = PostCoef();
  EXPECT_EQ(t[0], -0.00093881742);
  EXPECT_EQ(t[1], -0.00105775423);
  EXPECT_EQ(t[2], -0.00117265473);
  EXPECT_EQ(t[25], 0.00644509999);
  EXPECT_EQ(t[49], 0.0294196428);
  EXPECT_EQ(t[50], 0.029478458);
  ExpectSymmetric(t, 1.0);
  // Gain at 0 Hz of 1.01887 (+0.16 dB).
  EXPECT_NEAR(std::accumulate(t.begin(), t.end(), 0.0), 1.01887, 5e-5);
}

TEST(Coefficients, HilbertTableIsAntisymmetricWithZeroEvenTaps)
{
  const auto& t = HilbCoef();
  ExpectSymmetric(t, -1.0);
  for (int j = 0; j <= 25; j += 2) {
    EXPECT_EQ(t[25 + j], 0.0);
    EXPECT_EQ(t[25 - j], 0.0);
  }
  EXPECT_EQ(t[24], -0.635259354);
  EXPECT_EQ(t[26], 0.635259354);
  EXPECT_EQ(t[0], -0.00831235503);
  EXPECT_EQ(t[50], 0.00831235503);
}

TEST(Coefficients, KaiserBetaIsComputedAtFullPrecision)
{
  EXPECT_DOUBLE_EQ(KaiserBeta(60.0), 5.65326);
  EXPECT_NEAR(KaiserBeta(40.0), 3.395321, 5e-7);
  // The printed β is rounded: the table must not come out of the rounded value.
  const auto rounded = KaiserBandPass(1400.0, 1600.0, 4410.0, 50, 3.395321);
  const auto& t = BandCoef();
  EXPECT_FALSE(std::equal(t.begin(), t.end(), rounded.begin()));
}

TEST(Coefficients, FrontEndConstantsAreExact)
{
  const TResonator& res = Resonator();
  EXPECT_EQ(res.ResC0, 1.419943179576268e-07);
  EXPECT_EQ(res.ResC1, 1.9790299100464948);
  EXPECT_EQ(res.ResC2, -0.9992878743953528);
  EXPECT_EQ(DiscOffset, 2.137137859584893);
}

}  // namespace
}  // namespace brontel
