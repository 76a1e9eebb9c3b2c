// The whole-character detector on generated continuous-phase characters:
// its fast correlations against a sample-by-sample reference, clean
// characters at any phase and timing, the cost of a frequency error.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/char_detector.h"

namespace brontel {
namespace {

using cplx = std::complex<double>;
constexpr double TwoPi = 2.0 * std::numbers::pi;

// The valid words of both services: 7-bit words with four high bits, and
// 7 data bits followed by 3 bits counting the data's low bits.
std::vector<uint16_t> Words(int bits)
{
  std::vector<uint16_t> w;
  if (bits == 7) {
    for (unsigned c = 0; c < 128; ++c)
      if (std::popcount(c) == 4) w.push_back(static_cast<uint16_t>(c));
  } else {
    for (unsigned d = 0; d < 128; ++d) {
      const unsigned zeros = 7 - std::popcount(d);
      w.push_back(static_cast<uint16_t>(d | ((zeros >> 2 & 1) << 7) | ((zeros >> 1 & 1) << 8) | ((zeros & 1) << 9)));
    }
  }
  return w;
}

// Phase of a continuous-phase waveform of `word` at time t (samples), its
// bits starting at t0 with `period` samples each, tones at high/low Hz.
double Phase(uint16_t word, int bits, double t0, double period, double highHz, double lowHz, double t)
{
  double phi = 0.0;
  for (int k = 0; k < bits; ++k) {
    const double a = t0 + k * period, f = (word >> k & 1) ? highHz : lowHz;
    if (t < a) break;
    phi += TwoPi * f / chardet::Rate * (std::min(t, a + period) - a);
  }
  return phi;
}

// The character alone, sampled: unit amplitude, start phase `theta`.
std::vector<cplx> Character(uint16_t word, int bits, double t0, double period, double theta, double offsetHz = 0.0)
{
  std::vector<cplx> x(static_cast<std::size_t>(std::ceil(t0 + bits * period)) + 2);
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double t = static_cast<double>(n);
    if (t < t0 - 0.5 || t > t0 + bits * period + 0.5) continue;
    x[n] = std::polar(1.0, theta + Phase(word, bits, t0, period, 85.0 + offsetHz, -85.0 + offsetHz, t));
  }
  return x;
}

// Correlation with word w, sample by sample: every sample against the
// waveform of every bit it overlaps, in proportion to the overlap.
cplx NaiveCorrelation(const std::vector<cplx>& x, uint16_t w, int bits, double t0, double period, double highHz,
                      double lowHz)
{
  cplx z{};
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double t = static_cast<double>(n);
    for (int k = 0; k < bits; ++k) {
      const double a = t0 + k * period, b = a + period;
      const double overlap = std::min(t + 0.5, b) - std::max(t - 0.5, a);
      if (overlap <= 0.0) continue;
      const double f = (w >> k & 1) ? highHz : lowHz;
      const double phi = Phase(w, bits, t0, period, highHz, lowHz, a) + TwoPi * f / chardet::Rate * (t - a);
      z += overlap * x[n] * std::polar(1.0, -phi);
    }
  }
  return z;
}

