// Whole-character detection against bit-by-bit non-coherent detection, on a
// complex-baseband simulation of the collective FEC stream.
//
//   char_detector_eval [--quick] [--chars N] [--only TEXT] [--speed]
//   char_detector_eval --recording FILE [--centre HZ]
//
// The simulator sends random valid words of one service in the interleaved
// slot order of the FEC stream (every character in a first-transmission slot
// and again five slots later), keyed either phase-continuously (one
// oscillator) or by switching between two free-running oscillators, with a
// residual frequency error, phase noise, flat Rayleigh fading (sum of
// sinusoids with a Clarke spectrum) and white noise at a given SNR of the
// tone pair in 500 Hz. Timing is ideal: the point is the detector. The
// conditions marked "audio" come from a second generator: the project's
// audio transmitter, mixed down and decimated to the same baseband.
//
// For each condition and SNR it prints the error rates of single bits, of
// single copies (symbols) and of characters decided from both copies, for
//   bit      per-bit non-coherent soft decisions (the log-likelihood of a
//            word is the sum of its bits'; both copies added),
//   half     the phase continuous within each half of the character only,
//   char     whole-character non-coherent detection (both copies added),
//   mix      the three models (whole character, halves, bits) weighed per
//            stretch by how well each explains the signal (the weights are
//            shown at the end of each line),
//   char+f   whole-character detection with the decision-directed tone
//            frequency estimate in place of the nominal tones (and mix+f),
//            the estimate learning from the mix+f decisions (its RMS error
//            over the last nine tenths of the run and how often it says it
//            is locked are shown),
// and, for the continuous-phase signal in plain noise, the union bounds of
// square-law detection of both (the bound can exceed the truth at low SNR).
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dsp/char_detector.h"
#include "dsp/fine_frequency.h"
#include "dsp/model_choice.h"
#include "io/block_source.h"
#include "signal/navtex_signal.h"

namespace {

using namespace brontel;
using cplx = std::complex<double>;
constexpr double TwoPi = 2.0 * std::numbers::pi;
constexpr int BitLen = 21;  // samples per bit (ideal timing)

struct TService {
  const char* Name;
  int Bits;
  std::vector<uint16_t> Words;  // bit k = k-th bit sent, 1 = higher tone
};

TService English()
{
  TService s{"English", 7, {}};
  for (unsigned c = 0; c < 128; ++c)
    if (std::popcount(c) == 4) s.Words.push_back(static_cast<uint16_t>(c));
  return s;
}

TService Japanese()
{
  // 7 data bits, then the count of low data bits in 3 bits, most significant first.
  TService s{"Japanese", 10, {}};
  for (unsigned d = 0; d < 128; ++d) {
    const unsigned zeros = 7 - std::popcount(d);
    s.Words.push_back(static_cast<uint16_t>(d | ((zeros >> 2 & 1) << 7) | ((zeros >> 1 & 1) << 8) | ((zeros & 1) << 9)));
  }
  return s;
}

struct TCondition {
  const char* Name;
  double OffsetHz = 0.0;       // residual frequency error of both tones
  double ShiftErrHz = 0.0;     // the tones this much further apart than 170 Hz
  bool TwoOscillators = false; // keyed between two free-running oscillators
  double PhaseNoise = 0.0;     // random-walk phase noise, radians per bit (standard deviation)
  double Doppler = 0.0;        // Rayleigh fading, Hz (0: none)
  bool Theory = false;         // print the union bounds
  bool Audio = false;          // the second generator: audio through a mixer and decimator
  bool Selective = false;      // (audio) each tone fades on its own
  double JumpHz = 0.0;         // both tones jump by this much halfway through
};

// --- The transmitter and the channel -----------------------------------------

class TChannelSim {
public:
  TChannelSim(const TCondition& c, double snrDb, uint32_t seed, long jumpAt) : c_(c), rng_(seed), jumpAt_(jumpAt)
  {
    // Unit tone amplitude; complex noise of variance σ² per sample puts σ²·500/2100 in 500 Hz.
    noiseSd_ = std::sqrt(chardet::Rate / (500.0 * std::pow(10.0, snrDb / 10.0)) / 2.0);
    std::uniform_real_distribution<double> u(0.0, TwoPi);
    phase_ = u(rng_);
    oscHigh_ = u(rng_);
    oscLow_ = u(rng_);
    for (int m = 0; m < Paths; ++m) {
      fadeW_[m] = TwoPi * c.Doppler * std::cos(u(rng_)) / chardet::Rate;
      fadePhase_[m] = u(rng_);
    }
  }

