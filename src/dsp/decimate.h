// Anti-alias low-pass and decimation by 10, 44100 Hz to 4410 Hz.
#pragma once

#include "core/receiver_state.h"

namespace brontel {

// Filters the block's 4410 raw samples in WorkBuf through DecimCoef and leaves
// the 441 decimated samples in WorkBuf[0 … 440]. Decimated sample m is the
// filter output after input 10m + 9; only those outputs are computed.
void Decimate(TReceiver& rx, int ch);

}  // namespace brontel
