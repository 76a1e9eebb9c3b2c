#include "dsp/decimate.h"

#include <algorithm>

#include "dsp/coefficients.h"
#include "dsp/fir.h"

namespace brontel {

void Decimate(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  constexpr int Past = DecimTaps - 1;

  // The 50 inputs before the block, oldest first, then the block.
  std::array<double, Past + FramesPerBlock> line;
  for (int k = 0; k < Past; ++k) line[Past - 1 - k] = s.DecimHist[k];
  std::copy(s.WorkBuf.begin(), s.WorkBuf.end(), line.begin() + Past);

  FirBlock(DecimCoef().data(), DecimTaps, line.data(), Past + DecimFactor - 1, DecimFactor, BlockLen,
           s.WorkBuf.data());

  for (int k = 0; k < DecimTaps; ++k) s.DecimHist[k] = line[Past + FramesPerBlock - 1 - k];
}

}  // namespace brontel
