// Whole-character evidence for the robust decoder.
//
// For every bit received, the window of one character of each service that
// ends at that bit is scored against every tone pattern the decoder looks
// for (the service's words in both bit senses) under two models of the
// phase:
//  - whole-character non-coherent detection of the continuous-phase
//    waveform (TCharDetector), the tone frequencies taken from the
//    decision-directed estimate (TFineFrequency);
//  - the demodulator's soft values, bit by bit (nothing assumed of the
//    phase from one bit to the next).
// Both are expressed against one reference, random tones under the per-bit
// model (so a pattern's score is the log-likelihood ratio of that pattern
// against random bits, the measure the decoder has always used), and mixed
// with the weights of TModelChoice:
//   s(p) = ln(q_char·e^{c(p)} + q_bit·e^{b(p)}).
// Where the phase runs on, the first model is about 3 dB better; where it
// does not (a transmitter switching between two oscillators, fast fading,
// just after the tuning jumped) the second explains the signal and takes
// over. The characters the decoder decides teach both the frequency estimate
// and the choice of model.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "dsp/char_detector.h"
#include "dsp/fine_frequency.h"
#include "dsp/model_choice.h"

namespace brontel {

// One received bit as the demodulator saw it.
struct TBitObservation {
  double Soft = 0.0;      // log-likelihood ratio, > 0 for the higher tone
  TToneCorr Tones{};      // each tone's complex amplitude over the bit, referred to its start
  // The same over the bit's window moved TCharTiming::Step samples earlier
  // and later (ShiftedToneCorrelation); both zero when not measured.
  TToneCorr Early{}, Late{};
  double Amplitude = 0.0; // the signal's amplitude in a tone correlation
  double Noise = 0.0;     // noise power of a tone correlation; 0: the tones are not known
  double Period = 21.0;   // samples per bit (2100 samples per second)
  double OffsetHz = 0.0;  // the demodulator's frequency correction when the bit was received
};

class TCharScores {
public:
  static constexpr int Services = 2;
  static constexpr int HistLen = 1024;    // bits kept, a power of two
  static constexpr int MaxPatterns = 128;
  // A bit whose power is this many times the signal and noise expected is
  // cut down to it (something else hit it).
  static constexpr double OutlierPower = 6.0;

  // units[s]: bits per character of service s; patterns[s]: the tone
  // patterns scored (bit j is the j-th bit received, 1 the higher tone; at
  // most MaxPatterns, repeats kept once).
  TCharScores(const std::array<int, Services>& units, const std::array<std::vector<uint16_t>, Services>& patterns);

  // Index of a pattern in the scores of service s, −1 if it is not scored.
  int PatternIndex(int service, uint16_t pattern) const;
  int PatternCount(int service) const { return det_[static_cast<std::size_t>(service)].WordCount(); }

  // Bit number Bits() with the soft value the decoder took (clipped); the
  // windows ending at it are scored for the services whose bit is set in
  // `services` (bit s for service s), the others get no whole-character score.
  void Push(const TBitObservation& bit, double llr, unsigned services);
  int64_t Bits() const { return bits_; }

  // Whether the window of service s ending at bit `end` has scores, and
  // then e^{s(p) − Offset(s, end)} for every pattern p.
  bool Scored(int service, int64_t end) const;
  const float* Values(int service, int64_t end) const;
  double Offset(int service, int64_t end) const;

  // The window's scores recomputed with what is known now: c(p) and b(p)
  // as above, and Ref, the reference's log-likelihood against noise alone
  // (added to an evidence, it is measured against noise). False when the
  // window's tones are not known (or the window has left the history).
  struct TCopy {
    std::array<double, MaxPatterns> Char{}, Bit{};
    double Ref = 0.0;
    // The signal's energy over the noise in the window (bits·a²/u, the
    // noise bounded as in the scores): the log-likelihood of a pattern
    // against noise alone is its score + Ref − Energy (the scores leave out
    // this term, common to all patterns).
    double Energy = 0.0;
    // The same at the level the characters decided lately were received
    // with (at least Energy): what a window must show to be the station's
    // signal rather than noise, whose own level estimate is small but not 0.
    double StationEnergy = 0.0;
  };
  bool Rescore(int service, int64_t end, TCopy& out);

