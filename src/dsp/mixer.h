// Mixer: moves the tone-pair centre from centF to IFFreq (1500 Hz).
#pragma once

#include <span>

namespace brontel {

struct TMixer {
  double MixPhase = 0.0;  // oscillator phase, rad, in [0, 2π)
  double MixOsc = 0.0;    // oscillator value of the last sample
};

// One decimated sample: advances the oscillator phase by (1500 − centF)·2π/4410,
// keeps it in [0, 2π) and returns x times the cosine. centF: centre of the
// received tone pair, Hz.
double MixSample(TMixer& mix, double centF, double x);

// MixSample over a block, in order.
void MixBlock(TMixer& mix, double centF, std::span<const double> in, std::span<double> out);

}  // namespace brontel
