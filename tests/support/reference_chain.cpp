#include "support/reference_chain.h"

#include <cmath>

#include "dsp/coefficients.h"

namespace brontel::test {

namespace {

template <std::size_t N>
void Push(std::array<double, N>& hist, double x)
{
  for (std::size_t k = N - 1; k >= 1; --k) hist[k] = hist[k - 1];
  hist[0] = x;
}

template <std::size_t N>
double Dot(const std::array<double, N>& coef, const std::array<double, N>& hist)
{
  double acc = 0.0;
  for (std::size_t k = 0; k < N; ++k) acc += coef[k] * hist[k];
  return acc;
}

}  // namespace

TReferenceChain::TReferenceChain()
{
  const double pi = 3.141592653589793;
  const double t = 1.0 / 4410;
  ResC1 = std::exp(-pi * 0.5 * t) * 2.0 * std::cos(2.0 * pi * 100.0 * t);
  ResC2 = std::exp(-2.0 * pi * 0.5 * t) * (-1.0);
  ResC0 = std::sin(2.0 * pi * 100.0 * t) * 1e-6;
}

void TReferenceChain::ProcessBlock(const int16_t* block)
{
  for (int j = 0; j < FramesPerBlock; ++j) WorkBuf[j] = block[2 * j];
  BitCount = 0;

  for (int i = 0; i < FramesPerBlock; ++i) {
    Push(DecimHist, WorkBuf[i]);
    WorkBuf[i / 10] = Dot(DecimCoef(), DecimHist);
  }

  for (int m = 0; m < BlockLen; ++m) {
    // Mixer.
    MixPhase = MixPhase + (1500.0 - CentF) * 6.283185307179586 * (1.0 / 4410);
    if (MixPhase >= 6.283185307179586)
      MixPhase -= 6.283185307179586;
    else if (MixPhase < 0.0)
      MixPhase += 6.283185307179586;
    MixOsc = std::cos(MixPhase);
    WorkBuf[m] = WorkBuf[m] * MixOsc;
    MixedBuf[m] = WorkBuf[m];

    // Band-pass.
    Push(BandHist, WorkBuf[m]);
    WorkBuf[m] = Dot(BandCoef(), BandHist);

    // Discriminator.
    Push(HilbHist, WorkBuf[m]);
    const double q = Dot(HilbCoef(), HilbHist);
    const double in = HilbHist[25];
    WorkBuf[m] = (in == 0.0 || q == 0.0) ? 0.0 : std::atan2(in, q);
    const double p = m == 0 ? LastPhase : WorkBuf[m - 1];
    double d = p - WorkBuf[m];
    if (d < 0) d = p + 6.283185307179586 - WorkBuf[m];
    if (m == 440) LastPhase = WorkBuf[440];
    d = (d - 6.283185307179586 * 1500 / 4410) * 25000;
    Push(PostHist, d);
    DiscBuf[m] = Dot(PostCoef(), PostHist);

    // Bit timing.
    const double r = DiscBuf[m] >= 0 ? DiscBuf[m] * (-1.0) : DiscBuf[m];
    const double y = ResC0 * r + ResY[1] * ResC1 + ResY[2] * ResC2;
    ResY[0] = y;
    ResY[2] = ResY[1];
    ResY[1] = y;
    Push(ClockDelay, y);
    const double c = ClockDelay[22];
    ClockBuf[m] = c >= 0 ? 10.0 : -10.0;
    if (PrevClock >= ClockBuf[m]) {
      SampleFlags[m] = 0;
    } else {
      BitBuf[BitCount] = DiscBuf[m] >= 0 ? 1 : 0;
      SampleFlags[m] = 1;
      ++BitCount;
    }
    PrevClock = ClockBuf[m];
  }
}

}  // namespace brontel::test
