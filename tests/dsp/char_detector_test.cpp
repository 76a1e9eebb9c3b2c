// The whole-character detector on generated characters: its fast
// correlations against a sample-by-sample reference, clean characters at
// any phase and timing, the cost of a frequency error; the fine frequency
// estimate it needs and the choice between phase models on continuous and
// discontinuous signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/char_detector.h"
#include "dsp/fine_frequency.h"
#include "dsp/model_choice.h"

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
double Phase(uint32_t word, int bits, double t0, double period, double highHz, double lowHz, double t)
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
std::vector<cplx> Character(uint32_t word, int bits, double t0, double period, double theta, double offsetHz = 0.0)
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

TEST(CharDetector, LogI0FollowsTheBesselFunction)
{
  for (double x = 0.0; x < 700.0; x += x < 10.0 ? 0.01 : 0.7)
    EXPECT_NEAR(chardet::LogI0(x), std::log(std::cyl_bessel_i(0.0, x)), 1e-4) << x;
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
    det.Score(tones, ch, {});
    for (int i = 0; i < det.WordCount(); i += 3) {
      const cplx ref = NaiveCorrelation(x, det.Word(i), c.bits, c.start, c.period, 85.0, -85.0);
      EXPECT_NEAR(std::abs(det.Correlation(i) - ref), 0.0, 1e-9 * std::abs(ref) + 1e-9) << "word " << i;
    }
    // One word at a time, with the tones off their places, as the trees give it.
    ch.HighHz = 86.3, ch.LowHz = -84.1;
    det.Score(tones, ch, {});
    for (int i = 0; i < det.WordCount(); i += 3) {
      const cplx one = TCharDetector::WordCorrelation(tones, det.Word(i), c.bits, ch);
      EXPECT_NEAR(std::abs(det.Correlation(i) - one), 0.0, 1e-9 * std::abs(one) + 1e-9) << "word " << i;
    }
  }
}

TEST(CharDetector, FineTimingFindsAndUndoesAWindowOffset)
{
  // Characters whose bits start `offset` samples after where the windows
  // were placed, in light noise: the estimate finds the offset from its own
  // characters, and the windows moved by it gather the whole character
  // again (a wrong turn between the tones' references would lose it).
  std::mt19937 rng(11);
  std::normal_distribution<double> g;
  const auto words = Words(7);
  constexpr double Placed = 12.0, Period = 21.0;
  for (const double offset : {-3.5, -1.0, 0.0, 2.0, 4.0}) {
    SCOPED_TRACE(testing::Message() << "offset " << offset);
    TCharTiming timing;
    TCharChannel ch;
    ch.Amplitude = Period, ch.Noise = Period * 0.5;
    double kept = 0.0, unmoved = 0.0;
    for (int n = 0; n < 20; ++n) {
      const uint16_t w = words[rng() % words.size()];
      std::vector<cplx> x = Character(w, 7, Placed + offset, Period, TwoPi * (n % 7) / 7.0);
      x.resize(200);
      for (cplx& v : x) v += 0.5 * cplx{g(rng), g(rng)};
      std::array<TToneCorr, 7> early, centre, late, moved;
      for (int k = 0; k < 7; ++k) {
        const double start = Placed + k * Period;
        const auto i = static_cast<std::size_t>(k);
        early[i] = ShiftedToneCorrelation(x, start, Period, -TCharTiming::Step);
        ToneCorrelations(x, start, Period, std::span(centre).subspan(i, 1));
        late[i] = ShiftedToneCorrelation(x, start, Period, TCharTiming::Step);
        moved[i] = ToneCorrelationAt(early[i], centre[i], late[i], TCharTiming::Step, offset);
      }
      timing.Add(early, centre, late, w, ch, 1.0);
      kept = std::abs(TCharDetector::WordCorrelation(moved, w, 7, ch)) / (7 * Period);
      unmoved = std::abs(TCharDetector::WordCorrelation(centre, w, 7, ch)) / (7 * Period);
    }
    EXPECT_NEAR(timing.Offset(), offset, 0.5);
    EXPECT_GT(kept, 0.93);
    if (std::abs(offset) >= 2.0) {
      EXPECT_LT(unmoved, kept - 0.05);
    }
  }
}

