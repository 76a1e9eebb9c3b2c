// Whole-character detection of continuous-phase FSK.
//
// The transmitter keys one oscillator between the two tones without phase
// jumps, so a character of n bits is one waveform whose phase runs on from
// bit to bit. Correlating the received baseband with that waveform over the
// whole character, non-coherently (the start phase unknown), collects n bits'
// energy in one complex number instead of n separate ones: for the small set
// of valid code words this is worth about 3 dB over bit-by-bit non-coherent
// detection (multiple-symbol non-coherent detection of CPFSK).
//
// The work is split in two steps:
//  - ToneCorrelations(): the complex amplitude of each tone over each bit,
//    referred to the bit's start (two numbers per bit, shared by every word
//    and every character that contains the bit);
//  - TCharDetector::Score(): for every valid word, the correlation with its
//    continuous-phase waveform, a sum of those per-bit numbers each turned
//    by the phase the oscillator has reached at that bit. The phase after k
//    bits depends only on how many of them were the higher tone, so the
//    turned numbers are formed once per (bit, count) and the words' sums are
//    built along a prefix tree of the word list: one complex addition per
//    tree node.
// Score() gives log-likelihoods per word against noise alone under three
// models of the phase: continuous, ln I0(2a·|z|/u); continuous within each
// half of the character but not across (the sum of both halves' terms); and
// unknown on every bit (the per-bit model, the sum of each bit's
// ln I0(2a·|c|/u)), so a caller can weigh the models against each other.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace brontel {

namespace chardet {
inline constexpr double Rate = 2100.0;   // complex samples per second
inline constexpr double ToneHz = 85.0;   // each tone's distance from 0 Hz
inline constexpr int MaxBits = 16;       // longest word
}  // namespace chardet

// The two tones' complex amplitudes over one bit: the baseband summed over
// the bit against e^{∓j2π·85·t}, t counted from the bit's start.
struct TToneCorr {
  std::complex<double> High, Low;
};

// Tone correlations of out.size() consecutive bits of `period` samples, the
// first starting at `start` (a fractional sample index: sample n stands for
// the interval [n − ½, n + ½), and a sample cut by a bit edge counts in
// proportion). `x` is complex baseband at 2100 Hz with the tone pair
// centred on 0 Hz. Parts of a bit outside `x` count as zero (so do all bits
// when `period` is not positive or `start` not finite).
void ToneCorrelations(std::span<const std::complex<double>> x, double start, double period,
                      std::span<TToneCorr> out);

// The tone correlations of one bit with its window moved `shift` samples
// later, referred to the unmoved start (so a steady tone gives the same
// phase whatever the shift, and only what the window gains or loses shows).
TToneCorr ShiftedToneCorrelation(std::span<const std::complex<double>> x, double start, double period, double shift);

// A bit's tone correlations with its window moved `tau` samples, from the
// three measured with ShiftedToneCorrelation at −step, 0 and +step
// (quadratic interpolation), referred to the moved start as
// ToneCorrelations() would give them. Where the moved ones were not
// measured (both zero) the unmoved one is taken as it is.
TToneCorr ToneCorrelationAt(const TToneCorr& early, const TToneCorr& centre, const TToneCorr& late, double step,
                            double tau);
// The same with the turn of the higher tone's reference over tau samples,
// e^{j2π·85·tau/2100}, worked out by the caller (TimingTurn()).
TToneCorr ToneCorrelationAt(const TToneCorr& early, const TToneCorr& centre, const TToneCorr& late, double step,
                            double tau, std::complex<double> turn);
std::complex<double> TimingTurn(double tau);

// What the detector is told of the channel.
struct TCharChannel {
  double Amplitude = 1.0;  // signal amplitude in one bit's tone correlation
  double Noise = 1.0;      // noise power of one bit's tone correlation (> 0)
  double Period = 21.0;    // samples per bit
  // Frequencies of the higher and the lower tone in the baseband, Hz (the
  // fine frequency estimate); they set how far the phase turns on each bit.
  double HighHz = chardet::ToneHz, LowHz = -chardet::ToneHz;
  // The noise counts as at least Amplitude²/MaxEbN0 (Eb/N0 linear; 10 dB):
  // no real transmitter keeps its phase perfectly, and at a high SNR a
  // slight imperfection would otherwise weigh more than all the energy the
  // whole character gathers (and the likelihoods be surer than the models
  // deserve). Where it matters, at a low SNR, this changes nothing.
  double MaxEbN0 = 10.0;

  // 2a/u with the noise so bounded: a bit's log-likelihood for a tone whose
  // correlation is c is ln I0(Scale()·|c|) against noise alone (0 without a
  // positive finite noise power).
  double Scale() const;
};

class TCharDetector {
public:
  // `words`: the valid words of `bits` bits (1 … MaxBits), bit k of a word
  // being the k-th bit received, 1 for the higher tone. Repeated words are
  // kept once (WordCount() tells how many remain; scores follow that order).
  TCharDetector(int bits, std::span<const uint16_t> words);

  int Bits() const { return bits_; }
  int WordCount() const { return static_cast<int>(words_.size()); }
  uint16_t Word(int i) const { return words_[static_cast<std::size_t>(i)]; }

