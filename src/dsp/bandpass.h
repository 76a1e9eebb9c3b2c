// Channel band-pass, 1400 to 1600 Hz at 4410 Hz.
#pragma once

#include <span>

#include "dsp/coefficients.h"
#include "dsp/fir.h"
#include "dsp/rates.h"

namespace brontel {

struct TBandPass {
  TFirHistory<BandTaps> BandHist{};  // entry 0 newest
};

// Band-pass output of the block's mixed samples, each exactly as BandHist
// summed with BandCoef tap 0, 1, 2, … would give sample by sample.
void BandPassBlock(TBandPass& b, std::span<const double, BlockLen> in, std::span<double, BlockLen> out);

}  // namespace brontel