TEST(CharDetector, CleanCharacterIsFoundAtAnyPhaseAndTiming)
{
  // Every word of both services, at start phases round the circle and
  // fractional timings: the sent word is the most likely under the
  // continuous-phase model with the likelihood of the full correlation,
  // and also under the models of two halves and of single bits.
  for (int bits : {7, 10}) {
    const auto words = Words(bits);
    TCharDetector det(bits, words);
    ASSERT_EQ(det.WordCount(), static_cast<int>(words.size()));
    std::vector<double> cont(words.size()), halves(words.size()), perBit(words.size());
    std::vector<TToneCorr> tones(static_cast<std::size_t>(bits));
    for (std::size_t i = 0; i < words.size(); ++i) {
      const double theta = TwoPi * static_cast<double>(i) / 7.3, start = 0.37 * static_cast<double>(i % 5);
      const double period = 20.8 + 0.1 * static_cast<double>(i % 5);
      const auto x = Character(words[i], bits, start, period, theta);
      ToneCorrelations(x, start, period, tones);
      TCharChannel ch;
      ch.Amplitude = period;  // a unit tone over one bit, Eb/N0 7
      ch.Noise = 3.0 * period;
      ch.Period = period;
      det.Score(tones, ch, {cont, halves, perBit});
      const auto best = std::max_element(cont.begin(), cont.end()) - cont.begin();
      for (const auto* model : {&cont, &halves, &perBit})
        EXPECT_EQ(det.Word(static_cast<int>(std::max_element(model->begin(), model->end()) - model->begin())), words[i])
            << bits << " bits, word " << i;
      // (A sample cut by a bit edge carries the phase of one side only.)
      EXPECT_NEAR(std::abs(det.Correlation(static_cast<int>(best))), bits * period, 1e-4 * bits * period);
      EXPECT_NEAR(std::arg(det.Correlation(static_cast<int>(best)) * std::polar(1.0, -theta)), 0.0, 1e-3);
      EXPECT_NEAR(cont[static_cast<std::size_t>(best)], chardet::LogI0(2.0 * bits * period / 3.0), 0.05);
    }
  }
}

