#include "dsp/mixer.h"

#include <cmath>

namespace brontel {

void MixSample(TReceiver& rx, int ch, int m)
{
  TChannelState& s = rx.Channels[ch];
  s.MixPhase = s.MixPhase + (IFFreq - rx.CentF) * TwoPi * SamplePeriod;
  // A centre above 1500 Hz turns the phase backwards; wrap either way.
  if (s.MixPhase >= TwoPi)
    s.MixPhase -= TwoPi;
  else if (s.MixPhase < 0.0)
    s.MixPhase += TwoPi;
  s.MixOsc = std::cos(s.MixPhase);
  s.WorkBuf[m] = s.WorkBuf[m] * s.MixOsc;
  rx.MixedBuf[m] = s.WorkBuf[m];
}

}  // namespace brontel