  // Where Score() writes each model's log-likelihoods of every word (each
  // span WordCount() long, or empty when not wanted; a shorter one takes the
  // first words).
  struct TOut {
    std::span<double> Continuous;  // the phase runs on through the character
    std::span<double> Halves;      // … through each half (bits before and from Bits()/2), not across
    std::span<double> PerBit;      // the phase is unknown on every bit
  };

  // Log-likelihoods of every word for one character (`tones`: Bits() bit
  // correlations; missing or non-finite ones count as silence) against
  // noise alone; without a positive finite noise power all are 0 (a period
  // or tone frequency that is not a usable number: the nominal one).
  // `phasePrior` is what is known of the phase at the character's start:
  // κ·e^{jμ} for a von Mises distribution of mean μ and concentration κ (0:
  // nothing, the fully non-coherent detector); it enters the continuous-phase
  // model only. Both copies of a character combine by adding their scores.
  void Score(std::span<const TToneCorr> tones, const TCharChannel& ch, const TOut& out,
             std::complex<double> phasePrior = {});

  // After Score(): the correlation of word i's waveform (start phase 0) with
  // the character; its angle estimates the phase at the character's start.
  std::complex<double> Correlation(int i) const { return leafZ_[static_cast<std::size_t>(i)]; }

  // The correlation of one word's waveform (start phase 0) with a character,
  // as Score() forms it, without the trees (for a few words at a time).
  static std::complex<double> WordCorrelation(std::span<const TToneCorr> tones, uint16_t w, int bits,
                                              const TCharChannel& ch);
  // What WordCorrelation() takes from the channel, for many calls with one channel.
  struct TTurns {
    std::complex<double> HalfHigh, HalfLow, BackHigh, BackLow;
  };
  static TTurns Turns(const TCharChannel& ch);
  static std::complex<double> WordCorrelation(std::span<const TToneCorr> tones, uint16_t w, int bits, const TTurns& t);

  // The phase turn of word w's waveform over the whole character, as e^{jφ}.
  static std::complex<double> EndTurn(uint16_t w, int bits, const TCharChannel& ch);

private:
  int bits_;
  std::vector<uint16_t> words_;
  // Each word's correlation is split where its halves meet: the sum over the
  // first half comes from a prefix tree of the words' first halves, the sum
  // over the second from trees of their second halves, one for every count
  // of high bits in the first half (the count sets the phase the second
  // half starts from). Words sharing a first or a second half share its
  // sum (for the Japanese words, whose last three bits follow from the
  // first seven, this halves the work). One entry per tree node, parents
  // before children; entry 0 is an empty root.
  std::vector<int32_t> parent_;  // parent's entry
  std::vector<int16_t> term_;    // the turned bit correlation the node adds: (bit·MaxBits + high bits before)·2 + tone
  std::vector<int32_t> first_, second_;  // each word's last node in the first and in the second half
  // Scratch of Score(): per node the sum so far (real, imaginary) and the
  // per-bit log-likelihood so far.
  std::vector<double> zRe_, zIm_, sumL_;
  std::vector<std::complex<double>> leafZ_;  // per word, for Correlation()
};

// Decision-directed fine timing of the characters. The demodulator's bit
// clock wanders by a sample or two at a low SNR, which costs the whole-
// character detector more than it costs per-bit decisions: a window off by
// τ samples turns the two tones' correlations by ±2π·85·τ/2100 against each
// other (half a radian at two samples), so the bits of a character no longer
// add up in phase. For every decided character the energy of its waveform's
// correlation is measured over a grid of window offsets (from the three
// measured windows of each bit), its log-likelihood gathered per offset
// with forgetting, and the best offset (refined between grid points) is the
// estimate: a maximum-likelihood timing search over the last characters.
class TCharTiming {
public:
  static constexpr double Step = 3.0;  // the early and late windows lie this many samples off
  static constexpr int Grid = 13;      // offsets tried: −Limit … +Limit
  static constexpr double Limit = 4.5;
  // `memory`: characters over which the evidence is gathered.
  explicit TCharTiming(double memory = 4.5);

  // One decided character: each bit's early, centre and late correlations,
  // the word (bit k the k-th bit received, 1 the higher tone), the channel
  // it was scored with and how sure the decision is (0 … 1).
  void Add(std::span<const TToneCorr> early, std::span<const TToneCorr> centre, std::span<const TToneCorr> late,
           uint16_t word, const TCharChannel& ch, double weight);

  // Samples by which the bits lie later than the demodulator placed them.
  double Offset() const { return offset_; }
  void Reset();

private:
  double keep_;
  std::array<double, Grid> score_{};
  double offset_ = 0.0;
};

namespace chardet {

// ln I0(x) (absolute error below 1e-4; I0 is even).
double LogI0(double x);

// log Σ_i exp(ll[i] + logPrior[i]): the evidence of a model whose words
// have log-likelihoods `ll` and log prior probabilities `logPrior` (an empty
// `logPrior`: all words alike).
double LogEvidence(std::span<const double> ll, std::span<const double> logPrior = {});

}  // namespace chardet

}  // namespace brontel
