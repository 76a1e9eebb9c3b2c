// Whole-character scores of a stream of generated characters: the sent word
// wins, the stored scores are the mixture the decisions use, the choice of
// phase model follows the transmitter, and bits whose tones are unknown
// leave their windows unscored; an older window keeps its tones when the
// frequency correction moves, and no model is ever ruled out entirely.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "decoder/char_scores.h"

namespace brontel {
namespace {

using cplx = std::complex<double>;
constexpr int Unit = 7;
constexpr double Period = 21.0;  // samples per bit

std::vector<uint16_t> EnglishWords()
{
  std::vector<uint16_t> w;
  for (unsigned c = 0; c < 128; ++c)
    if (std::popcount(c) == 4) w.push_back(static_cast<uint16_t>(c));
  return w;
}

struct TStream {
  std::vector<uint16_t> Sent;           // one word per character, bit j sent j-th
  std::vector<TBitObservation> Bits;    // what a demodulator would report
};

// `chars` random words keyed at ±85 Hz: the phase running on from bit to
// bit, or (switched oscillators) taken afresh on every bit; complex noise of
// power `noise` per sample.
TStream Generate(int chars, bool continuous, double noise, uint32_t seed)
{
  const std::vector<uint16_t> words = EnglishWords();
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, std::sqrt(noise / 2.0));
  std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi);
  TStream s;
  std::vector<cplx> x;
  double phase = angle(rng);
  for (int c = 0; c < chars; ++c) {
    const uint16_t w = words[rng() % words.size()];
    s.Sent.push_back(w);
    for (int j = 0; j < Unit; ++j) {
      if (!continuous) phase = angle(rng);
      const double step = 2.0 * std::numbers::pi * ((w >> j & 1) ? 85.0 : -85.0) / chardet::Rate;
      for (int n = 0; n < 21; ++n, phase += step) x.push_back(std::polar(1.0, phase) + cplx(gauss(rng), gauss(rng)));
    }
  }
  const auto bits = x.size() / 21;
  std::vector<TToneCorr> tones(bits);
  ToneCorrelations(x, 0.0, Period, tones);
  for (const TToneCorr& t : tones) {
    TBitObservation o;
    o.Tones = t;
    o.Amplitude = Period;
    o.Noise = Period * noise;
    const double scale = 2.0 * o.Amplitude / o.Noise;
    o.Soft = std::clamp(chardet::LogI0(scale * std::abs(t.High)) - chardet::LogI0(scale * std::abs(t.Low)), -10.0, 10.0);
    s.Bits.push_back(o);
  }
  return s;
}

int Best(const std::array<double, TCharScores::MaxPatterns>& v, int n)
{
  return static_cast<int>(std::max_element(v.begin(), v.begin() + n) - v.begin());
}

double LogSum(const std::array<double, TCharScores::MaxPatterns>& v, int n)
{
  const double top = *std::max_element(v.begin(), v.begin() + n);
  double sum = 0.0;
  for (int p = 0; p < n; ++p) sum += std::exp(v[static_cast<std::size_t>(p)] - top);
  return top + std::log(sum);
}

