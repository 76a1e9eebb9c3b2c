// The frequency correction of the robust demodulator.
//
// Each tone correlator's output times its own conjugate a few samples
// earlier turns by the frequency error of that tone. Between two bit
// instants the products of both correlators are summed apart; at the bit
// instant they are weighed by how likely each tone was the one sent (so a
// steady carrier beside one tone counts only while that tone is sent, not all
// the time), smoothed, and, while a signal is heard and the products agree,
// steer the correction. Once the signal has been held for a while the loop is
// slowed and each bit may move the correction only a little: a carrier that
// appears in the middle of a message cannot drag it away before the carrier
// canceller has it. With nothing heard for long, the correction fades back.
#pragma once

#include <complex>

namespace brontel {

class TFrequencyControl {
public:
  using cplx = std::complex<double>;

  static constexpr double Smooth = 0.04;         // weight of one bit in the smoothed product
  static constexpr double AcquireGain = 0.02;    // share of the measured error corrected per bit …
  static constexpr double TrackGain = 0.005;     // … and once locked
  static constexpr double TrackStep = 0.01;      // Hz per bit at most, once locked
  static constexpr double Coherence = 0.4;       // below this the products are taken for noise
  static constexpr int ForgetBits = 500;         // nothing heard this long: the correction fades
  static constexpr double Fade = 0.995;          // … by this factor per bit
  static constexpr double MaxOffset = 75.0;      // Hz

  // `lagSamples` is the lag of the products, `rate` the sample rate.
  TFrequencyControl(int lagSamples, double rate) : lag_(lagSamples), rate_(rate) {}
  void Reset();

  // One sample: each correlator's output now and lagSamples earlier.
  void Add(cplx high, cplx highLagged, cplx low, cplx lowLagged)
  {
    // a·conj(b) written out (std::complex's product also handles infinities).
    lagHigh_ += cplx{high.real() * highLagged.real() + high.imag() * highLagged.imag(),
                     high.imag() * highLagged.real() - high.real() * highLagged.imag()};
    lagLow_ += cplx{low.real() * lowLagged.real() + low.imag() * lowLagged.imag(),
                    low.imag() * lowLagged.real() - low.real() * lowLagged.imag()};
    absHigh_ += 0.5 * (std::norm(high) + std::norm(highLagged));
    absLow_ += 0.5 * (std::norm(low) + std::norm(lowLagged));
  }

  // The bit instant: `highChance` is how likely the higher tone was sent.
  // Returns the correction in Hz.
  double Bit(double highChance, bool present, bool locked, bool hit, int absentBits);

  double Offset() const { return offset_; }

private:
  int lag_;
  double rate_;
  double offset_ = 0.0;
  cplx lagHigh_{}, lagLow_{}, vec_{};
  double absHigh_ = 0.0, absLow_ = 0.0, absAvg_ = 0.0;
};

}  // namespace brontel
