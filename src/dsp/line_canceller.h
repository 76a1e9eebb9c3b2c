// Removal of steady carriers from the complex baseband of the tone pair.
//
// Every 0.37 s the spectrum of the output (what is left after the lines
// already tracked are removed, taken at a third of the rate: the channel
// filter ahead has left little above ±350 Hz) is searched for narrow lines
// that stand far above the spectrum around them and stay in place for two
// looks.
// Each line found gets its own oscillator; its complex amplitude is the
// average of the input turned down by that oscillator, and the oscillator
// follows the slow turning of that average. The line is subtracted from every
// sample.
//
// The keyed signal must not be taken for a line (a transmitter that switches
// two free-running oscillators puts half of each tone's amplitude into a line
// on the tone). So the amplitude of a line above the centre is averaged only
// over samples where the lower tone is being sent, and that of a line below
// the centre only where the higher tone is: there the signal has nothing at
// the line's frequency, a carrier has. A line is removed only while it is
// steady: its averages over consecutive blocks of a few bits agree (another
// station's keyed tones make lines that come and go with its bits). The caller says which tones are heard
// `Delay` samples back; the averages are taken there. (Not even without a
// signal are all samples taken: a keyed signal is known only once it is
// heard, and its own lines must not be removed before that.)
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

#include "dsp/simd.h"

namespace brontel {

class TLineCanceller {
public:
  using cplx = std::complex<double>;

  static constexpr int Delay = 10;                 // samples between a sample and the tone state given for it
  static constexpr int LookEvery = 3;              // every third output sample goes into the looks …
  static constexpr int FftSize = 256;              // … this many per look (0.37 s, 2.7 Hz per bin at 2100 Hz) …
  static constexpr int LookHop = FftSize / 2;      // … a look every this many (half overlapping, every 0.18 s)
  static constexpr int MaxLines = 8;               // lines tracked at once
  static constexpr double LineOverFloor = 20.0;    // a line stands this far above the geometric mean around it (13 dB) …
  static constexpr double MinShare = 0.1;          // … and holds this share of the whole spectrum's power (a keyed
                                                   // signal's own peaks stand high above a quiet floor, but share it)
  static constexpr int FloorBins = 24;             // bins on each side of a line for that mean
  static constexpr int LineBins = 3;               // bins on each side left out of it
  static constexpr double SearchHz = 280.0;        // lines are looked for within ±SearchHz of the centre
  static constexpr int AmplitudeSamples = 256;     // a line's amplitude: a running average weighing one sample
                                                   // 1 / AmplitudeSamples, …
  static constexpr int AmplitudeStart = 128;       // … started as a mean counting this many samples (six bits: a
                                                   // fresh estimate's error, coherent over a bit, adds 21/128 of the
                                                   // noise to a bit's correlation, −8 dB)
  static constexpr int SteadyBlock = 32;           // samples averaged per block (about three bits) …
  static constexpr double SteadyShare = 0.3;       // … consecutive blocks of a line removed differing by less than this
  static constexpr double WobbleSmooth = 0.25;     // weight of one pair of blocks in that measure
  static constexpr int TrackSamples = 256;        // samples between corrections of a line's frequency
  static constexpr double TrackGain = 0.5;         // share of the measured frequency error corrected
  static constexpr double DropBelow = 0.02;        // a line weaker than this share of the input power …
  static constexpr int DropLooks = 16;             // … for this many looks in a row (2.9 s) is dropped …
  static constexpr int MinUpdates = 32;            // … counting only looks with this many samples averaged
  static constexpr int BarLooks = 16;              // a dropped line's frequency is not taken again for this many looks …
  static constexpr double BarredRise = 4.0;        // … unless the spectrum there has risen this much since (6 dB: a
                                                   // carrier at a keyed tone's level brings four times the power of
                                                   // the line the tone itself makes there, half its amplitude)

  explicit TLineCanceller(double rate = 2100.0);
  void Reset();

  // One sample in, the same with the lines removed out. `highSent` and
  // `lowSent` say whether each tone is heard Delay samples back.
  cplx Step(cplx in, bool highSent, bool lowSent) { return Step(in.real(), in.imag(), highSent, lowSent); }
  // The same on the real and imaginary parts (a complex argument would be
  // packed through memory on every call).
  cplx Step(double inRe, double inIm, bool highSent, bool lowSent);

  // The centre of the signal's tone pair relative to 0 Hz: lines above it
  // are averaged where the lower tone is sent, lines below where the higher is.
  void SetSignalOffset(double hz);

  int Lines() const { return static_cast<int>(lines_.size()); }
  double LineHz(int i) const;     // frequency of line i relative to the centre
  double LinePower(int i) const;  // its power

private:
  struct TLine {
    cplx Step{1.0, 0.0}, Phasor{1.0, 0.0};  // oscillator
    cplx Back{1.0, 0.0};                      // the oscillator's turn over Delay samples, backwards
    double Omega = 0.0;                       // radians per sample
    cplx Amplitude{}, Checked{};
    cplx Block{}, LastBlock{};  // sums of the latest SteadyBlock samples averaged, and the block before
    int InBlock = 0;
    double Wobble = 0.0;        // smoothed difference of consecutive blocks, relative to their power
    int Weak = 0, Updates = 0;  // looks in a row it was weak; samples averaged since the last look
    int Averaged = AmplitudeStart;  // samples in its amplitude's mean (from AmplitudeStart up to AmplitudeSamples)
    bool Above = true;  // above the signal's centre: averaged where the lower tone is sent
  };
  struct TBarred {
    double Omega;
    int Looks;
    double Power;  // the spectrum's power there when it was dropped
  };

  void Look();
  void SetOmega(TLine& line, double omega);

  double rate_;
  double signalOmega_ = 0.0;  // the signal's centre, radians per sample
  std::vector<TLine> lines_;
  std::vector<TBarred> barred_;
  std::array<cplx, FftSize> buffer_{};
  std::array<double, Delay + 1> historyRe_{}, historyIm_{};  // the latest inputs
  std::array<double, FftSize> window_{}, power_{}, candidate_{};
  std::array<simd::V2, FftSize / 2> turn_{}, turnSwapped_{};  // the transform's twiddle factors (see the .cpp)
  int fill_ = 0, pos_ = 0, sinceTrack_ = 0, skip_ = 0, sinceLook_ = 0;
  bool averaged_ = false;
  double inPower_ = 0.0;  // mean input power over the last look
  double inSum_ = 0.0;
};

}  // namespace brontel
