// The robust demodulator: 44100 Hz audio in, one soft bit per received bit out.
//
// Front end: the input's running mean is removed, the tone-pair centre (plus
// the frequency correction) is mixed to 0 Hz by a complex oscillator and the
// result is decimated by 21 to 2100 Hz complex through a triangular window
// spanning two output periods (double zeros on every band that would fold onto
// the signal), then low-passed to ±325 Hz. Two sliding one-bit correlators at
// +85 Hz and -85 Hz give the complex amplitudes of the higher and the lower
// tone; their magnitudes, read at the bit instants, make a non-coherent
// decision whose soft value is a log-likelihood ratio computed from running
// estimates of the signal amplitude and of the noise power (both found from
// moments of the two magnitudes, without decisions).
//
// Bit timing: a second-order loop on a zero-crossing (Gardner) timing error
// (dsp/timing_loop.h), its width falling with the signal quality, helped by a
// bit-rate measurement from the bit-rate line of the squared tone difference
// (dsp/rate_line.h).
// Frequency: a lag-product estimate on both correlators steers the mixing
// oscillator while a signal is present.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dsp/frequency_control.h"
#include "dsp/impulse_blanker.h"
#include "dsp/line_canceller.h"
#include "dsp/rate_line.h"
#include "dsp/simd.h"
#include "dsp/timing_loop.h"
#include "dsp/tone_interference.h"
#include "dsp/tone_levels.h"

namespace brontel {

// Where a bit put out lies in the baseband and what the demodulator knew of it.
struct TBitPlace {
  double End = 0.0;       // its end, in baseband samples since the start (sample n covers [n − ½, n + ½))
  double Period = 21.0;   // its length, samples
  double Noise = 0.0;     // noise power of one bit's tone correlation around it
  double LevelHigh = 0.0, LevelLow = 0.0;  // each tone's power in a bit's correlation, noise removed
  double OffsetHz = 0.0;  // the frequency correction at its end
};

// Receives the demodulator's complex baseband: 2100 samples per second, the
// tone pair's centre at 0 Hz (the frequency correction applied), impulses
// blanked and carriers removed; the tones are at ±85 Hz. Bit() comes with
// every soft value put out, in the same order, once its samples have all
// been passed to Baseband().
class TBasebandSink {
public:
  virtual ~TBasebandSink() = default;
  virtual void Baseband(std::complex<double> sample) = 0;
  virtual void Bit(const TBitPlace&) {}
};

class TRobustDemod {
public:
  static constexpr int InputRate = 44100;        // input samples per second
  static constexpr int Decimation = 21;          // input samples per complex sample
  static constexpr int Rate = InputRate / Decimation;  // 2100 complex samples per second
  static constexpr int NominalBitLen = 21;       // complex samples per bit at 100 Bd
  static constexpr double MinCentre = 200.0, MaxCentre = 2000.0;
  static constexpr double MaxOffset = 75.0;      // frequency correction limit, Hz
  static constexpr double MaxLlr = 50.0;         // soft values are clamped to ±MaxLlr

  // The bit period is held between 20 and 22 complex samples (±5 % of 100 Bd),
  // so `samples` input samples never complete more than MaxBitsFor(samples)
  // bits (11 for a 4410-sample block).
  static constexpr std::size_t MinBitInputSamples = 20 * Decimation;  // 420
  static constexpr std::size_t MaxBitsFor(std::size_t samples) { return samples / MinBitInputSamples + 1; }

  explicit TRobustDemod(double centreHz = 800.0);

  // Centre of the tone pair, Hz; values outside 200 … 2000 (or NaN) are
  // brought to the nearest limit (NaN: 800). Resets the frequency correction.
  void SetCentre(double hz);
  double Centre() const { return centre_; }

  // Back to the state right after construction, keeping the centre (and
  // the baseband sink).
  void Reset();

  // Where every baseband sample goes as well (nullptr: nowhere). The sink
  // must outlive its use here.
  void SetBasebandSink(TBasebandSink* sink) { baseband_ = sink; }

  // Consumes `in` (mono 44100 Hz samples on the 16-bit scale; any count; a
  // value that is NaN or beyond ±40000 is taken as 0 and counted in
  // BadSamples()) and writes one soft value per completed bit to `out`:
  // positive for the higher tone, negative for the lower, magnitude an
  // approximate log-likelihood ratio. Returns the count written. When `out`
  // is shorter than the bits completed, the rest wait (up to PendingLimit, the
  // oldest dropped and counted beyond that) and come first in the next call;
  // an `out` of MaxBitsFor(in.size()) values never leaves any behind. The
  // values do not depend on how the input is cut into calls. A bit is put
  // out once the three bits after it have been received (its confidence
  // uses the signal level on both sides of it).
  std::size_t Process(std::span<const double> in, std::span<double> out);

