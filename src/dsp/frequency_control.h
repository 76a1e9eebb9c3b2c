// The frequency correction of the robust demodulator.
//
// Each tone correlator's output times its own conjugate a few samples
// earlier turns by the frequency error of that tone. Between two bit
// instants the products of both correlators are summed apart; at the bit
// instant they are weighed by how likely each tone was the one sent (so a
// steady carrier beside one tone counts only while that tone is sent, not all
// the time), smoothed, and, while a signal is heard and the products agree,
// steer the correction. Every product is pulled by whatever else the
// correlator holds, in proportion to its power and to the angle it turns by
// over the lag: a second station a few dB weaker with its tones 25 Hz away
// pulls a short-lag loop by 6 Hz. So once that loop has brought the error
// within a few hertz (settled), the error is read from products two bits
// apart, which the other station turns by far more, and each bit may move the
// correction only a little (less still once locked): a carrier that appears
// in the middle of a message cannot drag it away before the carrier canceller
// has it. With nothing heard for long, the correction fades back.
#pragma once

#include <complex>

namespace brontel {

class TFrequencyControl {
public:
  using cplx = std::complex<double>;

  static constexpr double Smooth = 0.04;         // weight of one bit in the smoothed product
  static constexpr double AcquireGain = 0.02;    // share of the measured error corrected per bit …
  static constexpr double TrackGain = 0.005;     // … and once locked
  static constexpr double SettleStep = 0.03;     // Hz per bit at most, once settled …
  static constexpr double TrackStep = 0.01;      // … and once locked
  static constexpr double Coherence = 0.4;       // below this the products are taken for noise
  static constexpr int ForgetBits = 500;         // nothing heard this long: the correction fades
  static constexpr double Fade = 0.995;          // … by this factor per bit
  static constexpr double MaxOffset = 75.0;      // Hz

  // `lagSamples` is the lag of the products, `rate` the sample rate.
  TFrequencyControl(int lagSamples, double rate) : lag_(lagSamples), rate_(rate) {}
  void Reset();

  // One sample: each correlator's output now, lagSamples earlier and
  // LongLag earlier.
  void Add(cplx high, cplx highLagged, cplx low, cplx lowLagged, cplx highLong, cplx lowLong)
  {
    longHigh_ += Product(high, highLong);
    longLow_ += Product(low, lowLong);
    // a·conj(b) written out (std::complex's product also handles infinities).
    lagHigh_ += cplx{high.real() * highLagged.real() + high.imag() * highLagged.imag(),
                     high.imag() * highLagged.real() - high.real() * highLagged.imag()};
    lagLow_ += cplx{low.real() * lowLagged.real() + low.imag() * lowLagged.imag(),
                    low.imag() * lowLagged.real() - low.real() * lowLagged.imag()};
    absHigh_ += 0.5 * (std::norm(high) + std::norm(highLagged));
    absLow_ += 0.5 * (std::norm(low) + std::norm(lowLagged));
  }

  // Once locked the error is read from products two bits apart: a weaker
  // station's tones beside the wanted ones turn by a larger angle over that
  // lag, so they pull the measured error by less (by nothing when they are a
  // whole number of half-bit-rates away); the lag's turn stays unambiguous
  // within ±LongRangeHz, far beyond what is left once the loop has acquired.
  static constexpr int LongLag = 42;             // samples (two bits at 2100 Hz)
  static constexpr double LongRangeHz = 25.0;    // half a turn over LongLag at 2100 Hz

  // The bit instant: `highChance` is how likely the higher tone was sent.
  // `present`: a signal is heard (the correction may move); `settled`: the
  // short-lag loop has had time to bring the error within ±LongRangeHz;
  // `locked`: the signal has been held for long (the smallest steps).
  // Returns the correction in Hz.
  double Bit(double highChance, bool present, bool settled, bool locked, bool hit, int absentBits);

  double Offset() const { return offset_; }

private:
  static cplx Product(cplx a, cplx b)  // a·conj(b)
  {
    return {a.real() * b.real() + a.imag() * b.imag(), a.imag() * b.real() - a.real() * b.imag()};
  }

  int lag_;
  double rate_;
  double offset_ = 0.0;
  cplx lagHigh_{}, lagLow_{}, vec_{};
  double absHigh_ = 0.0, absLow_ = 0.0, absAvg_ = 0.0;
  // The products two bits apart, and how likely each tone was sent in the
  // last two bits.
  cplx longHigh_{}, longLow_{}, longVec_{};
  double longAbs_ = 0.0, prevHigh_ = 0.5, prevHigh2_ = 0.5;
};

}  // namespace brontel
