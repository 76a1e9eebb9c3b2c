#include "dsp/bandpass.h"

namespace brontel {

void BandPassBlock(TBandPass& b, std::span<const double, BlockLen> in, std::span<double, BlockLen> out)
{
  FilterBlock(b.BandHist, BandCoef(), in, out);
}

}  // namespace brontel
