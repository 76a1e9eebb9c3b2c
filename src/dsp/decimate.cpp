#include "dsp/decimate.h"

namespace brontel {

void Decimate(TDecimator& d, std::span<const double, FramesPerBlock> in, std::span<double, BlockLen> out)
{
  FilterBlock(d.DecimHist, DecimCoef(), in, out, DecimFactor);
}

}  // namespace brontel
