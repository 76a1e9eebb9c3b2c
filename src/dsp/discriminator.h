// FSK demodulator: Hilbert transformer, phase differences, post-detection low-pass.
#pragma once

#include "core/receiver_state.h"

namespace brontel {

// Instantaneous phase of a sample from its in-phase and quadrature parts:
// atan2(i, q), or exactly 0.0 when either part is exactly zero.
double InstantPhase(double i, double q);

// Phase advance from phase p to phase x, in [0, 2π).
double PhaseStep(double p, double x);

// For the block's 441 band-passed samples in WorkBuf: replaces each by its
// instantaneous phase and writes the filtered frequency deviation to DiscBuf
// (about +3084.7 for 1585 Hz, −3084.7 for 1415 Hz, 0 for 1500 Hz).
void DiscriminateBlock(TReceiver& rx, int ch);

}  // namespace brontel
