#include "dsp/bit_timing.h"

#include <cmath>
#include <numbers>

namespace brontel {

void InitResonator(TReceiver& rx)
{
  constexpr double pi = std::numbers::pi;
  const double t = SamplePeriod;
  rx.ResC1 = std::exp(-pi * ResBandwidth * t) * 2.0 * std::cos(2.0 * pi * ResFreq * t);
  rx.ResC2 = std::exp(-2.0 * pi * ResBandwidth * t) * (-1.0);
  rx.ResC0 = std::sin(2.0 * pi * ResFreq * t) * ResGain;
}

double ClockDelayAt(const TChannelState& s, int k)
{
  return s.ClockDelay[(s.ClockHead + k) % ClockDelayLen];
}

void TimeSample(TReceiver& rx, int ch, int m)
{
  TChannelState& s = rx.Channels[ch];
  const double disc = s.DiscBuf[m];

  // Rectified deviation: near 0 at a transition, most negative mid-bit.
  const double r = disc >= 0.0 ? disc * (-1.0) : disc;

  const double y = rx.ResC0 * r + s.ResY[1] * rx.ResC1 + s.ResY[2] * rx.ResC2;
  s.ResY[0] = y;
  s.ResY[2] = s.ResY[1];
  s.ResY[1] = y;

  s.ClockHead = (s.ClockHead + ClockDelayLen - 1) % ClockDelayLen;
  s.ClockDelay[s.ClockHead] = y;
  const double c = ClockDelayAt(s, ClockTap);

  s.ClockBuf[m] = c >= 0.0 ? 10.0 : -10.0;
  if (s.PrevClock >= s.ClockBuf[m]) {
    s.SampleFlags[m] = 0;
  } else {
    s.BitBuf[s.BitCount] = disc >= 0.0 ? 1 : 0;
    s.SampleFlags[m] = 1;
    s.BitCount = s.BitCount + 1;
  }
  s.PrevClock = s.ClockBuf[m];
}

}  // namespace brontel
