#include "dsp/discriminator.h"

#include <algorithm>
#include <cmath>

#include "dsp/coefficients.h"
#include "dsp/fir.h"

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

void DiscriminateBlock(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  constexpr int HilbPast = HilbTaps - 1;
  constexpr int Delay = HilbTaps / 2;  // group delay of the transformer: 25 samples
  constexpr int PostPast = PostTaps - 1;

  // Quadrature part of every sample; the in-phase part is the input delayed by 25.
  std::array<double, HilbPast + BlockLen> hilbLine;
  for (int k = 0; k < HilbPast; ++k) hilbLine[HilbPast - 1 - k] = s.HilbHist[k];
  std::copy_n(s.WorkBuf.begin(), BlockLen, hilbLine.begin() + HilbPast);
  std::array<double, BlockLen> q;
  FirBlock(HilbCoef().data(), HilbTaps, hilbLine.data(), HilbPast, 1, BlockLen, q.data(),
           /*skipZeros=*/true);
  for (int k = 0; k < HilbTaps; ++k) s.HilbHist[k] = hilbLine[HilbPast + BlockLen - 1 - k];

  // Phase, phase step and scaled deviation, in time order.
  std::array<double, PostPast + BlockLen> postLine;
  for (int k = 0; k < PostPast; ++k) postLine[PostPast - 1 - k] = s.PostHist[k];
  for (int m = 0; m < BlockLen; ++m) {
    s.WorkBuf[m] = InstantPhase(hilbLine[HilbPast + m - Delay], q[m]);
    const double p = m == 0 ? s.LastPhase : s.WorkBuf[m - 1];
    const double d = PhaseStep(p, s.WorkBuf[m]);
    postLine[PostPast + m] = (d - DiscOffset) * DiscScale;
  }
  s.LastPhase = s.WorkBuf[BlockLen - 1];

  FirBlock(PostCoef().data(), PostTaps, postLine.data(), PostPast, 1, BlockLen, s.DiscBuf.data());
  for (int k = 0; k < PostTaps; ++k) s.PostHist[k] = postLine[PostPast + BlockLen - 1 - k];
}

}  // namespace brontel
