// Blanking of impulses (static crashes) in a complex baseband stream.
//
// The power of each sample is compared with a reference that impulses cannot
// move: the median power of each block of samples, and the largest of the
// last three such medians. A crash fills less than half a block, so it leaves
// the medians alone; the keyed signal's own swings of power (a carrier beating
// with one tone, even cancelling it for a few bits) stay within the three
// blocks; a receiver's AGC cutting the gain after a crash is followed within
// three blocks. A sample far above
// the reference is an impulse and is put out as zero, together with the
// sample before it (the output is one sample late) and a few samples after
// it, where the edges of a burst hide below the threshold. Only an abrupt
// jump starts such a run: a signal rising out of a fade is no crash. A run of
// "impulses" longer than any crash is a new level (a signal has started): it
// is let through until the reference has caught up with it.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <span>

namespace brontel {

// The value that would stand at place k were `values` sorted (none may be
// NaN); `values` is left reordered. As std::nth_element, but each pass
// moves every value without a branch on it: a median of noise powers took
// a third longer through the library's mispredicted branches.
double TakeKthSmallest(std::span<double> values, std::size_t k);

class TImpulseBlanker {
public:
  static constexpr int BlockSamples = 64;    // samples per median (30 ms at 2100 Hz)
  static constexpr double Threshold = 9.0;   // an impulse is above this many times the median power (9.5 dB; 6 times the mean of noise)
  static constexpr int HangSamples = 6;      // samples blanked after the last impulse sample (the tail of a ringing burst)
  static constexpr double OnsetJump = 4.0;   // a run starts with a sample this many times the mean of the four before it
  static constexpr int LongestRun = 32;      // samples; a longer run is a new level …
  static constexpr int RunGap = 3;           // … a run ending only after more quiet samples in a row than this

  TImpulseBlanker() { Reset(); }
  void Reset();

  // Takes a sample and returns the one before it, blanked or not.
  std::complex<double> Step(std::complex<double> in);

  bool LastBlanked() const { return lastBlanked_; }  // whether the sample just returned was blanked
  double Reference() const { return reference_; }    // the median power impulses are measured against
  uint64_t Blanked() const { return blanked_; }

private:
  std::complex<double> prev_{};
  bool prevFlag_ = false, lastBlanked_ = false;
  std::array<double, BlockSamples> block_{};
  std::array<double, 3> medians_{};
  std::array<double, 4> last_{};  // the latest sample powers
  int fill_ = 0, blocks_ = 0, run_ = 0, hang_ = 0, newLevelBlocks_ = 0, below_ = 0, lastPos_ = 0;
  double reference_ = 0.0;
  uint64_t blanked_ = 0;
};

}  // namespace brontel
