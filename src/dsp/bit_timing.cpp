#include "dsp/bit_timing.h"

#include <cmath>
#include <numbers>

namespace brontel {

const TResonator& Resonator()
{
  static const TResonator r = [] {
    constexpr double pi = std::numbers::pi;
    const double t = SamplePeriod;
    TResonator c;
    c.ResC1 = std::exp(-pi * ResBandwidth * t) * 2.0 * std::cos(2.0 * pi * ResFreq * t);
    c.ResC2 = std::exp(-2.0 * pi * ResBandwidth * t) * (-1.0);
    c.ResC0 = std::sin(2.0 * pi * ResFreq * t) * ResGain;
    return c;
  }();
  return r;
}

double ClockDelayAt(const TBitClock& clk, int k) { return clk.ClockDelay[(clk.ClockHead + k) % ClockDelayLen]; }

double TimeSample(TBitClock& clk, double disc, TBitBlock& bits, uint8_t& taken)
{
  const TResonator& res = Resonator();

  // Rectified deviation: near 0 at a transition, most negative mid-bit.
  const double r = disc >= 0.0 ? disc * (-1.0) : disc;

  const double y = res.ResC0 * r + clk.ResY[1] * res.ResC1 + clk.ResY[2] * res.ResC2;
  clk.ResY[0] = y;
  clk.ResY[2] = clk.ResY[1];
  clk.ResY[1] = y;

  clk.ClockHead = (clk.ClockHead + ClockDelayLen - 1) % ClockDelayLen;
  clk.ClockDelay[clk.ClockHead] = y;
  const double c = ClockDelayAt(clk, ClockTap);

  const double clock = c >= 0.0 ? 10.0 : -10.0;
  taken = 0;
  if (clk.PrevClock < clock && bits.BitCount < BitBufLen) {
    bits.BitBuf[bits.BitCount] = disc >= 0.0 ? 1 : 0;
    bits.BitCount = bits.BitCount + 1;
    taken = 1;
  }
  clk.PrevClock = clock;
  return clock;
}

void TimeBlock(TBitClock& clk, std::span<const double, BlockLen> disc, std::span<double, BlockLen> clockBuf,
               std::span<uint8_t, BlockLen> sampleFlags, TBitBlock& bits)
{
  bits.BitCount = 0;
  for (int m = 0; m < BlockLen; ++m) clockBuf[m] = TimeSample(clk, disc[m], bits, sampleFlags[m]);
}

}  // namespace brontel