  // One slot of `bits` bits of `word`, BitLen samples a bit, into x.
  void Slot(uint16_t word, int bits, std::vector<cplx>& x)
  {
    std::normal_distribution<double> g;
    x.resize(static_cast<std::size_t>(bits * BitLen));
    const double offset = c_.OffsetHz + (t_ >= jumpAt_ ? c_.JumpHz : 0.0);
    const double wHigh = TwoPi * (85.0 + 0.5 * c_.ShiftErrHz + offset) / chardet::Rate;
    const double wLow = TwoPi * (-85.0 - 0.5 * c_.ShiftErrHz + offset) / chardet::Rate;
    for (int k = 0; k < bits; ++k) {
      const bool high = (word >> k) & 1;
      const double w = high ? wHigh : wLow;
      if (c_.PhaseNoise > 0.0) phase_ += c_.PhaseNoise * g(rng_);
      for (int n = 0; n < BitLen; ++n) {
        // The phase is sampled in the middle of each sample's interval.
        double phi;
        if (c_.TwoOscillators)
          phi = (high ? oscHigh_ : oscLow_) + (high ? wHigh : wLow) * (static_cast<double>(t_) + 0.5) + phase_;
        else
          phi = phase_ + w * (n + 0.5);
        cplx s = std::polar(1.0, phi);
        if (c_.Doppler > 0.0) s *= Fade();
        x[static_cast<std::size_t>(k * BitLen + n)] = s + noiseSd_ * cplx{g(rng_), g(rng_)};
        ++t_;
      }
      if (!c_.TwoOscillators) phase_ = std::remainder(phase_ + w * BitLen, TwoPi);
    }
  }

  double NoisePerBit() const { return 2.0 * noiseSd_ * noiseSd_ * BitLen; }  // of one tone correlation

private:
  static constexpr int Paths = 24;
  cplx Fade()
  {
    cplx sum{};
    for (int m = 0; m < Paths; ++m) sum += std::polar(1.0, fadePhase_[m] + fadeW_[m] * static_cast<double>(t_));
    return sum * (1.0 / std::sqrt(static_cast<double>(Paths)));
  }

  TCondition c_;
  std::mt19937 rng_;
  double noiseSd_;
  double phase_ = 0.0, oscHigh_ = 0.0, oscLow_ = 0.0;
  double fadeW_[Paths]{}, fadePhase_[Paths]{};
  long t_ = 0, jumpAt_;
};

// The second generator, written differently: the project's audio
// transmitter (44100 Hz, 16-bit, its own noise and fading), mixed down from
// 800 Hz and decimated by 21 through a triangular window to the same
// baseband. The noise of a tone correlation is measured on noise alone.
class TAudioChain {
public:
  TAudioChain(const std::vector<uint8_t>& bits, const TCondition& c, double snrDb, uint32_t seed)
  {
    gen::TFskParams p;
    p.Amplitude = 800.0;  // the noise at −6 dB stays within 16 bits
    p.Offset = c.OffsetHz;
    p.Shift = 170.0 + c.ShiftErrHz;
    p.SnrDb = snrDb;
    p.Seed = seed;
    p.FadingDoppler = c.Doppler;
    p.FadingSelective = c.Selective;
    baseband_ = Baseband(gen::ModulateFsk(bits, p));
    const auto noise = Baseband(gen::NoiseOnly(20.0, p, 5));
    std::vector<TToneCorr> t(1);
    double sum = 0.0;
    int count = 0;
    for (double start = 0.0; start + 2 * BitLen < static_cast<double>(noise.size()); start += BitLen, ++count) {
      ToneCorrelations(noise, start, BitLen, t);
      sum += 0.5 * (std::norm(t[0].High) + std::norm(t[0].Low));
    }
    noise_ = sum / std::max(1, count);
  }

