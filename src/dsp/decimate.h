// Anti-alias low-pass and decimation by 10, 44100 Hz to 4410 Hz.
#pragma once

#include <span>

#include "dsp/coefficients.h"
#include "dsp/fir.h"
#include "dsp/rates.h"

namespace brontel {

struct TDecimator {
  TFirHistory<DecimTaps> DecimHist{};  // anti-alias history at 44100 Hz, entry 0 newest
};

// Filters a block's raw samples through DecimCoef and writes the decimated
// samples: output m is the filter output after input 10m + 9; only those
// outputs are computed.
void Decimate(TDecimator& d, std::span<const double, FramesPerBlock> in, std::span<double, BlockLen> out);

}  // namespace brontel
