// The robust demodulator's estimators, each fed the condition it exists for:
// the impulse blanker with bursts over noise, the tone levels with a
// receiver's AGC and level changes, the carrier canceller with carriers
// beside and on a keyed tone pair, the frequency control with a tone pair
// off frequency and a steady carrier beside it.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <algorithm>
#include <vector>

#include "dsp/frequency_control.h"
#include "dsp/impulse_blanker.h"
#include "dsp/kaiser.h"
#include "dsp/line_canceller.h"
#include "dsp/tone_interference.h"
#include "dsp/tone_levels.h"

namespace brontel {
namespace {

using cplx = std::complex<double>;
constexpr double TwoPi = 2.0 * std::numbers::pi;

TEST(LogBesselI0, FollowsTheSeriesAndNeverOverflows)
{
  // Both sides of the switch from the fit to the expansion, and far beyond
  // where I0 itself overflows.
  for (const double x : {0.0, 0.3, 2.0, 3.74, 3.76, 8.0, 40.0, 300.0}) {
    EXPECT_NEAR(LogBesselI0(x), std::log(BesselI0(x)), 2e-3 * std::max(1.0, std::log(BesselI0(x)))) << x;
    EXPECT_NEAR(LogBesselI0Precise(x), std::log(BesselI0(x)), 1e-6 * std::max(1.0, std::log(BesselI0(x)))) << x;
  }
  EXPECT_NEAR(LogBesselI0(5000.0), 5000.0 - 0.5 * std::log(2.0 * std::numbers::pi * 5000.0), 1e-3);
}

// The selection behind the blanker's medians gives what sorting gives, for
// every place, on orders and runs of equal values that trip up partitions.
TEST(ImpulseBlanker, KthSmallestIsWhatSortingGives)
{
  std::mt19937 rng(4);
  std::exponential_distribution<double> power(1.0);
  std::vector<std::vector<double>> cases = {{0.0}, {2.0, 1.0}, std::vector<double>(64, 0.0)};
  std::vector<double> rising(64), falling(64), steps(64), noise(64), spiky(63);
  for (std::size_t i = 0; i < 64; ++i) {
    rising[i] = static_cast<double>(i);
    falling[i] = 64.0 - static_cast<double>(i);
    steps[i] = static_cast<double>(i % 5);
    noise[i] = power(rng);
    if (i < 63) spiky[i] = i % 9 == 0 ? 1e6 : std::floor(power(rng) * 3.0);
  }
  cases.insert(cases.end(), {rising, falling, steps, noise, spiky});
  for (const auto& values : cases) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t k = 0; k < values.size(); ++k) {
      std::vector<double> work = values;
      ASSERT_EQ(TakeKthSmallest(work, k), sorted[k]) << values.size() << " values, place " << k;
      std::sort(work.begin(), work.end());
      ASSERT_EQ(work, sorted);  // reordered, nothing lost
    }
  }
}

TEST(ImpulseBlanker, BlanksBurstsAndLeavesNoiseAndNewLevels)
{
  std::mt19937 rng(3);
  std::normal_distribution<double> g(0.0, 1.0);
  TImpulseBlanker b;
  // Two seconds of unit noise with a 10 ms burst 30 dB up every 0.2 s.
  std::size_t burst = 0, burstBlanked = 0, quiet = 0, quietBlanked = 0;
  for (int n = 0; n < 4200; ++n) {
    const bool inBurst = n > 200 && n % 420 < 21;
    const double a = inBurst ? 31.6 : 1.0;
    (void)b.Step({a * g(rng), a * g(rng)});
    // The output is one sample late.
    const bool wasBurst = n - 1 > 200 && (n - 1) % 420 < 21;
    (wasBurst ? burst : quiet) += 1;
    (wasBurst ? burstBlanked : quietBlanked) += b.LastBlanked();
  }
  EXPECT_GT(burstBlanked, 0.95 * burst);
  EXPECT_LT(quietBlanked, 0.03 * quiet);

  // A lasting step up (a signal starts) is let through after a short run.
  b.Reset();
  int blankedAfterStep = 0;
  for (int n = 0; n < 2000; ++n) {
    const double a = n < 1000 ? 1.0 : 10.0;
    (void)b.Step({a * g(rng), a * g(rng)});
    if (n > 1000 + TImpulseBlanker::LongestRun + 1) blankedAfterStep += b.LastBlanked();
  }
  EXPECT_LT(blankedAfterStep, 30);

  // A tone cancelled for a few bits by a carrier (power near zero), then
  // back: not an impulse.
  b.Reset();
  int toneBlanked = 0;
  for (int n = 0; n < 3000; ++n) {
    const double a = (n / 100) % 2 ? 0.01 : 1.0;
    (void)b.Step(a * std::polar(1.0, 0.3 * n) + 0.01 * cplx{g(rng), g(rng)});
    toneBlanked += n > 300 && b.LastBlanked();
  }
  EXPECT_EQ(toneBlanked, 0);
}

