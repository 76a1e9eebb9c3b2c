#include "signal/switched_signal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brontel::gen2 {

namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;

// xoshiro256** seeded through splitmix64, and Gaussian values by the polar
// method.
class TRandom {
public:
  explicit TRandom(uint64_t seed)
  {
    for (uint64_t& s : s_) {
      seed += 0x9E3779B97F4A7C15ull;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      s = z ^ (z >> 31);
    }
  }
  double Uniform()  // [0, 1)
  {
    const uint64_t r = Rotl(s_[1] * 5, 7) * 9, t = s_[1] << 17;
    s_[2] ^= s_[0], s_[3] ^= s_[1], s_[1] ^= s_[2], s_[0] ^= s_[3], s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return static_cast<double>(r >> 11) * 0x1.0p-53;
  }
  double Gauss()
  {
    if (spare_) {
      spare_ = false;
      return keep_;
    }
    double u, v, q;
    do {
      u = 2.0 * Uniform() - 1.0, v = 2.0 * Uniform() - 1.0, q = u * u + v * v;
    } while (q >= 1.0 || q == 0.0);
    const double f = std::sqrt(-2.0 * std::log(q) / q);
    keep_ = v * f, spare_ = true;
    return u * f;
  }

private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
  double keep_ = 0.0;
  bool spare_ = false;
};

// Switched oscillators: the tone of the bit under way at time t (seconds
// from the emission's start), each tone's oscillator running freely.
void AddKeyed(std::vector<double>& x, const std::vector<uint8_t>& bits, double start, double baud, double high,
              double low, double amplitude, double phaseHigh, double phaseLow, int rate, double beatHz = 0.0)
{
  if (bits.empty()) return;
  const long first = std::max(0L, std::lround(start * rate));
  const double length = bits.size() / baud;
  for (long n = first; n < static_cast<long>(x.size()); ++n) {
    const double t = static_cast<double>(n) / rate, tb = t - start;
    if (tb >= length) break;
    const auto k = std::min(bits.size() - 1, static_cast<std::size_t>(std::max(0.0, tb * baud)));
    const double phase = bits[k] ? TwoPi * high * t + phaseHigh : TwoPi * low * t + phaseLow;
    x[static_cast<std::size_t>(n)] += amplitude * std::cos(phase + TwoPi * beatHz * t);
  }
}

}  // namespace

std::vector<float> SwitchedRecording(const std::vector<uint8_t>& bits, const TSwitchedParams& p, double lead,
                                     double tail)
{
  const int fs = p.Rate;
  TRandom rng(p.Seed * 0x2545F4914F6CDD1Dull + 77);
  const double emission = bits.size() / p.Baud;
  std::vector<double> x(static_cast<std::size_t>((std::max(0.0, lead) + emission + std::max(0.0, tail)) * fs));
  const double high = p.Centre + p.Offset + p.Shift / 2.0, low = p.Centre + p.Offset - p.Shift / 2.0;
  AddKeyed(x, bits, lead, p.Baud, high, low, p.Level, TwoPi * rng.Uniform(), TwoPi * rng.Uniform(), fs);
  if (p.EchoMs > 0.0)
    AddKeyed(x, bits, lead + p.EchoMs / 1000.0, p.Baud, high, low, p.Level * std::pow(10.0, p.EchoRatioDb / 20.0),
             TwoPi * rng.Uniform(), TwoPi * rng.Uniform(), fs, p.EchoBeatHz);
  if (!p.SecondBits.empty()) {
    const double h2 = p.Centre + p.SecondOffset + p.Shift / 2.0, l2 = h2 - p.Shift;
    AddKeyed(x, p.SecondBits, p.SecondStart, p.SecondBaud, h2, l2, p.Level * std::pow(10.0, p.SecondLevelDb / 20.0),
             TwoPi * rng.Uniform(), TwoPi * rng.Uniform(), fs);
  }
  for (const TDriftingCarrier& c : p.Carriers) {
    const double a = p.Level * std::pow(10.0, c.LevelDb / 20.0), phase0 = TwoPi * rng.Uniform();
    for (auto n = static_cast<std::size_t>(std::max(0.0, c.Start) * fs); n < x.size(); ++n) {
      const double t = static_cast<double>(n) / fs - c.Start;
      x[n] += a * std::cos(TwoPi * ((p.Centre + c.Offset) * t + 0.5 * c.Drift * t * t) + phase0);
    }
  }

  // Noise: tone power a²/2 over the noise power in 500 Hz of a white noise
  // spread over fs/2.
  double sigma = 0.0;
  if (p.SnrDb) sigma = std::sqrt(p.Level * p.Level / 2.0 / std::pow(10.0, *p.SnrDb / 10.0) * (fs / 2.0) / 500.0);
  for (double& v : x) v += sigma * rng.Gauss();

  // Crashes: two or three damped resonances each, started together.
  if (p.CrashRate > 0.0) {
    const double reference = sigma > 0.0 ? sigma : p.Level / std::sqrt(2.0);
    for (double t = -std::log(1.0 - rng.Uniform()) / p.CrashRate; t * fs < static_cast<double>(x.size());
         t += -std::log(1.0 - rng.Uniform()) / p.CrashRate) {
      const double len = (p.CrashMinMs + (p.CrashMaxMs - p.CrashMinMs) * rng.Uniform()) / 1000.0 * fs;
      const double level = p.CrashLevelDb + 6.0 * (rng.Uniform() - 0.5);  // ±3 dB from crash to crash
      const int modes = 2 + static_cast<int>(2.0 * rng.Uniform());
      const double amp = reference * std::pow(10.0, level / 20.0) * std::sqrt(2.0 / modes);
      const auto start = static_cast<std::size_t>(t * fs);
      for (int m = 0; m < modes; ++m) {
        const double f = 150.0 + 3000.0 * rng.Uniform(), ph = TwoPi * rng.Uniform();
        const double decay = std::exp(-std::log(100.0) / len);  // 40 dB over the length
        double env = 1.0;
        for (std::size_t k = 0; k < static_cast<std::size_t>(len) && start + k < x.size(); ++k, env *= decay)
          x[start + k] += amp * env * std::cos(TwoPi * f * k / fs + ph);
      }
    }
  }

  // AGC: power over 1 ms, fast attack to the peak, held, then released at a
  // fixed rate in dB; the gain keeps that power at the tone's.
  std::vector<float> out(x.size());
  double gainDb = 0.0, power = p.Level * p.Level / 2.0, hang = 0.0;
  const double alpha = 1.0 - std::exp(-1.0 / (0.001 * fs)), attack = 1.0 - std::exp(-1000.0 / (p.AgcAttackMs * fs));
  const double reference = 10.0 * std::log10(p.Level * p.Level / 2.0 + sigma * sigma);
  for (std::size_t n = 0; n < x.size(); ++n) {
    double v = x[n];
    if (p.AgcReleaseDbPerSecond > 0.0) {
      power += alpha * (v * v - power);
      const double wanted = reference - 10.0 * std::log10(power + 1e-20);  // gain that brings it to the reference
      if (wanted < gainDb) {
        gainDb += attack * (wanted - gainDb);
        hang = p.AgcHangMs / 1000.0 * fs;
      } else if (hang > 0.0) {
        hang -= 1.0;
      } else {
        gainDb = std::min(wanted, gainDb + p.AgcReleaseDbPerSecond / fs);
      }
      gainDb = std::min(gainDb, 0.0);
      v *= std::pow(10.0, gainDb / 20.0);
    }
    out[n] = static_cast<float>(std::clamp(v, -1.0, 1.0));
  }
  return out;
}

}  // namespace brontel::gen2