TEST(CharDetector, PhaseStateCarriesFromOneCharacterToTheNext)
{
  // Two characters of one continuous waveform: the phase found on the first,
  // turned by the first word's end turn, is the second's start phase; as a
  // prior it adds to the second's correlation when right and takes away
  // when opposite, exactly as a von Mises prior on the start phase does.
  for (int bits : {7, 10}) {
    const auto words = Words(bits);
    TCharDetector det(bits, words);
    const uint16_t a = words[3], b = words[words.size() - 2];
    const uint32_t both = a | static_cast<uint32_t>(b) << bits;
    const auto x = Character(both, 2 * bits, -0.5, 21.0, 0.4);  // (two words as one 2n-bit waveform)
    std::vector<TToneCorr> tones(static_cast<std::size_t>(2 * bits));
    ToneCorrelations(x, -0.5, 21.0, tones);
    const std::span<const TToneCorr> first(tones.data(), static_cast<std::size_t>(bits));
    const std::span<const TToneCorr> second(tones.data() + bits, static_cast<std::size_t>(bits));
    TCharChannel ch;
    ch.Amplitude = 21.0;
    ch.Noise = 210.0;
    const int ia = static_cast<int>(std::find(words.begin(), words.end(), a) - words.begin());
    const int ib = static_cast<int>(std::find(words.begin(), words.end(), b) - words.begin());
    det.Score(first, ch, {});
    const cplx start = det.Correlation(ia) / std::abs(det.Correlation(ia)) * TCharDetector::EndTurn(a, bits, ch);
    std::vector<double> none(words.size()), right(words.size()), opposite(words.size());
    det.Score(second, ch, {none, {}, {}});
    EXPECT_NEAR(std::arg(det.Correlation(ib) / start), 0.0, 1e-3) << bits;
    const double x0 = 2.0 * ch.Amplitude / ch.Noise * std::abs(det.Correlation(ib)), kappa = 5.0;
    det.Score(second, ch, {right, {}, {}}, kappa * start);
    det.Score(second, ch, {opposite, {}, {}}, -kappa * start);
    EXPECT_NEAR(none[static_cast<std::size_t>(ib)], chardet::LogI0(x0), 1e-9);
    EXPECT_NEAR(right[static_cast<std::size_t>(ib)], chardet::LogI0(x0 + kappa) - chardet::LogI0(kappa), 1e-3);
    EXPECT_NEAR(opposite[static_cast<std::size_t>(ib)], chardet::LogI0(x0 - kappa) - chardet::LogI0(kappa), 1e-3);
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
      det.Score(tones, ch, {});
      const double full = 21.0 * bits;
      EXPECT_NEAR(std::abs(det.Correlation(index)) / full, loss(offset, 21 * bits), 0.01) << bits << ", " << offset;
      ch.HighHz += offset;
      ch.LowHz += offset;
      det.Score(tones, ch, {});
      EXPECT_NEAR(std::abs(det.Correlation(index)) / full, loss(offset, 21), 1e-3) << bits << ", " << offset;
    }
}

TEST(CharDetector, BrokenInputIsHarmless)
{
  // Timing outside the samples or not a number, a short or broken set of
  // bit correlations, no noise power: zeros and silence, never a crash, and
  // a broken character does not spoil the frequency estimate.
  const std::vector<cplx> x(100, cplx{1.0, 0.0});
  std::vector<TToneCorr> tones(3, TToneCorr{{5.0, 0.0}, {5.0, 0.0}});
  for (const auto& [start, period] : {std::pair{std::nan(""), 21.0}, {1e300, 21.0}, {-1e300, 21.0}, {200.0, 21.0},
                                      {0.0, 0.0}, {0.0, -3.0}, {0.0, std::nan("")}}) {
    ToneCorrelations(x, start, period, tones);
    for (const TToneCorr& t : tones) EXPECT_EQ(std::norm(t.High) + std::norm(t.Low), 0.0) << start << ", " << period;
  }
  const auto words = Words(7);
  TCharDetector det(7, words);
  std::vector<double> cont(words.size(), 1.0), shortSpan(3, 1.0);
  std::vector<TToneCorr> broken(7, TToneCorr{{21.0, 0.0}, {0.0, 0.0}});
  broken[2].Low = {std::nan(""), 0.0};
  det.Score(std::span(broken).first(4), {}, {cont, shortSpan, {}});  // three bits missing, one broken
  for (double v : cont) EXPECT_TRUE(std::isfinite(v));
  TCharChannel silent;
  silent.Noise = 0.0;
  det.Score(broken, silent, {cont, {}, {}});
  for (double v : cont) EXPECT_EQ(v, 0.0);
  TFineFrequency fine;
  fine.Add(broken, words[0], 21.0);
  fine.Moved(std::nan(""));
  EXPECT_TRUE(std::isfinite(fine.HighHz()) && std::isfinite(fine.LowHz()));
  EXPECT_FALSE(fine.Locked());
}

