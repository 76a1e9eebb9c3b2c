// The robust demodulator's bit clock: the timing loop and the bit-rate line,
// each fed a keyed signal whose bit period and bit phase are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/rate_line.h"
#include "dsp/timing_loop.h"

namespace brontel {
namespace {

// Random bits of `period` samples, the first starting at `phase`; the powers
// of two one-bit (21-sample) tone correlators ending at any time, on the unit
// scale (a whole bit of one tone gives 1).
struct TKeyedBits {
  double period, phase;
  std::vector<int> bits;
  TKeyedBits(double p, double ph, std::size_t count) : period(p), phase(ph)
  {
    std::mt19937 rng(17);
    for (std::size_t k = 0; k < count; ++k) bits.push_back(rng() & 1);
  }
  // Share of [t − 21, t] in bits of the higher tone and in bits of the lower.
  std::pair<double, double> Powers(double t) const
  {
    double high = 0.0, low = 0.0;
    for (double a = t - 21.0; a < t;) {
      const double k = std::floor((a - phase) / period);
      // The end of the bit holding a (never a itself, whatever the rounding).
      const double end = std::min(t, std::max(a + 1e-9, phase + (k + 1.0) * period));
      const auto i = static_cast<std::size_t>(std::clamp(k, 0.0, bits.size() - 1.0));
      (bits[i] ? high : low) += end - a;
      a = end;
    }
    return {high * high / 441.0, low * low / 441.0};
  }
  // Distance from t to the nearest bit end, samples.
  double Error(double t) const
  {
    const double x = (t - phase) / period;
    return (x - std::round(x)) * period;
  }
};

TEST(TimingLoop, FindsTheBitPhaseAndRate)
{
  struct TCase {
    double period, phase, ebn0Db;
  };
  // Rates 100.5 / 100 / 99.5 Bd, the first instant up to half a bit off,
  // strong and weak (narrow loop) signals, the decisions and mid-bit powers noisy.
  for (const TCase c : {TCase{20.9, 8.0, 20.0}, TCase{21.0, -9.0, 20.0}, TCase{21.1, 5.0, 20.0},
                        TCase{20.9, -6.0, 8.0}, TCase{21.1, 9.0, 8.0}}) {
    SCOPED_TRACE(testing::Message() << c.period << " samples, phase " << c.phase << ", " << c.ebn0Db << " dB");
    const TKeyedBits signal(c.period, c.phase, 3000);
    std::mt19937 rng(5);
    std::normal_distribution<double> g(0.0, 0.1);
    TTimingLoop loop;
    std::vector<double> errors;
    for (int n = 0; errors.size() < 2800; ++n) {
      if (!loop.Step()) continue;
      const double t = n - loop.Late();
      const auto [h, l] = signal.Powers(t);
      const auto [mh, ml] = signal.Powers(t - 0.5 * loop.Period());
      loop.Bit(mh + g(rng), ml + g(rng), 1.0, 8.0 * (h - l) + 2.0 * g(rng), false, std::pow(10.0, c.ebn0Db / 10.0),
               errors.size() < 400, true);
      errors.push_back(signal.Error(t));
    }
    double worst = 0.0;
    for (std::size_t k = 2000; k < errors.size(); ++k) worst = std::max(worst, std::abs(errors[k]));
    EXPECT_LT(worst, 1.5);
    EXPECT_NEAR(loop.Period(), c.period, 0.03);
  }

  // Without a signal for long the period goes home.
  TTimingLoop loop;
  loop.SetPeriod(TTimingLoop::MaxPeriod);
  for (int k = 0; k < 1000; ++k) loop.Bit(0.0, 0.0, 1.0, 0.0, false, 1.0, false, false);
  EXPECT_NEAR(loop.Period(), TTimingLoop::NominalPeriod, 1e-3);
}

TEST(BitRateLine, MeasuresTheRateOfAKeyedSignalOnly)
{
  struct TCase {
    const char* name;
    double period;   // samples per bit sent (0: noise only)
    bool present;    // the caller hears a signal
    double expected; // the period it should be told (the loop's own: no correction)
  };
  const double loopPeriod = 21.0;
  const TCase cases[] = {
      {"100.5 Bd", 20.9, true, 20.9},
      {"99.6 Bd", 21.0843, true, 21.0843},
      {"100 Bd, the loop right", 21.0, true, loopPeriod},
      {"100.5 Bd, nothing heard", 20.9, false, loopPeriod},
      {"noise", 0.0, true, loopPeriod},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TKeyedBits signal(c.period > 0.0 ? c.period : 21.0, 3.0, 4000);
    std::mt19937 rng(9);
    std::exponential_distribution<double> noise(1.0);
    TBitRateLine line;
    double told = loopPeriod;
    int corrections = 0;
    for (int n = 0; n < 30 * TBitRateLine::Window; ++n) {
      double v = 0.3 * noise(rng);
      if (c.period > 0.0) {
        const auto [h, l] = signal.Powers(n);
        v += (h - l) * (h - l) / (h + l + 0.1);
      }
      if (line.Step(v)) {
        const double p = line.EndWindow(loopPeriod, c.present);
        if (p != loopPeriod) told = p, ++corrections;
      }
    }
    EXPECT_NEAR(told, c.expected, 0.02);
    if (c.expected == loopPeriod) {
      EXPECT_EQ(corrections, 0);
    }
  }
}

}  // namespace
}  // namespace brontel