  // Tone correlations of `tones.size()` bits from bit `first` on (bit k
  // starts at input sample 441·k, baseband sample 21·k).
  void Tones(long first, std::vector<TToneCorr>& tones) const
  {
    ToneCorrelations(baseband_, static_cast<double>(first * BitLen), BitLen, tones);
  }
  double NoisePerBit() const { return noise_; }

  // Baseband sample m is centred on input sample 21·m; weights (21 − |j|)/441.
  static std::vector<cplx> Baseband(const std::vector<int16_t>& pcm, double centreHz = 800.0)
  {
    constexpr int D = 21;
    const double w = TwoPi * centreHz / 44100.0;
    std::vector<cplx> out(pcm.size() / D);
    for (std::size_t m = 1; m + 1 < out.size(); ++m) {
      cplx acc{};
      for (int j = -(D - 1); j <= D - 1; ++j) {
        const auto n = static_cast<long>(m * D) + j;
        acc += static_cast<double>(pcm[static_cast<std::size_t>(n)]) * static_cast<double>(D - std::abs(j)) *
               std::polar(1.0, -w * static_cast<double>(n));
      }
      out[m] = acc * (1.0 / (D * D));
    }
    return out;
  }

private:
  std::vector<cplx> baseband_;
  double noise_ = 1.0;
};

// --- Theory --------------------------------------------------------------------

// Marcum's Q1(a, b) = e^{−(a²+b²)/2} Σ_k (a/b)^k I_k(ab), for a < b.
double MarcumQ1(double a, double b)
{
  const double x = a * b;
  double sum = 0.0, r = 1.0;
  for (int k = 0; k < 400; ++k) {
    const double term = r * std::cyl_bessel_i(static_cast<double>(k), x);
    sum += term;
    if (k > 5 && term < 1e-17 * sum) break;
    r *= a / b;
  }
  return std::exp(-(a * a + b * b) / 2.0) * sum;
}

// Probability that square-law combining of L diversity branches prefers the
// wrong one of two equal-energy signals whose correlation has magnitude
// rho, at a total SNR `gamma` (energy over N0, summed over the branches).
double PairError(double rho, double gamma, int L)
{
  const double root = std::sqrt(std::max(0.0, 1.0 - rho * rho));
  const double a = std::sqrt(gamma / 2.0 * (1.0 - root)), b = std::sqrt(gamma / 2.0 * (1.0 + root));
  const double e = std::exp(-(a * a + b * b) / 2.0);
  double p = MarcumQ1(a, b) - 0.5 * std::cyl_bessel_i(0.0, a * b) * e;
  double binom[64];  // C(2L − 1, k)
  binom[0] = 1.0;
  for (int k = 1; k < 2 * L; ++k) binom[k] = binom[k - 1] * (2 * L - k) / k;
  for (int n = 1; n < L; ++n) {
    double s = 0.0;
    for (int k = 0; k <= L - 1 - n; ++k) s += binom[k];
    p += e / std::pow(2.0, 2 * L - 1) * std::cyl_bessel_i(static_cast<double>(n), a * b) *
         (std::pow(b / a, n) - std::pow(a / b, n)) * s;
  }
  return std::clamp(p, 0.0, 1.0);
}

struct TTheory {
  double Bit, CharBit, CharWhole;
};

// Union bounds at Eb/N0 `ebn0` (linear): one bit; characters from both
// copies by per-bit and by whole-character square-law detection.
TTheory Theory(const TService& s, TCharDetector& det, double ebn0)
{
  // Correlation of the two tones over one bit, and of every pair of words.
  const double w = TwoPi * 170.0 / chardet::Rate;
  const double toneRho = std::abs(std::sin(w * BitLen / 2.0) / (BitLen * std::sin(w / 2.0)));
  TTheory t{PairError(toneRho, ebn0, 1), 0.0, 0.0};
  const int n = s.Bits;
  std::vector<TToneCorr> tones(static_cast<std::size_t>(n));
  std::vector<cplx> x(static_cast<std::size_t>(n * BitLen));
  for (uint16_t sent : s.Words) {
    double phi = 0.0;
    for (int k = 0; k < n; ++k) {
      const double wk = TwoPi * ((sent >> k & 1) ? 85.0 : -85.0) / chardet::Rate;
      for (int m = 0; m < BitLen; ++m) x[static_cast<std::size_t>(k * BitLen + m)] = std::polar(1.0, phi + wk * (m + 0.5));
      phi += wk * BitLen;
    }
    ToneCorrelations(x, -0.5, BitLen, tones);
    det.Score(tones, {}, {});
    for (int j = 0; j < det.WordCount(); ++j) {
      const uint16_t other = det.Word(j);
      if (other == sent) continue;
      const int d = std::popcount(static_cast<unsigned>(other ^ sent));
      t.CharBit += PairError(toneRho, 2.0 * d * ebn0, 2 * d);
      t.CharWhole += PairError(std::abs(det.Correlation(j)) / (n * BitLen), 2.0 * n * ebn0, 2);
    }
  }
  t.CharBit = std::min(1.0, t.CharBit / static_cast<double>(s.Words.size()));
  t.CharWhole = std::min(1.0, t.CharWhole / static_cast<double>(s.Words.size()));
  return t;
}

// --- One run -------------------------------------------------------------------

// The detectors compared: three models alone, their mixture, and the
// continuous-phase model and the mixture with the fine frequency estimate.
enum { DetBit, DetHalf, DetChar, DetMix, DetCharF, DetMixF, Detectors };
const char* const DetName[Detectors] = {"bit", "half", "char", "mix", "char+f", "mix+f"};

struct TCounts {
  long Bits = 0, BitErrors = 0, Symbols = 0, Chars = 0;
  long SymbolErrors[Detectors] = {}, CharErrors[Detectors] = {};
  double Weight[3] = {};  // the mixture's weights of the three models, summed over the slots
  double FreqErr2 = 0.0;  // squared error of the tone estimates, summed over the later slots …
  long FreqSlots = 0, Locked = 0;  // … their count, and how many of them were locked
};

int ArgMax(const std::vector<double>& v)
{
  return static_cast<int>(std::max_element(v.begin(), v.end()) - v.begin());
}

TCounts Run(const TService& s, const TCondition& c, double snrDb, int chars, uint32_t seed)
{
  TCharDetector det(s.Bits, s.Words);
  const int n = s.Bits, words = det.WordCount();
  const auto nw = static_cast<std::size_t>(words);
  // Slots in sending order: slot 2k holds character k, slot 2k + 5 repeats it
  // (the slots around the text hold random words).
  const int slots = 2 * chars + 5;
  std::mt19937 pick(seed * 7919u + 1);
  std::vector<int> sent(static_cast<std::size_t>(chars)), slotWord(static_cast<std::size_t>(slots));
  for (int& v : sent) v = static_cast<int>(pick() % static_cast<unsigned>(words));
  for (int slot = 0; slot < slots; ++slot) {
    int& v = slotWord[static_cast<std::size_t>(slot)];
    v = static_cast<int>(pick() % static_cast<unsigned>(words));
    if (slot % 2 == 0 && slot / 2 < chars) v = sent[static_cast<std::size_t>(slot / 2)];
    if (slot % 2 == 1 && slot >= 5) v = sent[static_cast<std::size_t>((slot - 5) / 2)];
  }
  std::optional<TChannelSim> sim;
  std::optional<TAudioChain> audio;
  if (c.Audio) {
    std::vector<uint8_t> bits;
    for (int v : slotWord)
      for (int k = 0; k < n; ++k) bits.push_back(static_cast<uint8_t>((det.Word(v) >> k) & 1));
    audio.emplace(bits, c, snrDb, seed);
  } else {
    sim.emplace(c, snrDb, seed, static_cast<long>(slots / 2) * n * BitLen);
  }
  const double u = audio ? audio->NoisePerBit() : sim->NoisePerBit();
  struct TSlot {
    std::array<std::vector<double>, Detectors> Ll;
    std::vector<TToneCorr> Tones;
  };
  std::array<TSlot, 4> pending;  // first copies waiting for their repetition (at most three)
  std::vector<cplx> x;
  std::vector<double> cont(nw), half(nw), bit(nw), contF(nw), halfF(nw);
  TModelChoice choice(3), choiceF(3);
  TFineFrequency fine;
  TCounts cnt;
  const double trueHigh = 85.0 + 0.5 * c.ShiftErrHz + c.OffsetHz, trueLow = -85.0 - 0.5 * c.ShiftErrHz + c.OffsetHz;
  const double jump = c.Audio ? 0.0 : c.JumpHz;
  // Signal level: the mean power of the tone correlations less the noise,
  // over the last 200 bits (in fading, over the slot itself).
  double power = 0.0;
  long powerCount = 0;
  for (int slot = 0; slot < slots; ++slot) {
    int ch = -1;
    bool repeat = false;
    if (slot % 2 == 0 && slot / 2 < chars) ch = slot / 2;
    if (slot % 2 == 1 && slot >= 5) ch = (slot - 5) / 2, repeat = true;
    const int word = slotWord[static_cast<std::size_t>(slot)];
    TSlot sc;
    sc.Tones.resize(static_cast<std::size_t>(n));
    if (audio) {
      audio->Tones(static_cast<long>(slot) * n, sc.Tones);
    } else {
      sim->Slot(det.Word(word), n, x);
      ToneCorrelations(x, -0.5, BitLen, sc.Tones);
    }
    double slotPower = 0.0;
    for (const TToneCorr& t : sc.Tones) slotPower += std::norm(t.High) + std::norm(t.Low);
    slotPower /= n;
    const double keep = std::min(1.0 - 1.0 / (powerCount + 1.0), 1.0 - static_cast<double>(n) / 200.0);
    power = keep * power + (1.0 - keep) * slotPower;
    ++powerCount;
    TCharChannel chn;
    chn.Noise = u;
    chn.Amplitude = std::sqrt(std::max(0.1 * u, (c.Doppler > 0.0 ? slotPower : power) - 2.0 * u));
    det.Score(sc.Tones, chn, {cont, half, bit});
    det.Score(sc.Tones, fine.Apply(chn), {contF, halfF, {}});
    for (auto& v : sc.Ll) v.resize(nw);
    for (std::size_t i = 0; i < nw; ++i) {
      sc.Ll[DetBit][i] = bit[i];
      sc.Ll[DetHalf][i] = half[i];
      sc.Ll[DetChar][i] = cont[i];
      sc.Ll[DetCharF][i] = contF[i];
      sc.Ll[DetMix][i] = choice.Mix(std::array{cont[i], half[i], bit[i]});
      sc.Ll[DetMixF][i] = choiceF.Mix(std::array{contF[i], halfF[i], bit[i]});
    }
    for (int m = 0; m < 3; ++m) cnt.Weight[m] += choice.Weight(m);
    choice.Add(std::array{chardet::LogEvidence(cont), chardet::LogEvidence(half), chardet::LogEvidence(bit)});
    choiceF.Add(std::array{chardet::LogEvidence(contF), chardet::LogEvidence(halfF), chardet::LogEvidence(bit)});
    if (slot > slots / 10) {
      const double moved = slot >= slots / 2 ? jump : 0.0;
      cnt.FreqErr2 += 0.5 * (std::pow(fine.HighHz() - trueHigh - moved, 2) + std::pow(fine.LowHz() - trueLow - moved, 2));
      ++cnt.FreqSlots;
      cnt.Locked += fine.Locked();
    }
    if (ch < 0) continue;
    // Bits and single copies.
    const uint16_t w = det.Word(word);
    for (int k = 0; k < n; ++k) {
      const TToneCorr& t = sc.Tones[static_cast<std::size_t>(k)];
      cnt.BitErrors += (std::abs(t.High) > std::abs(t.Low)) != ((w >> k & 1) != 0);
    }
    cnt.Bits += n;
    ++cnt.Symbols;
    for (int d = 0; d < Detectors; ++d) cnt.SymbolErrors[d] += ArgMax(sc.Ll[static_cast<std::size_t>(d)]) != word;
    TSlot& first = pending[static_cast<std::size_t>(ch % 4)];
    if (!repeat) {
      first = std::move(sc);
      continue;
    }
    std::vector<double> sum(nw);
    for (int d = 0; d < Detectors; ++d) {
      for (std::size_t i = 0; i < nw; ++i) sum[i] = first.Ll[static_cast<std::size_t>(d)][i] + sc.Ll[static_cast<std::size_t>(d)][i];
      const int decided = ArgMax(sum);
      cnt.CharErrors[d] += decided != word;
      if (d == DetMixF) {
        // The decision, as sure as it is, teaches the frequency estimate,
        // less where the per-bit model wins (there the phase may not be
        // continuous; the estimate must still find its way back after a jump).
        const double posterior = 1.0 / std::exp(chardet::LogEvidence(sum) - sum[static_cast<std::size_t>(decided)]);
        const double weight = posterior * std::max(0.25, 1.0 - choiceF.Weight(2));
        fine.Add(first.Tones, det.Word(decided), BitLen, weight);
        fine.Add(sc.Tones, det.Word(decided), BitLen, weight);
      }
    }
    ++cnt.Chars;
  }
  return cnt;
}

void Table(const TService& s, const TCondition& c, const std::vector<double>& snrs, int chars)
{
  std::printf("\n%s, %s (%d characters a point)\n", s.Name, c.Name, chars);
  std::printf("  SNR  Eb/N0 |   BER   theory | SER:");
  for (int d : {DetBit, DetChar, DetMix, DetMixF}) std::printf(" %7s", DetName[d]);
  std::printf(" | CER:");
  for (const char* name : DetName) std::printf(" %7s", name);
  std::printf(" | f rms  lock | mix: char half  bit");
  if (c.Theory) std::printf(" | bound: bit    char");
  std::printf("\n");
  TCharDetector det(s.Bits, s.Words);
  for (double snr : snrs) {
    const TCounts k = Run(s, c, snr, chars, static_cast<uint32_t>(1000 + 10 * snr));
    const double ebn0Db = snr + 10.0 * std::log10(5.0);
    const TTheory t = Theory(s, det, std::pow(10.0, ebn0Db / 10.0));
    auto pct = [](long e, long n) { return 100.0 * static_cast<double>(e) / static_cast<double>(std::max(1L, n)); };
    std::printf("%5.1f %6.2f | %6.3f%% %6.3f%% |    ", snr, ebn0Db, pct(k.BitErrors, k.Bits), 100.0 * t.Bit);
    for (int d : {DetBit, DetChar, DetMix, DetMixF}) std::printf(" %6.2f%%", pct(k.SymbolErrors[d], k.Symbols));
    std::printf(" |     ");
    for (int d = 0; d < Detectors; ++d) std::printf(" %6.3f%%", pct(k.CharErrors[d], k.Chars));
    std::printf(" | %5.2f %4.0f%%", std::sqrt(k.FreqErr2 / std::max(1L, k.FreqSlots)), pct(k.Locked, k.FreqSlots));
    const double slotsRun = 2.0 * chars + 5.0;
    std::printf(" |     %4.0f%% %4.0f%% %4.0f%%", 100.0 * k.Weight[0] / slotsRun, 100.0 * k.Weight[1] / slotsRun,
                100.0 * k.Weight[2] / slotsRun);
    if (c.Theory) std::printf(" | %6.3f%% %7.4f%%", 100.0 * t.CharBit, 100.0 * t.CharWhole);
    std::printf("\n");
    std::fflush(stdout);
  }
}

// Processor time of one Score() call on characters at Eb/N0 = 5 dB, with
// all three models and with the continuous-phase one alone.
void Speed(const TService& s)
{
  TCharDetector det(s.Bits, s.Words);
  std::mt19937 rng(3);
  std::normal_distribution<double> g;
  std::vector<std::vector<TToneCorr>> inputs(64, std::vector<TToneCorr>(static_cast<std::size_t>(s.Bits)));
  for (auto& in : inputs)
    for (TToneCorr& t : in) t = {{21.0 + 8.6 * g(rng), 8.6 * g(rng)}, {8.6 * g(rng), 8.6 * g(rng)}};
  std::vector<double> a(s.Words.size()), b(s.Words.size()), c(s.Words.size());
  double sink = 0.0;
  constexpr int Reps = 100000;
  for (const bool all : {true, false}) {
    // Processor time, not wall time: the machine may be shared.
    const std::clock_t t0 = std::clock();
    for (int r = 0; r < Reps; ++r) {
      const TCharDetector::TOut out = all ? TCharDetector::TOut{a, b, c} : TCharDetector::TOut{a, {}, {}};
      det.Score(inputs[static_cast<std::size_t>(r) % inputs.size()], {21.0, 147.0, 21.0}, out);
      sink += a[static_cast<std::size_t>(r) % a.size()];
    }
    const double ns = 1e9 * static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC / Reps;
    // Scored at every bit (every alignment of the character), 100 times a second.
    std::printf("%s, %s: %.0f ns a character window; scored at every bit that is %.0fx real time%s\n", s.Name,
                all ? "three models" : "continuous model", ns, 1e9 / (100.0 * ns), sink > 0 ? "" : " ");
  }
}

// --- A recording -----------------------------------------------------------------

// How continuous the phase of a real transmitter is. The recording is mixed
// down from `centre`, the bit timing found block by block (49 bits, the
// offset that best separates the tones), and every 7 bits taken as one
// word of all 128 patterns, decided bit by bit. For each such window the
// coherence η = |z|/Σ|c_k| of the decided pattern (1: the phase runs on
// exactly; 7·η² is its coherent energy in per-bit units) and which model of
// the phase explains it better; the tone frequencies from the fine estimate.
void Recording(const std::string& path, double centre)
{
  std::string error;
  auto src = OpenInput(path, error);
  if (!src) {
    std::fprintf(stderr, "char_detector_eval: %s\n", error.c_str());
    return;
  }
  std::vector<int16_t> pcm;
  TBlock block;
  while (src->ReadBlock(block))
    for (int j = 0; j < FramesPerBlock; ++j) pcm.push_back(block[2 * j]);
  const auto x = TAudioChain::Baseband(pcm, centre);
  std::vector<uint16_t> all(128);
  for (unsigned i = 0; i < 128; ++i) all[i] = static_cast<uint16_t>(i);
  TCharDetector det(7, all);
  TFineFrequency fine;
  TModelChoice choice(3);
  constexpr int Block = 49;
  std::vector<TToneCorr> tones(Block), best(Block);
  std::vector<double> cont(128), half(128), bit(128);
  const double rho = 0.151;  // the other tone's share of a bit's correlation
  double etaSum = 0.0, etaSq = 0.0;
  long windows = 0, contWins = 0;
  std::printf("\n%s: %.1f s, tones %.0f Hz ± 85\n", path.c_str(), pcm.size() / 44100.0, centre);
  std::printf("   time  |  mean η  7·η²  | continuous wins | high tone  low tone (Hz)  lock\n");
  for (double start = 0.0; start + (Block + 1) * BitLen < static_cast<double>(x.size()); start += Block * BitLen) {
    // Timing: the offset at which the bits are most clearly one tone or the other.
    double top = -1.0, offset = 0.0;
    for (double tau = 0.0; tau < BitLen; tau += 0.5) {
      ToneCorrelations(x, start + tau, BitLen, tones);
      double m = 0.0;
      for (const TToneCorr& t : tones) m += std::abs(std::norm(t.High) - std::norm(t.Low));
      if (m > top) top = m, offset = tau, best = tones;
    }
    // Levels from the stronger and the weaker tone of each bit.
    double strong = 0.0, weak = 0.0;
    for (const TToneCorr& t : best) {
      strong += std::max(std::norm(t.High), std::norm(t.Low)) / Block;
      weak += std::min(std::norm(t.High), std::norm(t.Low)) / Block;
    }
    const double a2 = std::max(0.0, (strong - weak) / (1.0 - rho * rho));
    TCharChannel ch;
    ch.Noise = std::max(1e-9 * a2, weak - rho * rho * a2);
    ch.Amplitude = std::sqrt(a2);
    double blockEta = 0.0;
    int blockWins = 0;
    for (int w = 0; w + 7 <= Block; w += 7) {
      const std::span<const TToneCorr> win(best.data() + w, 7);
      unsigned pattern = 0;
      double sumAbs = 0.0;
      for (int k = 0; k < 7; ++k) {
        const bool high = std::abs(win[static_cast<std::size_t>(k)].High) > std::abs(win[static_cast<std::size_t>(k)].Low);
        pattern |= static_cast<unsigned>(high) << k;
        sumAbs += high ? std::abs(win[static_cast<std::size_t>(k)].High) : std::abs(win[static_cast<std::size_t>(k)].Low);
      }
      det.Score(win, fine.Apply(ch), {cont, half, bit});
      const double eta = std::abs(det.Correlation(static_cast<int>(pattern))) / sumAbs;
      const double ev[3] = {chardet::LogEvidence(cont), chardet::LogEvidence(half), chardet::LogEvidence(bit)};
      choice.Add(ev);
      fine.Add(win, static_cast<uint16_t>(pattern), BitLen);
      blockEta += eta;
      blockWins += ev[0] > ev[2];
      etaSum += eta;
      etaSq += 7.0 * eta * eta;
      contWins += ev[0] > ev[2];
      ++windows;
    }
    const double t = start / chardet::Rate;
    if (static_cast<long>(t) % 5 == 0 || start + (2 * Block + 1) * BitLen >= static_cast<double>(x.size()))
      std::printf("%6.1f s |  %5.3f        | %3d of %d       | %+8.2f  %+8.2f       %s  (timing %.1f)\n", t,
                  blockEta / (Block / 7), blockWins, Block / 7, fine.HighHz(), fine.LowHz(), fine.Locked() ? "yes" : "no ",
                  offset);
  }
  std::printf("all: %ld windows, mean η %.3f, 7·η² %.2f of 7, continuous model better in %.0f %%, model chosen now: %s\n",
              windows, etaSum / std::max(1L, windows), etaSq / std::max(1L, windows),
              100.0 * static_cast<double>(contWins) / static_cast<double>(std::max(1L, windows)),
              choice.Chosen() == 0 ? "continuous" : choice.Chosen() == 1 ? "halves" : "per bit");
}

}  // namespace

