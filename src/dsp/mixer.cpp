#include "dsp/mixer.h"

#include <cmath>

#include "dsp/rates.h"

namespace brontel {

double MixSample(TMixer& mix, double centF, double x)
{
  mix.MixPhase = mix.MixPhase + (IFFreq - centF) * TwoPi * SamplePeriod;
  // A centre above 1500 Hz turns the phase backwards; wrap either way.
  if (mix.MixPhase >= TwoPi)
    mix.MixPhase -= TwoPi;
  else if (mix.MixPhase < 0.0)
    mix.MixPhase += TwoPi;
  mix.MixOsc = std::cos(mix.MixPhase);
  return x * mix.MixOsc;
}

void MixBlock(TMixer& mix, double centF, std::span<const double> in, std::span<double> out)
{
  for (std::size_t m = 0; m < in.size() && m < out.size(); ++m) out[m] = MixSample(mix, centF, in[m]);
}

}  // namespace brontel
