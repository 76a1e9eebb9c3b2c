// Fine estimate of the two tone frequencies from decided characters.
//
// Once a character's word is known, its continuous-phase waveform can be
// taken off the received bits: what is left of bit k, d_k = c_k·e^{−jφ_k}
// (c_k the correlation with the bit's tone, φ_k the phase the waveform
// reaches with the tone frequencies currently assumed), is the carrier
// itself, turning from bit to bit by 2π·T·ε for every bit of a tone that
// is ε Hz off. Products d_{k+L}·conj(d_k) over lags L = 1 … 6 are gathered
// (with forgetting) in bins by how many of the L bits between were the
// higher tone, the products over runs of one tone (bits k … k+L alike) in
// bins of their own: those keep their meaning even when the transmitter
// switches between two oscillators, the others then turn at random. A
// weighted least-squares fit of the coherent bins' angles gives the errors
// of both tones (first lag 1 over runs, which is unambiguous to ±50 Hz,
// then all bins, unwrapped around it: the longer lags carry the precision);
// its spread widens when the bins disagree beyond their own scatter, so a
// signal whose phase is not continuous does not show as locked.
// The estimate moves by the fit and the bins are turned to match, so they
// always describe what is left after the current estimate. Decision-
// directed carrier estimation with several lags, after Luise and
// Reggiannini's estimator for known symbols.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <span>

#include "dsp/char_detector.h"

namespace brontel {

class TFineFrequency {
public:
  // `memory`: characters over which the products are gathered.
  explicit TFineFrequency(double memory = 60.0);

  // One decided character: its bits' tone correlations (as from
  // ToneCorrelations, period `period` samples) and the word decided (bit k
  // the k-th bit received, 1 the higher tone); `weight` (0 … 1) how sure
  // the decision is.
  void Add(std::span<const TToneCorr> tones, uint16_t word, double period, double weight = 1.0);

  // Tone frequencies in the baseband, Hz (nominally +85 and −85).
  double HighHz() const { return high_; }
  double LowHz() const { return low_; }
  double OffsetHz() const { return 0.5 * (high_ + low_); }
  double ShiftHz() const { return high_ - low_; }
  // Standard deviation of the estimate (the larger of the two tones'), Hz;
  // large until enough characters have been seen.
  double SpreadHz() const { return spread_; }
  // The estimate is good to about ±1 Hz.
  bool Locked() const { return spread_ < LockSpreadHz; }

  // The baseband was moved by `hz` (the mixing oscillator retuned by that
  // much): the tones now lie `hz` lower.
  void Moved(double hz);

  // The channel with the estimated tones.
  TCharChannel Apply(TCharChannel ch) const;

  void Reset();

  static constexpr int MaxLag = 6;
  static constexpr double LockSpreadHz = 0.4;
  static constexpr double PriorHz = 3.0;     // a single fit moves the estimate by about this at most
  static constexpr double NominalHz = 2.0;   // the tones' spread about their nominal places, before any fit
  static constexpr double MaxErrorHz = 40.0; // the tones are held within this of their nominal place
  static constexpr double MaxAngleVar = 0.12; // bins whose angle varies more (rad²) are not fitted

private:
  struct TBin {
    std::complex<double> Sum;  // Σ d_{k+L}·conj(d_k)
    double Power = 0.0;        // Σ |d_{k+L}·conj(d_k)|²
    double Count = 0.0;        // products gathered
  };
  // The errors of both tones (Hz) that fit the bins, and the standard
  // deviation of the fit; false when the bins do not determine them.
  bool Fit(double& dHigh, double& dLow, double& spread) const;
  TBin& Bin(int lag, int high) { return bins_[static_cast<std::size_t>(lag * (lag + 1) / 2 - 1 + high)]; }
  const TBin& Bin(int lag, int high) const { return bins_[static_cast<std::size_t>(lag * (lag + 1) / 2 - 1 + high)]; }
  TBin& Run(int lag, bool high) { return runs_[static_cast<std::size_t>(2 * (lag - 1) + high)]; }
  const TBin& Run(int lag, bool high) const { return runs_[static_cast<std::size_t>(2 * (lag - 1) + high)]; }

  double keep_;
  double high_ = chardet::ToneHz, low_ = -chardet::ToneHz;
  double period_ = 21.0;
  double spread_ = 1e9;
  std::array<TBin, MaxLag * (MaxLag + 3) / 2> bins_{};  // lag L has L + 1 bins
  std::array<TBin, 2 * MaxLag> runs_{};                 // lag L over runs of the lower, the higher tone
};

}  // namespace brontel
