// Blanking of impulses (static crashes) in a complex baseband stream.
//
// The power of each sample is compared with a running power that impulses
// cannot move: it is updated only by samples that are not impulses, each
// update limited to a few times the current power. A sample far above it is
// an impulse and is put out as zero, together with the sample before it (the
// output is one sample late) and a few samples after it, where the edges of
// a burst hide below the threshold. A run of "impulses" longer than any crash
// is a new level (a signal has started, a receiver's AGC has let go): it is
// taken as the running power from then on.
#pragma once

#include <complex>
#include <cstdint>

namespace brontel {

class TImpulseBlanker {
public:
  static constexpr double Threshold = 6.0;   // an impulse is above this many times the running power (7.8 dB)
  static constexpr int HangSamples = 3;      // samples blanked after the last impulse sample
  static constexpr int LongestRun = 32;      // samples; a longer run is a new level
  static constexpr double Smooth = 1.0 / 64.0;  // weight of one sample in the running power
  static constexpr double StepLimit = 4.0;      // one sample counts as at most this many times the running power
  static constexpr int StartSamples = 64;       // plain averaging before impulses are looked for

  TImpulseBlanker() { Reset(); }
  void Reset();

  // Takes a sample and returns the one before it, blanked or not.
  std::complex<double> Step(std::complex<double> in);

  bool LastBlanked() const { return lastBlanked_; }  // whether the sample just returned was blanked
  double Power() const { return power_; }
  uint64_t Blanked() const { return blanked_; }

private:
  std::complex<double> prev_{};
  bool prevFlag_ = false, lastBlanked_ = false;
  double power_ = 0.0;
  int seen_ = 0, run_ = 0, hang_ = 0;
  uint64_t blanked_ = 0;
};

}  // namespace brontel