// A stream of consecutive characters in noise (SNR of the tone pair in
// 500 Hz), 21 samples a bit, keyed phase-continuously or by switching
// between two free-running oscillators. Returns each character's tone
// correlations.
std::vector<std::vector<TToneCorr>> Stream(const std::vector<uint16_t>& sent, int bits, double snrDb, double offsetHz,
                                           double shiftErrHz, bool twoOscillators, std::mt19937& rng)
{
  std::normal_distribution<double> g;
  const double sd = std::sqrt(chardet::Rate / (500.0 * std::pow(10.0, snrDb / 10.0)) / 2.0);
  const double wh = TwoPi * (85.0 + offsetHz + 0.5 * shiftErrHz) / chardet::Rate;
  const double wl = TwoPi * (-85.0 + offsetHz - 0.5 * shiftErrHz) / chardet::Rate;
  const double oscLow = 2.0;  // the second oscillator's phase against the first
  std::vector<std::vector<TToneCorr>> out;
  std::vector<cplx> x(static_cast<std::size_t>(21 * bits));
  double phi = 0.0;
  long t = 0;
  for (uint16_t w : sent) {
    for (int k = 0; k < bits; ++k) {
      const bool high = (w >> k) & 1;
      const double om = high ? wh : wl;
      for (int n = 0; n < 21; ++n, ++t) {
        const double phase = twoOscillators ? (high ? 0.0 : oscLow) + om * (static_cast<double>(t) + 0.5) : phi + om * (n + 0.5);
        x[static_cast<std::size_t>(21 * k + n)] = std::polar(1.0, phase) + sd * cplx{g(rng), g(rng)};
      }
      phi += 21.0 * om;
    }
    out.emplace_back(static_cast<std::size_t>(bits));
    ToneCorrelations(x, -0.5, 21.0, out.back());
  }
  return out;
}

TEST(CharDetector, FineFrequencyFollowsBothTonesFromItsOwnDecisions)
{
  // Tones off by an offset and a shift error: characters decided bit by bit
  // (which a frequency error does not disturb), each as far as it is sure,
  // teach the estimate, which then holds both tones within ±1 Hz; retuning
  // the baseband moves it. A transmitter switching between two oscillators
  // leaves it unlocked.
  struct TCase {
    int bits;
    double snr, offset, shiftErr;
    bool twoOscillators = false;
  };
  for (const TCase c : {TCase{7, 0.0, 5.0, 0.0}, TCase{7, -1.0, -12.0, 4.0}, TCase{10, 0.0, 3.0, -6.0},
                        TCase{7, 0.0, 2.0, 0.0, true}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.snr << " dB, " << c.offset << " Hz off");
    std::mt19937 rng(11);
    const auto words = Words(c.bits);
    std::vector<uint16_t> sent(300);
    for (uint16_t& w : sent) w = words[rng() % words.size()];
    const auto tones = Stream(sent, c.bits, c.snr, c.offset, c.shiftErr, c.twoOscillators, rng);
    TCharDetector det(c.bits, words);
    TFineFrequency fine;
    TCharChannel ch;
    ch.Amplitude = 21.0;
    ch.Noise = 2.0 * 21.0 * chardet::Rate / (500.0 * std::pow(10.0, c.snr / 10.0)) / 2.0;
    std::vector<double> perBit(words.size());
    for (const auto& t : tones) {
      det.Score(t, ch, {{}, {}, perBit});
      const auto best = std::max_element(perBit.begin(), perBit.end());
      fine.Add(t, det.Word(static_cast<int>(best - perBit.begin())), 21.0, std::exp(*best - chardet::LogEvidence(perBit)));
    }
    EXPECT_EQ(fine.Locked(), !c.twoOscillators) << fine.SpreadHz();
    if (c.twoOscillators) continue;
    EXPECT_NEAR(fine.HighHz(), 85.0 + c.offset + 0.5 * c.shiftErr, 1.0);
    EXPECT_NEAR(fine.LowHz(), -85.0 + c.offset - 0.5 * c.shiftErr, 1.0);
    fine.Moved(2.0);
    EXPECT_NEAR(fine.OffsetHz(), c.offset - 2.0, 1.0);
    EXPECT_NEAR(fine.ShiftHz(), 170.0 + c.shiftErr, 1.0);
  }
}

