// Mixer: moves the tone-pair centre from CentF to IFFreq (1500 Hz).
#pragma once

#include "core/receiver_state.h"

namespace brontel {

// Decimated sample m (0 … 440, in order): advance the oscillator phase by
// (1500 − CentF)·2π/4410, keep it in [0, 2π), multiply WorkBuf[m] by the cosine
// and copy the product to MixedBuf[m].
void MixSample(TReceiver& rx, int ch, int m);

}  // namespace brontel