  // --- Status ------------------------------------------------------------------
  double FrequencyOffset() const { return offset_; }  // correction applied, Hz
  double BitRate() const { return Rate / timing_.Period(); }  // tracked bit rate, Bd
  // Signal quality: estimated energy per bit over noise density (dB) and the
  // same as tone power over noise power in 500 Hz (dB); -99 when nothing is heard.
  double EbN0Db() const;
  double SnrDb() const;
  bool SignalPresent() const { return present_; }
  uint64_t BitsOut() const { return bitsOut_; }
  uint64_t BadSamples() const { return badSamples_; }
  uint64_t DroppedBits() const { return droppedBits_; }
  std::size_t Pending() const { return pendingCount_; }
  const TToneLevels& Levels() const { return levels_; }
  const TImpulseBlanker& Blanker() const { return blanker_; }
  const TLineCanceller& Canceller() const { return canceller_; }
  static constexpr std::size_t PendingLimit = 64;

private:
  using cplx = std::complex<double>;
  static constexpr int HistLen = 64;     // correlator history (complex samples)
  static constexpr int LagAfc = 10;      // lag of the frequency estimator, complex samples
  static constexpr int RotPeriod = 420;  // 85 Hz at 2100 Hz repeats every 420 samples

  void SetOscillator();
  std::size_t PartBlock(const double* x, std::size_t n);
  void Decimated(cplx in);
  void BitInstant(double frac);
  static double Llr(double rh2, double rl2, double power, double noiseHigh, double noiseLow);
  void Emit(double v);
  cplx HistAt(const std::array<cplx, HistLen>& h, double back) const;

  double centre_ = 800.0;
  double offset_ = 0.0;

  // Mixer and decimator.
  // Per position r in a block: w^r and (r + 1)·w^r (real, imaginary parts),
  // w the oscillator's step; one row is one vector.
  alignas(32) std::array<std::array<double, 4>, Decimation> mixTab_{};
  // What turns a block's sums into the decimator's output.
  struct TFrontEnd {
    cplx RotBlock{1.0, 0.0};     // w^21
    cplx Phasor{1.0, 0.0};       // oscillator phase at the block start
    cplx PrevRamp{};             // the previous block's ramp sum
    cplx DcPlain{}, DcRamp{};    // the block sums of a constant 1
    double Dc = 0.0;             // running mean of the input
    uint32_t Blocks = 0;         // blocks so far (up to 4096)
    // The output for a block's mixed sums (plain, ramp) and raw sum.
    cplx Output(double plainRe, double plainIm, double rampRe, double rampIm, double raw);
  };
  TFrontEnd front_;
  cplx afcPhasor_{1.0, 0.0}, afcStep_{1.0, 0.0};  // the frequency correction at 2100 Hz
  // This block's sums so far, even positions then odd: plain (re, im),
  // ramp (re, im), raw.
  std::array<double, 10> acc_{};

  TBasebandSink* baseband_ = nullptr;
  TImpulseBlanker blanker_;
  TLineCanceller canceller_{Rate};
  int sinceBlank_ = 0;  // complex samples since the last blanked one (saturating)

  // Channel low-pass at 2100 Hz.
  static constexpr int FirTaps = 31;
  std::array<double, FirTaps> fir_{};
  std::array<simd::V2, 2 * FirTaps> fir2_{};  // delay line, twice over: (re, im) per sample
  int firPos_ = 0;
  int inBlock_ = 0;

  // Tone correlators.
  std::array<cplx, RotPeriod> toneRot_{};  // e^{-j2π·85·n/2100}
  std::array<cplx, NominalBitLen> lineHigh_{}, lineLow_{};
  cplx accHigh_{}, accLow_{};
  int line_ = 0;
  int rotIndex_ = 0;
  std::array<cplx, HistLen> histHigh_{}, histLow_{};
  int hist_ = 0;  // index of the newest history entry

  TTimingLoop timing_;
  TBitRateLine rateLine_;

  // Tone powers of the latest bits, for the amplitude around the bit put out.
  static constexpr int AmpSpan = 7, AmpLead = AmpSpan / 2;
  std::array<double, AmpSpan> ampHigh_{}, ampLow_{}, ampWeight_{};
  std::array<bool, AmpSpan> ampValid_{};  // false for bits that lost samples to the blanker
  std::array<cplx, AmpSpan> ampTone_{};   // complex amplitude of the tone taken as sent
  std::array<double, AmpSpan> ampOffLog_{};  // log power of the weaker tone
  std::array<TBitPlace, AmpSpan> ampPlace_{};  // where each bit lies (for the baseband sink)
  uint64_t samples_ = 0;                       // baseband samples since the start
  int ampPos_ = 0, ampFill_ = 0;
  TToneInterference interference_;
  std::array<double, 2> toneNoise_{1.0, 1.0};  // its noise of each tone (higher, lower) as of the last bit

  TToneLevels levels_;
  bool present_ = false;
  double changes_ = 0.0, prevChance_ = 0.0;  // share of bits where the tone changed, recently

  // Frequency correction.
  TFrequencyControl afc_{LagAfc, Rate};
  int absentBits_ = 0, presentBits_ = 0;

  // Output.
  std::span<double> out_;
  std::size_t written_ = 0;
  std::array<double, PendingLimit> pending_{};
  std::size_t pendingHead_ = 0, pendingCount_ = 0;
  uint64_t bitsOut_ = 0, badSamples_ = 0, droppedBits_ = 0;
};

}  // namespace brontel
