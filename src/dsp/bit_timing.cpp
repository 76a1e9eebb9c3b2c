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

namespace {

// The clock's running values held in locals over a stretch of samples (the
// compiler cannot keep them in registers through the bit writes otherwise);
// the arithmetic is that of one sample at a time.
class TClockRun {
public:
  explicit TClockRun(TBitClock& clk)
      : Clk(clk), Res(Resonator()), Y1(clk.ResY[1]), Y2(clk.ResY[2]), Head(clk.ClockHead), Prev(clk.PrevClock)
  {
  }
  ~TClockRun()
  {
    if (Stepped) Clk.ResY = {Y1, Y1, Y2};  // y(n) is also y(n−1) of the next sample
    Clk.ClockHead = Head;
    Clk.PrevClock = Prev;
  }
  TClockRun(const TClockRun&) = delete;
  TClockRun& operator=(const TClockRun&) = delete;

  double Step(double disc, TBitBlock& bits, uint8_t& taken)
  {
    // Rectified deviation: near 0 at a transition, most negative mid-bit.
    const double r = disc >= 0.0 ? disc * (-1.0) : disc;

    const double y = Res.ResC0 * r + Y1 * Res.ResC1 + Y2 * Res.ResC2;
    Y2 = Y1;
    Y1 = y;
    Stepped = true;

    Head = (Head + ClockDelayLen - 1) % ClockDelayLen;
    Clk.ClockDelay[Head] = y;
    const double c = Clk.ClockDelay[(Head + ClockTap) % ClockDelayLen];

    const double clock = c >= 0.0 ? 10.0 : -10.0;
    taken = 0;
    if (Prev < clock && bits.BitCount < BitBufLen) {
      bits.BitBuf[bits.BitCount] = disc >= 0.0 ? 1 : 0;
      bits.BitCount = bits.BitCount + 1;
      taken = 1;
    }
    Prev = clock;
    return clock;
  }

private:
  TBitClock& Clk;
  const TResonator& Res;
  double Y1, Y2;
  int32_t Head;
  double Prev;
  bool Stepped = false;
};

}  // namespace

double TimeSample(TBitClock& clk, double disc, TBitBlock& bits, uint8_t& taken)
{
  TClockRun run(clk);
  return run.Step(disc, bits, taken);
}

void TimeBlock(TBitClock& clk, std::span<const double, BlockLen> disc, std::span<double, BlockLen> clockBuf,
               std::span<uint8_t, BlockLen> sampleFlags, TBitBlock& bits)
{
  bits.BitCount = 0;
  TClockRun run(clk);
  for (int m = 0; m < BlockLen; ++m) clockBuf[m] = run.Step(disc[m], bits, sampleFlags[m]);
}

}  // namespace brontel