// Tone powers of a keyed signal of power a2 in noise u per correlator, both
// scaled by `gain`.
struct TBits {
  std::mt19937 rng{7};
  std::exponential_distribution<double> noise{1.0};
  std::normal_distribution<double> g{0.0, 1.0};
  std::pair<double, double> Next(double a2, double u, double gain)
  {
    const bool high = rng() & 1;
    const double s = std::sqrt(a2), q = std::sqrt(u / 2.0);
    const double on = std::norm(cplx{s + q * g(rng), q * g(rng)}), off = u * noise(rng);
    return high ? std::pair{gain * on, gain * off} : std::pair{gain * off, gain * on};
  }
};

TEST(ToneLevels, SignalAndNoiseThroughGainChanges)
{
  struct TCase {
    const char* name;
    double a2, u;
  };
  for (const TCase c : {TCase{"weak", 5.0, 1.0}, TCase{"medium", 40.0, 1.0}, TCase{"strong", 400.0, 2.0}}) {
    SCOPED_TRACE(c.name);
    TToneLevels levels;
    TBits bits;
    for (int k = 0; k < 2000; ++k) {
      const auto [h, l] = bits.Next(c.a2, c.u, 1.0);
      levels.Step(h, l);
    }
    EXPECT_NEAR(levels.Noise() / c.u, 1.0, 0.2);
    EXPECT_NEAR(levels.Signal() / c.a2, 1.0, 0.2);

    // A receiver's AGC cuts the gain by 25 dB for a second: the local noise
    // follows within a factor of three, the long-term levels stay.
    for (int k = 0; k < 100; ++k) {
      const auto [h, l] = bits.Next(c.a2, c.u, 0.00316);
      levels.Step(h, l);
    }
    EXPECT_LT(levels.LocalNoise(), 3.0 * 0.00316 * c.u);
    EXPECT_GT(levels.LocalNoise(), 0.00316 * c.u / 3.0);
    EXPECT_NEAR(levels.Signal() / levels.Noise(), c.a2 / c.u, 0.3 * c.a2 / c.u);
  }

  // A lasting drop of 30 dB (the station went, the receiver was turned down):
  // the signal is seen again within a second, not after many.
  TToneLevels levels;
  TBits bits;
  for (int k = 0; k < 1000; ++k) {
    const auto [h, l] = bits.Next(40.0, 1.0, 1.0);
    levels.Step(h, l);
  }
  for (int k = 0; k < 100; ++k) {
    const auto [h, l] = bits.Next(40.0, 1.0, 0.001);
    levels.Step(h, l);
  }
  EXPECT_GT(levels.Signal() / levels.Noise(), 20.0);
}

// A keyed tone pair at ±85 Hz (2100 Hz complex), from two free-running
// oscillators, switched every bit at random; the tone heard `delay` samples back.
struct TKeyed {
  std::mt19937 rng{11};
  std::vector<int> tone;  // +1 high, -1 low, per sample
  double phaseH = 0.3, phaseL = 1.1;
  cplx Next(std::size_t n)
  {
    if (n % 21 == 0) current = (rng() & 1) ? 1 : -1;
    tone.push_back(current);
    phaseH += TwoPi * 85.0 / 2100.0;
    phaseL -= TwoPi * 85.0 / 2100.0;
    return std::polar(1.0, current > 0 ? phaseH : phaseL);
  }
  int current = 1;
};