// Before any character the safe model (the last) holds; a model that keeps
// explaining the characters better takes over within a few of them, one
// that explains them only as well never does; a reset forgets it all.
TEST(CharDetector, ModelChoiceTrustsTheSafeModelUntilAnotherEarnsIt)
{
  struct TCase {
    const char* Name;
    double Advantage;  // evidence of model 0 over the safe model, per character
    int Characters;
    int Chosen;
  };
  const TCase cases[] = {
      {"nothing weighed yet", 0.0, 0, 1},
      {"as good as the safe one", 0.0, 30, 1},
      {"slightly better on weak characters", 0.5, 30, 1},
      {"clearly better", 6.0, 3, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TModelChoice choice(2);
    EXPECT_GT(choice.Weight(1), 0.9);
    for (int i = 0; i < c.Characters; ++i) choice.Add(std::array{8.0 + c.Advantage, 8.0});
    EXPECT_EQ(choice.Chosen(), c.Chosen);
    EXPECT_GT(choice.Weight(c.Chosen), 0.75);
    choice.Reset();
    EXPECT_GT(choice.Weight(1), 0.9);
  }
}

TEST(CharDetector, ModelChoiceFollowsThePhaseOfTheTransmitter)
{
  // Continuous phase: the whole-character model wins and the mixture
  // decides as it does; two oscillators: the per-bit model wins and the
  // mixture decides no worse than it; a frequency error the detector is not
  // told of: not the whole-character model.
  struct TCase {
    int bits;
    double offset;
    bool twoOscillators;
    int chosen;  // 0 whole character, 1 halves, 2 per bit
  };
  for (const TCase c : {TCase{7, 0.0, false, 0}, TCase{7, 0.0, true, 2}, TCase{10, 0.0, true, 2}, TCase{10, 8.0, false, -1}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.offset << " Hz off, two oscillators " << c.twoOscillators);
    std::mt19937 rng(3);
    const auto words = Words(c.bits);
    std::vector<uint16_t> sent(200);
    for (uint16_t& w : sent) w = words[rng() % words.size()];
    const double snr = -2.0;
    const auto tones = Stream(sent, c.bits, snr, c.offset, 0.0, c.twoOscillators, rng);
    TCharDetector det(c.bits, words);
    TModelChoice choice(3);
    TCharChannel ch;
    ch.Amplitude = 21.0;
    ch.Noise = 2.0 * 21.0 * chardet::Rate / (500.0 * std::pow(10.0, snr / 10.0)) / 2.0;
    const std::size_t nw = words.size();
    std::vector<double> cont(nw), halves(nw), perBit(nw), mixed(nw);
    int errors[4] = {};  // whole character, halves, per bit, mixed
    for (std::size_t i = 0; i < sent.size(); ++i) {
      det.Score(tones[i], ch, {cont, halves, perBit});
      for (std::size_t w = 0; w < nw; ++w) mixed[w] = choice.Mix(std::array{cont[w], halves[w], perBit[w]});
      choice.Add(std::array{chardet::LogEvidence(cont), chardet::LogEvidence(halves), chardet::LogEvidence(perBit)});
      int m = 0;
      for (const auto* v : {&cont, &halves, &perBit, &mixed})
        errors[m++] += det.Word(static_cast<int>(std::max_element(v->begin(), v->end()) - v->begin())) != sent[i];
    }
    if (c.chosen >= 0) {
      EXPECT_EQ(choice.Chosen(), c.chosen);
      EXPECT_GT(choice.Weight(c.chosen), 0.99);
      EXPECT_LE(errors[3], errors[c.chosen] + 2);
    } else {
      EXPECT_NE(choice.Chosen(), 0);
    }
    EXPECT_LE(errors[3], errors[2] + 2);  // never worse than per-bit detection
  }
}

}  // namespace
}  // namespace brontel
