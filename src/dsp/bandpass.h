// Channel band-pass, 1400 to 1600 Hz at 4410 Hz.
#pragma once

#include "core/receiver_state.h"

namespace brontel {

// Replaces the block's 441 mixed samples in WorkBuf[0 … 440] by the band-pass
// output, each exactly as BandHist (entry 0 newest) summed with BandCoef tap
// 0, 1, 2, … would give sample by sample.
void BandPassBlock(TReceiver& rx, int ch);

}  // namespace brontel