TEST(CharScores, SentWordWinsAndTheChoiceFollowsThePhaseOfTheTransmitter)
{
  struct TCase {
    const char* Name;
    bool Continuous;
    double Noise;          // per sample, signal 1 (Eb/N0 = 21 / Noise)
    int MinCharRight;      // of 80 characters, decided by the whole-character model
    int MinBitRight;       // … by the per-bit model
    int Model;             // the model that must end up chosen
  };
  const TCase cases[] = {
      {"continuous, clean", true, 0.02, 80, 80, 0},
      {"continuous, Eb/N0 6 dB", true, 5.25, 78, 66, 0},
      {"continuous, Eb/N0 3 dB", true, 10.5, 70, 35, 0},
      {"switched, clean", false, 0.02, 0, 80, 1},
      {"switched, Eb/N0 9 dB", false, 2.6, 0, 76, 1},
      {"switched, Eb/N0 6 dB", false, 5.25, 0, 68, 1},
  };
  const std::vector<uint16_t> words = EnglishWords();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TCharScores scores({Unit, 10}, {words, {}});
    const int n = scores.PatternCount(0);
    ASSERT_EQ(n, static_cast<int>(words.size()));
    const TStream s = Generate(80, c.Continuous, c.Noise, 7);
    int charRight = 0, bitRight = 0, mixRight = 0;
    for (std::size_t k = 0; k < s.Bits.size(); ++k) {
      scores.Push(s.Bits[k], s.Bits[k].Soft, 1u);
      if ((k + 1) % Unit != 0) continue;
      const auto end = static_cast<int64_t>(k);
      const int sent = scores.PatternIndex(0, s.Sent[k / Unit]);
      ASSERT_GE(sent, 0);
      TCharScores::TCopy copy;
      ASSERT_TRUE(scores.Rescore(0, end, copy));
      ASSERT_TRUE(scores.Scored(0, end));
      // The stored scores are the mixture, relative to their offset.
      std::array<double, TCharScores::MaxPatterns> mixed{};
      for (int p = 0; p < n; ++p) {
        const auto i = static_cast<std::size_t>(p);
        mixed[i] = scores.Mix(copy.Char[i], copy.Bit[i]);
        EXPECT_NEAR(std::log(std::max(1e-30, static_cast<double>(scores.Values(0, end)[p]))) + scores.Offset(0, end),
                    mixed[i], mixed[i] - LogSum(mixed, n) < -30.0 ? 1e3 : 1e-3);
      }
      charRight += Best(copy.Char, n) == sent;
      bitRight += Best(copy.Bit, n) == sent;
      mixRight += Best(mixed, n) == sent;
      scores.Learn(0, end, s.Sent[k / Unit], end, s.Sent[k / Unit], 1.0, 2.0 * (LogSum(copy.Char, n) + copy.Ref),
                   2.0 * (LogSum(copy.Bit, n) + copy.Ref));
    }
    EXPECT_GE(charRight, c.MinCharRight);
    EXPECT_GE(bitRight, c.MinBitRight);
    // The mixture decides at least as well as the model it ends up trusting
    // (a few characters while it learns aside).
    EXPECT_GE(mixRight, std::max(charRight, bitRight) - 3);
    EXPECT_GT(scores.Choice().Weight(c.Model), 0.9);
  }
}

// A window scored again after the demodulator's frequency correction moved
// is scored with the tones as they lay when its bits came in; a model the
// choice has ruled out still carries a character it explains far better.
TEST(CharScores, AnOlderWindowKeepsItsTonesAndARuledOutModelStillCounts)
{
  const std::vector<uint16_t> words = EnglishWords();
  const TStream s = Generate(10, true, 0.5, 5);
  TCharScores scores({Unit, 10}, {words, {}});
  const int64_t old = 4 * Unit - 1;
  TCharScores::TCopy before, after;
  for (std::size_t k = 0; k < s.Bits.size(); ++k) {
    TBitObservation o = s.Bits[k];
    o.OffsetHz = k < 6 * Unit ? 0.0 : 3.0;
    scores.Push(o, o.Soft, 1u);
    if (static_cast<int64_t>(k) == old) {
      ASSERT_TRUE(scores.Rescore(0, old, before));
    }
  }
  ASSERT_TRUE(scores.Rescore(0, old, after));
  const int n = scores.PatternCount(0);
  for (int p = 0; p < n; ++p)
    EXPECT_NEAR(after.Char[static_cast<std::size_t>(p)], before.Char[static_cast<std::size_t>(p)], 1e-6) << p;
  EXPECT_EQ(Best(after.Char, n), scores.PatternIndex(0, s.Sent[3]));
  for (int model : {0, 1}) {
    for (int i = 0; i < 20; ++i) scores.Learn(0, old, s.Sent[3], old, s.Sent[3], 1.0, model ? -500.0 : 0.0, model ? 0.0 : -500.0);
    ASSERT_LT(scores.Choice().Weight(1 - model), 1e-3);
    // … as if it held at least a few per cent of the time.
    const double far = 60.0;
    EXPECT_GE(model ? scores.Mix(far, 0.0) : scores.Mix(0.0, far), far + std::log(0.02)) << model;
  }
}