TEST(LineCanceller, RemovesCarriersAndKeepsTheKeyedSignal)
{
  for (const double hz : {20.0, -40.0, 85.0, -85.0, 130.0, -200.0}) {
    SCOPED_TRACE(hz);
    std::mt19937 rng(5);
    std::normal_distribution<double> g(0.0, 0.1);
    TLineCanceller c;
    TKeyed keyed;
    cplx residual{}, kept{};
    double keptPower = 0.0;
    int counted = 0;
    const int total = 2100 * 8;
    for (int n = 0; n < total; ++n) {
      const cplx carrier = std::polar(1.0, TwoPi * hz * n / 2100.0 + 0.7);
      const cplx sig = keyed.Next(static_cast<std::size_t>(n));
      const int back = n >= TLineCanceller::Delay ? keyed.tone[static_cast<std::size_t>(n - TLineCanceller::Delay)] : 0;
      const cplx out = c.Step(sig + carrier + cplx{g(rng), g(rng)}, back > 0, back < 0);
      if (n > total / 2) {
        // What is left at the carrier's frequency, and the signal's share.
        residual += (out - sig) * std::polar(1.0, -TwoPi * hz * n / 2100.0);
        kept += out * std::conj(sig);
        keptPower += std::norm(sig);
        ++counted;
      }
    }
    EXPECT_LT(std::abs(residual) / counted, 0.1);  // the carrier down by at least 20 dB
    EXPECT_NEAR(std::abs(kept) / keptPower, 1.0, 0.1);
    EXPECT_GE(c.Lines(), 1);
  }

  // The keyed signal alone: its own lines on the tones are not removed.
  TLineCanceller c;
  TKeyed keyed;
  cplx kept{};
  double power = 0.0;
  for (int n = 0; n < 2100 * 6; ++n) {
    const cplx sig = keyed.Next(static_cast<std::size_t>(n));
    const int back = n >= TLineCanceller::Delay ? keyed.tone[static_cast<std::size_t>(n - TLineCanceller::Delay)] : 0;
    const cplx out = c.Step(sig, back > 0, back < 0);
    if (n > 2100 * 3) kept += out * std::conj(sig), power += 1.0;
  }
  EXPECT_NEAR(std::abs(kept) / power, 1.0, 0.05);
}

// A carrier switched on in the middle of a keyed signal (on a tone, where
// the signal's own line may already be tracked, beside it, between the
// tones) is held at half its power or more soon after: the canceller looks
// often, and a new or weak line takes up a carrier's full amplitude within a
// few bits rather than climbing to it over a quarter second.
TEST(LineCanceller, TakesUpACarrierSwitchedOnSoon)
{
  int total = 0, runs = 0;  // samples from the switch-on until it is held
  for (const double hz : {85.0, -85.0, 20.0, -130.0})
    for (const unsigned seed : {9u, 10u, 11u}) {
      SCOPED_TRACE(hz);
      std::mt19937 rng(seed);
      std::normal_distribution<double> g(0.0, 0.3);
      TLineCanceller c;
      TKeyed keyed;
      keyed.rng.seed(seed);
      constexpr int On = 2100 * 3;
      int held = -1;
      for (int n = 0; n < 2100 * 6 && held < 0; ++n) {
        const cplx carrier = n >= On ? std::polar(1.0, TwoPi * hz * n / 2100.0 + 2.0) : cplx{};
        const cplx sig = keyed.Next(static_cast<std::size_t>(n));
        const int back = n >= TLineCanceller::Delay ? keyed.tone[static_cast<std::size_t>(n - TLineCanceller::Delay)] : 0;
        c.Step(sig + carrier + cplx{g(rng), g(rng)}, back > 0, back < 0);
        for (int i = 0; i < c.Lines() && n >= On; ++i)
          if (std::abs(c.LineHz(i) - hz) < 2.0 && c.LinePower(i) > 0.5) held = n - On;
      }
      ASSERT_GE(held, 0);
      EXPECT_LT(held, 1800);  // 0.86 s: two looks after the one it came in
      total += held, ++runs;
    }
  EXPECT_LT(total / runs, 1400);  // 0.67 s (three quarters of a second before)
}