  // ln(q_char·e^c + q_bit·e^b) with the current weights (each at least MinShare).
  double Mix(double c, double b) const;
  // The log of model m's share in the mixture: its weight, never below
  // MinShare. A model the choice has all but ruled out still takes over a
  // character it explains far better: when the tone frequencies estimated
  // for the whole-character model go astray in the noise (or the phase stops
  // running on), the per-bit model carries the characters until the choice
  // has turned, rather than the signal being lost meanwhile.
  double LogShare(int model) const;
  static constexpr double MinShare = 0.05;
  static constexpr double LevelMemory = 16.0;  // copies over which the station's level is averaged

  // A character decided from the windows ending at bits `first` and `end`
  // (its patterns pa and pb) with probability `posterior`, and the evidence
  // of both copies under each model (against noise alone).
  void Learn(int service, int64_t first, uint16_t pa, int64_t end, uint16_t pb, double posterior, double evidenceChar,
             double evidenceBit);

  const TFineFrequency& Fine() const { return fine_; }
  // Measurement harnesses: score every window with these tone frequencies
  // (Hz in the baseband) instead of the estimate; NaN returns to the estimate.
  void PinTones(double highHz, double lowHz) { pinHigh_ = highHz, pinLow_ = lowHz; }
  const TModelChoice& Choice() const { return choice_; }
  const TCharTiming& Timing() const { return timing_; }

private:
  struct TBit {
    TBitObservation Obs;
    double Lp0 = 0.0, Lp1 = 0.0;  // ln(2·P(lower tone)), ln(2·P(higher tone)) from the soft value
  };
  const TBit& At(int64_t k) const { return hist_[static_cast<std::size_t>(k) & (HistLen - 1)]; }
  // Bit k's tone correlations where the timing estimate places its window.
  TToneCorr Tones(int64_t k) const
  {
    const TBitObservation& o = At(k).Obs;
    return ToneCorrelationAt(o.Early, o.Tones, o.Late, TCharTiming::Step, timing_.Offset(), timingTurn_);
  }
  // The window of service s ending at bit `end`: its channel, or false when
  // a bit's tones are unknown.
  bool Channel(int service, int64_t end, TCharChannel& ch) const;
  // c(p) and b(p) of that window into `c` and `b`; returns the reference.
  double Compute(int service, int64_t end, const TCharChannel& ch, double* c, double* b);

  std::array<int, Services> unit_{};
  std::array<TCharDetector, Services> det_;
  std::array<std::vector<int16_t>, Services> index_;  // pattern → index
  std::vector<TBit> hist_;
  // Per service and bit: scored?, the offset and the values.
  std::array<std::vector<uint8_t>, Services> scored_;
  std::array<std::vector<double>, Services> offset_;
  std::array<std::vector<float>, Services> values_;
  std::array<double, MaxPatterns> c_{}, b_{};  // scratch
  // Scratch of Compute(): the per-bit log-likelihoods summed over the first
  // four bits of a pattern and over the rest, indexed by those bits.
  std::array<double, 16> lo_{};
  std::array<double, 1 << (chardet::MaxBits - 4)> hi_{};
  int64_t bits_ = 0;
  double lastOffset_ = 0.0;  // frequency correction of the newest bit
  double pinHigh_ = std::numeric_limits<double>::quiet_NaN(), pinLow_ = pinHigh_;
  TFineFrequency fine_;
  TCharTiming timing_;
  std::complex<double> timingTurn_{1.0, 0.0};  // TimingTurn() of the timing estimate
  double level_ = 0.0;  // a²/u of the characters decided lately, weighted by how sure they were
  TModelChoice choice_{2};
  std::array<double, 2> logShare_{};  // LogShare() of both models, kept with the choice
  void Share();
};

}  // namespace brontel
