// The robust demodulator's bit timing: a second-order loop on a zero-crossing
// (Gardner) timing error.
//
// At a change of tone the tone difference of a one-bit correlator read half a
// bit before the bit instant is zero when the instants are right; its sign,
// times the direction of the change, says early or late. The change is taken
// from the soft decisions (tanh of half the log-likelihood ratio), which keeps
// amplitude noise out of the error. The loop narrows as the signal weakens
// (full width from 15 dB Eb/N0, WidthMin of it at 8 dB and below) and once the
// signal has been held for a while, keeping its damping (the integral gain
// falls with the square of the width). With no signal for long the period
// drifts back to the nominal one.
#pragma once

namespace brontel {

class TTimingLoop {
public:
  static constexpr double NominalPeriod = 21.0;          // samples per bit (100 Bd at 2100 Hz)
  static constexpr double MinPeriod = 20.0, MaxPeriod = 22.0;  // samples: ±5 % of the bit rate
  // Proportional gain (samples per unit of timing error) and integral gain
  // (samples per bit per unit of error), while acquiring and once tracking.
  static constexpr double AcquireKp = 0.6, AcquireKi = 0.01;
  static constexpr double TrackKp = 0.3, TrackKi = 0.003;
  static constexpr double WidthMin = 0.3;        // narrowest loop, as a fraction of the full width
  static constexpr double FullWidthDb = 15.0;    // Eb/N0 (dB) from which the loop has its full width …
  static constexpr double WidthSpanDb = 10.0;    // … narrowing in proportion to the dB below it, to nothing this far below
  static constexpr double MaxError = 2.0;        // the mid-bit difference counts at most this many times the power
  static constexpr double Homing = 0.01;         // share of the way back to the nominal period per bit without a signal

  TTimingLoop() { Reset(); }
  void Reset();

  // One sample: true when a bit instant falls within it; Late() then says how
  // far (samples, 0 … 1) the sample lies past the instant.
  bool Step()
  {
    until_ -= 1.0;
    return until_ <= 0.0;
  }
  double Late() const { return -until_; }

  // The bit instant. `midHigh2`, `midLow2`: the tone correlators' powers half
  // a bit before it; `power`: the mean power of both over recent bits (the
  // scale of the difference); `llr`: the bit's log-likelihood ratio; `hit`:
  // the bit lost samples to the impulse blanker (no error is taken);
  // `ebn0`: Eb/N0 (linear); `acquiring`: the signal is new (the wider
  // gains); `holding`: a signal is heard or was until lately (otherwise the
  // period drifts home).
  void Bit(double midHigh2, double midLow2, double power, double llr, bool hit, double ebn0, bool acquiring,
           bool holding);

  double Period() const { return period_; }   // samples per bit
  void SetPeriod(double period) { period_ = period; }  // a measured rate (within MinPeriod … MaxPeriod)

private:
  double period_ = NominalPeriod, until_ = NominalPeriod;
  double prevDecision_ = 0.0;
};

}  // namespace brontel
