// Measurement of the bit rate from the line it puts in the squared tone
// difference.
//
// The squared difference of the two tone correlators' powers peaks at every
// bit end, so it holds a line at the bit rate. Its component at the nominal
// rate (one turn per NominalPeriod samples) turns from one window to the next
// by an angle that measures the actual rate: turning by φ per window of W
// samples, 1/period = 1/NominalPeriod + φ/(2π·W). A timing loop narrow
// enough for weak signals is slow to find a rate error on its own; this
// tells it the rate when the loop's period is far from it. The turn is
// smoothed over windows, needs a coherent line (a line that keeps its angle
// from window to window, not noise), and three measurements in a row that
// agree before it counts.
#pragma once

#include <array>
#include <complex>

namespace brontel {

class TBitRateLine {
public:
  using cplx = std::complex<double>;

  static constexpr int NominalPeriod = 21;       // samples per bit at the nominal rate (100 Bd at 2100 Hz)
  static constexpr int Window = 1050;            // samples per measurement (0.5 s at 2100 Hz)
  static constexpr double Smooth = 0.3;          // weight of one window's turn in the smoothed turn
  static constexpr double Coherence = 0.7;       // |smoothed turn| over smoothed |turn| needed for a measurement
  static constexpr int WarmWindows = 4;          // windows before the first measurement
  static constexpr double Agree = 0.03;          // samples: successive measurements this close agree …
  static constexpr int AgreeRuns = 2;            // … this many times in a row (three measurements) before a correction
  static constexpr double AssistMin = 0.03;      // samples: a smaller disagreement with the loop is left to the loop …
  static constexpr double Spreads = 2.0;         // … and so is one within this many spreads of the measurement
  static constexpr double MinPeriod = 20.0, MaxPeriod = 22.0;  // samples: measurements outside are not taken

  TBitRateLine();
  void Reset();

  // One sample of the squared tone difference (weighed as the caller sees
  // fit; 0 for samples that tell nothing). True when a window has ended:
  // then EndWindow() must be called.
  bool Step(double v)
  {
    acc_ += cplx{v * rot_[index_].real(), v * rot_[index_].imag()};
    if (++index_ == NominalPeriod) index_ = 0;
    return ++count_ == Window;
  }

  // The end of a window: the bit period the timing loop should take, given
  // its own (`period`, samples) and whether a signal is heard (without one
  // nothing is corrected).
  double EndWindow(double period, bool present);

  double Measured() const { return last_; }  // the latest measured period, samples (0: none yet)

private:
  std::array<cplx, NominalPeriod> rot_{};  // e^{-j2πn/NominalPeriod}
  cplx acc_{}, prev_{}, turn_{};
  double mag_ = 0.0;
  int index_ = 0, count_ = 0, windows_ = 0, agree_ = 0;
  double last_ = 0.0;
};

}  // namespace brontel