// Carriers alone, up to the edge of the band searched and several at once:
// each is found at its own frequency (placed between the bins it falls
// among) and taken out, and no line is made where there is none.
TEST(LineCanceller, FindsEachCarrierAtItsFrequency)
{
  const std::vector<std::vector<double>> cases = {
      {272.0}, {-271.3}, {-150.6, 240.2}, {34.9, -95.0, 181.7}, {-262.4, 3.1, 266.0}};
  for (const auto& carriers : cases) {
    SCOPED_TRACE(carriers.front());
    std::mt19937 rng(3);
    std::normal_distribution<double> g(0.0, 0.05);
    TLineCanceller c;
    double left = 0.0, in = 0.0;
    std::vector<double> found;  // the lines' frequencies as first found
    const int total = 2100 * 6;
    for (int n = 0; n < total; ++n) {
      cplx x{g(rng), g(rng)}, sum{};
      for (std::size_t i = 0; i < carriers.size(); ++i)
        sum += std::polar(1.0, TwoPi * carriers[i] * n / 2100.0 + 0.9 * static_cast<double>(i));
      const cplx out = c.Step(x + sum, true, true);
      if (found.empty() && c.Lines() == static_cast<int>(carriers.size()))
        for (int i = 0; i < c.Lines(); ++i) found.push_back(c.LineHz(i));
      if (n > total / 2) left += std::norm(out - x), in += std::norm(sum);
    }
    EXPECT_LT(left / in, 0.01);  // all of them down by 20 dB
    ASSERT_EQ(c.Lines(), static_cast<int>(carriers.size()));
    // Found within a tenth of a bin (2.7 Hz), then followed closer.
    const auto off = [&](double hz, const std::vector<double>& lines) {
      double nearest = 1e9;
      for (const double l : lines) nearest = std::min(nearest, std::abs(l - hz));
      return nearest;
    };
    std::vector<double> now;
    for (int i = 0; i < c.Lines(); ++i) now.push_back(c.LineHz(i));
    for (const double hz : carriers) {
      EXPECT_LT(off(hz, found), 0.27) << hz;
      EXPECT_LT(off(hz, now), 0.05) << hz;
    }
  }
}

TEST(FrequencyControl, FindsTheOffsetAndHoldsAgainstACarrier)
{
  constexpr int Lag = 10;
  constexpr double Rate = 2100.0;
  // Correlator outputs of a keyed pair 12 Hz off: each turns at 12 Hz.
  auto run = [&](TFrequencyControl& f, int bits, double offsetHz, double carrierHz, bool locked) {
    std::mt19937 rng(9);
    for (int k = 0; k < bits; ++k) {
      const bool high = rng() & 1;
      for (int n = 0; n < 21; ++n) {
        const double t = (k * 21 + n) / Rate, tl = t - Lag / Rate, tf = t - TFrequencyControl::LongLag / Rate;
        const double err = offsetHz - f.Offset();
        const cplx tone = std::polar(1.0, TwoPi * err * t), toneLag = std::polar(1.0, TwoPi * err * tl);
        const cplx toneFar = std::polar(1.0, TwoPi * err * tf);
        // A steady carrier leaks into the higher tone's correlator all the time.
        const cplx leak = std::polar(0.5, TwoPi * carrierHz * t), leakLag = std::polar(0.5, TwoPi * carrierHz * tl);
        const cplx leakFar = std::polar(0.5, TwoPi * carrierHz * tf);
        f.Add(high ? tone + leak : leak, high ? toneLag + leakLag : leakLag, high ? cplx{} : tone,
              high ? cplx{} : toneLag, high ? toneFar + leakFar : leakFar, high ? cplx{} : toneFar);
      }
      f.Bit(high ? 0.99 : 0.01, true, locked, locked, false, 0);
    }
  };
  TFrequencyControl f(Lag, Rate);
  run(f, 600, 12.0, 0.0, false);
  EXPECT_NEAR(f.Offset(), 12.0, 0.5);

  // Locked on: a carrier 40 Hz away appears; in a second the correction moves
  // by at most the locked loop's limit.
  const double before = f.Offset();
  run(f, 100, 12.0, -40.0, true);
  EXPECT_LE(std::abs(f.Offset() - before), 100 * TFrequencyControl::TrackStep + 1e-9);

  // Nothing heard for long: the correction fades back.
  for (int k = 0; k < 2000; ++k) f.Bit(0.5, false, false, false, false, 1000);
  EXPECT_LT(std::abs(f.Offset()), 0.1);
}

