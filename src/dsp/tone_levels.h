// Signal and noise levels of the two tone correlators, bit by bit.
//
// The noise power u and the mean signal power a² come from two moments that
// need no bit decisions: with the tone powers h and l of a bit,
// E[h + l] = a² + 2u and E[4·h·l] = 4u(a² + u), whichever tone was sent and
// however the signal fades. Both moments are averaged over about two seconds;
// once they have settled, one bit moves them by at most a few times their
// value, so a burst that escaped the blanker cannot swamp them. A lasting
// change of level (a strong station ends, a receiver's gain is cut) would
// take the two-second averages many seconds to forget; the same moments
// over a quarter of a second take their place when they differ by a large
// factor.
//
// A receiver's AGC that clamps down on a crash lowers the signal and the noise
// together for a second or more. The power of the tone that was not sent
// (the smaller of the two) measures that change of gain: the mean of its
// logarithm over a few bits against its long-term mean (logarithms, so that
// neither a burst nor the AGC's swings can pull the reference). Small changes
// are taken for chance. The moments are taken at the
// long-term gain (each bit's powers divided by the gain of its time), and the
// local noise is the noise times the gain, so the bits heard while the AGC
// recovers keep their confidence. A fade lowers only the signal and leaves
// the gain alone.
//
// With a strong signal the moments take what spills from one bit into the
// next at a change of tone for noise (the estimate stops near 20 dB). Within
// a steady stretch of one tone the tone's amplitude does not change from bit
// to bit, so the difference of two such bits is noise alone; that noise is
// reported instead when it says the signal is strong.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace brontel {

class TToneLevels {
public:
  static constexpr double SlowBits = 200.0;     // averaging of the moments (2 s at 100 Bd)
  static constexpr double FastBits = 4.0;       // averaging of the power for the timing loop
  static constexpr uint64_t SettledBits = 10;   // bits before updates are limited
  static constexpr double StepLimit = 8.0;      // one bit counts as at most this many times the mean power
  static constexpr double ShortBits = 25.0;     // averaging of the moments that notice a lasting change of level
  static constexpr double LevelJump = 8.0;      // a change by this factor over ShortBits restarts the long averages
  static constexpr int GainBits = 16;           // bits in the local noise average
  static constexpr double GainReferenceBits = 1000.0;  // averaging of its long-term reference (10 s)
  static constexpr double GainSlack = 1.5;      // a gain within this factor of the long-term one is taken as the same …
  static constexpr double BitGainSlack = 3.0;   // … and this factor for the noise of a stretch of a few bits
  static constexpr double NoiseFloor = 0.05;    // rounding noise of 16-bit input in one correlator output
  static constexpr double SilentPower = 0.01;   // tone powers of a bit below this: no input at all
  static constexpr double QuietEbN0 = 100.0;    // Eb/N0 (20 dB) above which the noise of steady stretches is reported
  static constexpr uint64_t QuietBits = 50;     // … once this many such bits have been seen

  TToneLevels() { Reset(); }
  void Reset();

  // The tone powers of one bit (the other tone's leak removed); a bit without
  // input (their sum below SilentPower) is passed over.
  void Step(double high2, double low2);
  // The noise power of one correlator measured where no change of tone
  // spills into it (the squared difference of the magnitudes of two bits of
  // one steady tone).
  void StepQuiet(double noise2);

  double Noise() const { return noise_; }                    // long-term noise power per correlator
  double LocalNoise() const { return noise_ * gain_; }       // the same at the gain of the last bits
  double Signal() const { return signal_; }                  // long-term mean signal power
  // The noise and signal as reported: with a strong signal, the moments see
  // what spills over at every change of tone as noise; there the noise is
  // measured in steady stretches instead.
  double ReportedNoise() const;
  double ReportedSignal() const { return std::max(0.0, slowP_ - 2.0 * ReportedNoise()); }
  double MeanPower() const { return slowP_; }                // long-term mean of h + l (at the long-term gain)
  double FastPower() const { return fastP_; }                // mean of h + l over the last bits
  double Gain() const { return gain_; }                      // receiver gain of the last bits over the long-term, power
  // The noise of a stretch of bits whose weaker tones have the mean log power
  // `offLogMean` (the receiver's gain there measured as above).
  double NoiseAt(double offLogMean) const { return noise_ * GainFor(offLogMean, BitGainSlack); }
  // The log power of a bit's weaker tone, as NoiseAt() takes it.
  static double OffLog(double high2, double low2);
  uint64_t Bits() const { return bits_; }

private:
  double GainFor(double offLogMean, double slack) const;

  double slowP_ = 0.0, slowK_ = 0.0, fastP_ = 0.0;
  double shortP_ = 0.0, shortK_ = 0.0;
  double noise_ = NoiseFloor, signal_ = 0.0;
  std::array<double, GainBits> off_{};
  double offSum_ = 0.0, offMean_ = 0.0;  // of the log powers
  int offPos_ = 0;
  double gain_ = 1.0;
  double quiet_ = 0.0;
  uint64_t bits_ = 0, quietBits_ = 0;
};

}  // namespace brontel