TEST(CharScores, NoiseAfterTheSignalLosesAgainstTheStationsLevel)
{
  // A station's characters, then noise whose own level estimate is small
  // (as a demodulator reports once the signal has gone): against noise
  // alone, the sent word of a signal window wins, and no word of a noise
  // window does when weighed at the station's level, though some word may
  // at the window's own level.
  const std::vector<uint16_t> words = EnglishWords();
  const TStream signal = Generate(12, true, 0.3, 7);
  TCharScores scores({Unit, 10}, {words, {}});
  auto best = [&](const TCharScores::TCopy& c, double energy) {
    const int n = scores.PatternCount(0);
    return c.Char[static_cast<std::size_t>(Best(c.Char, n))] + c.Ref - energy;
  };
  for (std::size_t k = 0; k < signal.Bits.size(); ++k) {
    scores.Push(signal.Bits[k], signal.Bits[k].Soft, 1u);
    const auto end = static_cast<int64_t>(k);
    if ((end + 1) % Unit == 0) {
      const uint16_t w = signal.Sent[k / Unit];
      scores.Learn(0, end, w, end, w, 1.0, 0.0, 0.0);
      TCharScores::TCopy c;
      ASSERT_TRUE(scores.Rescore(0, end, c));
      EXPECT_GT(best(c, c.StationEnergy), 0.0) << "character " << k / Unit;
    }
  }
  std::mt19937 rng(9);
  std::normal_distribution<double> g;
  for (int k = 0; k < 6 * Unit; ++k) {
    TBitObservation o;
    o.Tones = {Period * cplx(g(rng), g(rng)), Period * cplx(g(rng), g(rng))};
    o.Amplitude = 0.5 * Period, o.Noise = 2.0 * Period * Period;
    scores.Push(o, 0.0, 1u);
    const int64_t end = scores.Bits() - 1;
    if (k >= Unit - 1) {
      TCharScores::TCopy c;
      ASSERT_TRUE(scores.Rescore(0, end, c));
      EXPECT_LT(best(c, c.StationEnergy), 0.0) << "noise window ending at " << end;
      EXPECT_GT(c.StationEnergy, 10.0 * c.Energy);
    }
  }
}

TEST(CharScores, WindowsWithUnknownTonesAreNotScored)
{
  const std::vector<uint16_t> words = EnglishWords();
  const TStream s = Generate(4, true, 0.1, 3);
  struct TCase {
    const char* Name;
    void (*Spoil)(TBitObservation&);
  };
  const TCase cases[] = {
      {"no noise power", [](TBitObservation& o) { o.Noise = 0.0; }},
      {"noise not a number", [](TBitObservation& o) { o.Noise = NAN; }},
      {"tone not a number", [](TBitObservation& o) { o.Tones.High = {NAN, 0.0}; }},
      {"amplitude infinite", [](TBitObservation& o) { o.Amplitude = INFINITY; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TCharScores scores({Unit, 10}, {words, {}});
    for (std::size_t k = 0; k < s.Bits.size(); ++k) {
      TBitObservation o = s.Bits[k];
      if (k == 10) c.Spoil(o);  // in the second character
      scores.Push(o, o.Soft, 1u);
    }
    TCharScores::TCopy copy;
    for (int64_t end : {6, 13, 20, 27}) {
      const bool spoilt = end - Unit < 10 && 10 <= end;
      EXPECT_EQ(scores.Scored(0, end), !spoilt) << end;
      EXPECT_EQ(scores.Rescore(0, end, copy), !spoilt) << end;
      // Nothing was asked of the second service.
      EXPECT_FALSE(scores.Scored(1, end));
    }
    // Windows not yet received or long gone.
    EXPECT_FALSE(scores.Scored(0, 28));
    EXPECT_FALSE(scores.Scored(0, -1));
    EXPECT_FALSE(scores.Rescore(0, 2, copy));
  }
}

}  // namespace
}  // namespace brontel
