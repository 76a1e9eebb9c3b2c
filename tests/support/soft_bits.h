// Soft bits as a demodulator would give them, straight from a bit stream:
// antipodal values with Gaussian noise at a chosen Eb/N0, optionally faded,
// scaled as log-likelihood ratios (> 0: the higher tone).
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace brontel::test {

struct TSoftChannel {
  double EbN0Db = 20.0;      // per-bit energy over noise density of the antipodal channel
  double FadingBits = 0.0;   // > 0: Rayleigh fading, correlation time in bits
  uint32_t Seed = 1;
};

inline std::vector<double> SoftBits(const std::vector<uint8_t>& bits, const TSoftChannel& c)
{
  std::mt19937 rng(c.Seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double ebn0 = std::pow(10.0, c.EbN0Db / 10.0);
  const double sigma = std::sqrt(1.0 / (2.0 * ebn0));
  // Rayleigh amplitude: a complex Gaussian low-passed by a one-pole filter, unit mean power.
  const double pole = c.FadingBits > 0.0 ? std::exp(-1.0 / c.FadingBits) : 0.0;
  const double drive = std::sqrt((1.0 - pole * pole) / 2.0);
  double fi = gauss(rng) / std::sqrt(2.0), fq = gauss(rng) / std::sqrt(2.0);
  std::vector<double> out(bits.size());
  for (std::size_t i = 0; i < bits.size(); ++i) {
    double a = 1.0;
    if (c.FadingBits > 0.0) {
      fi = pole * fi + drive * gauss(rng);
      fq = pole * fq + drive * gauss(rng);
      a = std::sqrt(fi * fi + fq * fq);
    }
    const double y = a * (bits[i] ? 1.0 : -1.0) + sigma * gauss(rng);
    out[i] = 2.0 * a * y / (sigma * sigma);
  }
  return out;
}

// Noise alone with the same scaling (no signal at all).
inline std::vector<double> SoftNoise(std::size_t count, double ebN0Db, uint32_t seed)
{
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double sigma = std::sqrt(1.0 / (2.0 * std::pow(10.0, ebN0Db / 10.0)));
  std::vector<double> out(count);
  for (double& v : out) v = 2.0 * sigma * gauss(rng) / (sigma * sigma);
  return out;
}

}  // namespace brontel::test
