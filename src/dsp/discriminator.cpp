#include "dsp/discriminator.h"

#include <array>
#include <cmath>

namespace brontel {

double InstantPhase(double i, double q)
{
  if (i == 0.0 || q == 0.0) return 0.0;
  return std::atan2(i, q);
}

double PhaseStep(double p, double x)
{
  double d = p - x;
  if (d < 0.0) d = p + TwoPi - x;
  return d;
}

void DiscriminateBlock(TDiscriminator& d, std::span<const double, BlockLen> in, std::span<double, BlockLen> phase,
                       std::span<double, BlockLen> disc)
{
  // The in-phase part is the input delayed by the transformer's group delay;
  // its first samples still lie in the history.
  constexpr int Delay = HilbTaps / 2;  // 25 samples
  std::array<double, Delay> earlier;
  for (int k = 0; k < Delay; ++k) earlier[k] = d.HilbHist[Delay - 1 - k];
  auto inPhase = [&](int m) { return m >= Delay ? in[m - Delay] : earlier[m]; };

  std::array<double, BlockLen> q;
  FilterBlock(d.HilbHist, HilbCoef(), in, std::span<double>(q), 1, /*skipZeros=*/true);

  // Phase, phase step and scaled deviation, in time order.
  std::array<double, BlockLen> deviation;
  for (int m = 0; m < BlockLen; ++m) {
    phase[m] = InstantPhase(inPhase(m), q[m]);
    const double p = m == 0 ? d.LastPhase : phase[m - 1];
    deviation[m] = (PhaseStep(p, phase[m]) - DiscOffset) * DiscScale;
  }
  d.LastPhase = phase[BlockLen - 1];

  FilterBlock(d.PostHist, PostCoef(), std::span<const double, BlockLen>(deviation), disc);
}

}  // namespace brontel