TEST(FrequencyControl, AWeakerStationBesideTheTonesDoesNotPullTheSettledLoop)
{
  // The wanted pair on frequency and another keyed pair 3 dB weaker, its
  // tones off by `otherHz`, each with its own bits; correlator outputs as a
  // one-bit window leaves them (the other station's tone falls off with its
  // distance). The short-lag loop alone is pulled by a few hertz; once
  // settled, the loop comes back to within 1 Hz. (Tones closer than about
  // 15 Hz still pull it, by about two thirds of what they pull the short lag.)
  constexpr int Lag = 10, Bits = 21;
  constexpr double Rate = 2100.0;
  for (const double otherHz : {25.0, -25.0, 40.0, -50.0}) {
    SCOPED_TRACE(otherHz);
    const double response = std::abs(std::sin(TwoPi * otherHz * Bits / Rate / 2.0) /
                                     (Bits * std::sin(TwoPi * otherHz / Rate / 2.0)));
    const double other = std::sqrt(0.5) * response;
    TFrequencyControl f(Lag, Rate);
    std::mt19937 rng(5);
    double shortPull = 0.0;
    for (int k = 0; k < 1500; ++k) {
      const bool high = rng() & 1, otherHigh = rng() & 1;
      const double phase = std::uniform_real_distribution<double>(0.0, TwoPi)(rng);
      for (int n = 0; n < Bits; ++n) {
        const double t = (k * Bits + n) / Rate;
        auto at = [&](double back) {
          const double s = t - back / Rate;
          return std::pair{std::polar(1.0, -TwoPi * f.Offset() * s),
                           std::polar(other, phase + TwoPi * (otherHz - f.Offset()) * s)};
        };
        const auto [w0, o0] = at(0);
        const auto [w1, o1] = at(Lag);
        const auto [w2, o2] = at(TFrequencyControl::LongLag);
        const cplx h0 = (high ? w0 : 0.0) + (otherHigh ? o0 : 0.0), l0 = (high ? 0.0 : w0) + (otherHigh ? 0.0 : o0);
        const cplx h1 = (high ? w1 : 0.0) + (otherHigh ? o1 : 0.0), l1 = (high ? 0.0 : w1) + (otherHigh ? 0.0 : o1);
        const cplx h2 = (high ? w2 : 0.0) + (otherHigh ? o2 : 0.0), l2 = (high ? 0.0 : w2) + (otherHigh ? 0.0 : o2);
        f.Add(h0, h1, l0, l1, h2, l2);
      }
      f.Bit(high ? 0.99 : 0.01, true, k >= 400, k >= 800, false, 0);
      if (k == 399) shortPull = f.Offset();
    }
    EXPECT_GT(std::abs(shortPull), 1.5);  // what the long lag is for
    EXPECT_NEAR(f.Offset(), 0.0, 1.0);
  }
}

TEST(ToneInterference, FindsWhatSitsOnEachToneWhileItIsOff)
{
  // Keyed bits, the sent tone 20 times the noise; on each tone, while it is
  // not sent, noise and whatever else sits there (as a multiple of the noise).
  struct TCase {
    const char* name;
    double onHigh, onLow;      // extra power on each tone
    double wantHigh, wantLow;  // each correlator's noise, as a multiple of the common one
  };
  const TCase cases[] = {
      {"noise alone", 0.0, 0.0, 1.0, 1.0},
      {"a carrier on the higher tone", 10.0, 0.0, 11.0, 1.0},
      {"a strong carrier on the lower tone", 0.0, 30.0, 1.0, 31.0},
      {"another station on both: the balance is kept", 4.0, 4.0, 1.0, 1.0},
      {"more on one tone than the other", 30.0, 4.0, 31.0 / 5.0, 1.0},
      {"too little to count", 2.0, 0.0, 1.0, 1.0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TToneInterference t;
    std::mt19937 rng(3);
    std::exponential_distribution<double> noise(1.0);
    auto run = [&](int bits, double onHigh, double onLow) {
      for (int k = 0; k < bits; ++k) {
        const bool high = rng() & 1;
        const double h = noise(rng) + (high ? 20.0 : onHigh), l = noise(rng) + (high ? onLow : 20.0);
        t.Step(high ? 0.999 : 0.001, h, l);
      }
    };
    run(400, c.onHigh, c.onLow);
    // (A few tens of bits' average over another: within a half.)
    EXPECT_NEAR(t.HighNoise(), c.wantHigh, 0.5 * c.wantHigh);
    EXPECT_NEAR(t.LowNoise(), c.wantLow, 0.5 * c.wantLow);
    // Gone a second later (the carrier canceller has it, or it stopped).
    run(100, 0.0, 0.0);
    EXPECT_EQ(t.HighNoise(), 1.0);
    EXPECT_EQ(t.LowNoise(), 1.0);
  }
}

}  // namespace
}  // namespace brontel