TEST(CharDetector, FastCorrelationsEqualTheSampleBySampleOnes)
{
  struct TCase {
    int bits;
    double start, period;
  };
  std::mt19937 rng(5);
  std::normal_distribution<double> g;
  for (const TCase c : {TCase{7, 0.0, 21.0}, TCase{7, 3.3, 20.9}, TCase{10, 1.75, 21.1}, TCase{10, 0.5, 20.2}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits from " << c.start << ", period " << c.period);
    std::vector<cplx> x(static_cast<std::size_t>(c.start + c.bits * c.period) + 3);
    for (cplx& v : x) v = {g(rng), g(rng)};
    const auto words = Words(c.bits);
    TCharDetector det(c.bits, words);
    std::vector<TToneCorr> tones(static_cast<std::size_t>(c.bits));
    ToneCorrelations(x, c.start, c.period, tones);
    TCharChannel ch;
    ch.Period = c.period;
    det.Score(tones, ch, {}, {});
    for (int i = 0; i < det.WordCount(); i += 3) {
      const cplx ref = NaiveCorrelation(x, det.Word(i), c.bits, c.start, c.period, 85.0, -85.0);
      EXPECT_NEAR(std::abs(det.Correlation(i) - ref), 0.0, 1e-9 * std::abs(ref) + 1e-9) << "word " << i;
    }
  }
}

TEST(CharDetector, CleanCharacterIsFoundAtAnyPhaseAndTiming)
{
  // Every word of both services, at start phases round the circle and
  // fractional timings: the sent word is the most likely under the
  // continuous-phase model with the likelihood of the full correlation,
  // and also under the per-bit model.
  for (int bits : {7, 10}) {
    const auto words = Words(bits);
    TCharDetector det(bits, words);
    ASSERT_EQ(det.WordCount(), static_cast<int>(words.size()));
    std::vector<double> cont(words.size()), perBit(words.size());
    std::vector<TToneCorr> tones(static_cast<std::size_t>(bits));
    for (std::size_t i = 0; i < words.size(); ++i) {
      const double theta = TwoPi * static_cast<double>(i) / 7.3, start = 0.37 * static_cast<double>(i % 5);
      const double period = 20.8 + 0.1 * static_cast<double>(i % 5);
      const auto x = Character(words[i], bits, start, period, theta);
      ToneCorrelations(x, start, period, tones);
      TCharChannel ch;
      ch.Amplitude = period;  // a unit tone over one bit
      ch.Noise = period;
      ch.Period = period;
      det.Score(tones, ch, cont, perBit);
      const auto best = std::max_element(cont.begin(), cont.end()) - cont.begin();
      const auto bestBit = std::max_element(perBit.begin(), perBit.end()) - perBit.begin();
      EXPECT_EQ(det.Word(static_cast<int>(best)), words[i]) << bits << " bits, word " << i;
      EXPECT_EQ(det.Word(static_cast<int>(bestBit)), words[i]) << bits << " bits, word " << i;
      // (A sample cut by a bit edge carries the phase of one side only.)
      EXPECT_NEAR(std::abs(det.Correlation(static_cast<int>(best))), bits * period, 1e-4 * bits * period);
      EXPECT_NEAR(std::arg(det.Correlation(static_cast<int>(best)) * std::polar(1.0, -theta)), 0.0, 1e-3);
      EXPECT_NEAR(cont[static_cast<std::size_t>(best)], chardet::LogI0(2.0 * bits * period), 0.05);
    }
  }
}

TEST(CharDetector, FrequencyErrorCostsTheCorrelationLossOfTheCharacter)
{
  // A character received 5 Hz off keeps |sin(πfT)/(N·sin(πf/2100))| of its
  // correlation (T its length, N its samples) when the detector assumes the
  // nominal tones, and all of it but the loss within one bit once it is told.
  for (int bits : {7, 10})
    for (double offset : {2.0, -5.0}) {
      const auto words = Words(bits);
      TCharDetector det(bits, words);
      std::vector<TToneCorr> tones(static_cast<std::size_t>(bits));
      const uint16_t sent = words[words.size() / 3];
      const auto x = Character(sent, bits, -0.5, 21.0, 1.0, offset);
      ToneCorrelations(x, -0.5, 21.0, tones);
      const int index = static_cast<int>(std::find(words.begin(), words.end(), sent) - words.begin());
      auto loss = [](double hz, int samples) {
        return std::abs(std::sin(std::numbers::pi * hz * samples / chardet::Rate) /
                        (samples * std::sin(std::numbers::pi * hz / chardet::Rate)));
      };
      TCharChannel ch;
      det.Score(tones, ch, {}, {});
      const double full = 21.0 * bits;
      EXPECT_NEAR(std::abs(det.Correlation(index)) / full, loss(offset, 21 * bits), 0.01) << bits << ", " << offset;
      ch.HighHz += offset;
      ch.LowHz += offset;
      det.Score(tones, ch, {}, {});
      EXPECT_NEAR(std::abs(det.Correlation(index)) / full, loss(offset, 21), 1e-3) << bits << ", " << offset;
    }
}

}  // namespace
}  // namespace brontel