int main(int argc, char** argv)
{
  bool quick = false, speed = false;
  int chars = 0;
  const char* only = nullptr;
  std::string recording;
  double centre = 1000.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick"))
      quick = true;
    else if (!std::strcmp(argv[i], "--speed"))
      speed = true;
    else if (!std::strcmp(argv[i], "--chars") && i + 1 < argc)
      chars = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
      only = argv[++i];
    else if (!std::strcmp(argv[i], "--recording") && i + 1 < argc)
      recording = argv[++i];
    else if (!std::strcmp(argv[i], "--centre") && i + 1 < argc)
      centre = std::atof(argv[++i]);
    else {
      std::fprintf(stderr,
                   "usage: char_detector_eval [--quick] [--chars N] [--only TEXT] [--speed] "
                   "[--recording FILE [--centre HZ]]\n");
      return 2;
    }
  }
  if (!recording.empty()) {
    Recording(recording, centre);
    return 0;
  }
  if (speed) {
    Speed(English());
    Speed(Japanese());
    return 0;
  }
  if (chars <= 0) chars = quick ? 3000 : 20000;
  std::vector<double> snrs;
  for (double snr = -6.0; snr <= 4.0; snr += quick ? 2.0 : 1.0) snrs.push_back(snr);
  const TCondition conditions[] = {
      {"continuous phase, noise", 0, 0, false, 0, 0, true},
      {"continuous phase, 2 Hz off", 2.0},
      {"continuous phase, 5 Hz off", 5.0},
      {"continuous phase, shift 175 Hz", 0, 5.0},
      {"phase noise 0.3 rad a bit", 0, 0, false, 0.3},
      {"two oscillators (phase jumps)", 0, 0, true},
      {"continuous phase, 8 Hz jump halfway", 0, 0, false, 0, 0, false, false, false, 8.0},
      {"Rayleigh fading 1 Hz", 0, 0, false, 0, 1.0},
      {"Rayleigh fading 10 Hz", 0, 0, false, 0, 10.0},
      {"audio: continuous phase, noise", 0, 0, false, 0, 0, false, true},
      {"audio: 3 Hz off", 3.0, 0, false, 0, 0, false, true},
      {"audio: fading 1 Hz", 0, 0, false, 0, 1.0, false, true},
      {"audio: selective fading 1 Hz", 0, 0, false, 0, 1.0, false, true, true},
  };
  for (const TService& s : {English(), Japanese()})
    for (const TCondition& c : conditions) {
      const std::string name = std::string(s.Name) + ", " + c.Name;
      if (only && !std::strstr(name.c_str(), only)) continue;
      Table(s, c, snrs, c.Audio ? std::min(chars, 4000) : chars);  // (the audio is held whole)
    }
  return 0;
}
