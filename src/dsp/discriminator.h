// FSK demodulator: Hilbert transformer, phase differences, post-detection low-pass.
#pragma once

#include <span>

#include "dsp/coefficients.h"
#include "dsp/fir.h"
#include "dsp/rates.h"

namespace brontel {

// Discriminator scale: phase step of a 1500 Hz tone per decimated sample (rad)
// and the units of one radian of deviation.
inline constexpr double DiscOffset = TwoPi * IFFreq / DecimRate;  // 2.137137859584893
inline constexpr double DiscScale = 25000.0;

struct TDiscriminator {
  TFirHistory<HilbTaps> HilbHist{};  // Hilbert transformer input history, entry 0 newest
  double LastPhase = 0.0;            // phase of the last sample of the previous block
  TFirHistory<PostTaps> PostHist{};  // unfiltered deviation history, entry 0 newest
};

// Instantaneous phase of a sample from its in-phase and quadrature parts:
// atan2(i, q), or exactly 0.0 when either part is exactly zero.
double InstantPhase(double i, double q);

// Phase advance from phase p to phase x, in [0, 2π).
double PhaseStep(double p, double x);

// For a block of band-passed samples: the instantaneous phase of each and the
// filtered frequency deviation (about +3084.7 for 1585 Hz, −3084.7 for
// 1415 Hz, 0 for 1500 Hz).
void DiscriminateBlock(TDiscriminator& d, std::span<const double, BlockLen> in, std::span<double, BlockLen> phase,
                       std::span<double, BlockLen> disc);

}  // namespace brontel
