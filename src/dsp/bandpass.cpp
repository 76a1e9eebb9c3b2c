#include "dsp/bandpass.h"

#include <algorithm>

#include "dsp/coefficients.h"
#include "dsp/fir.h"

namespace brontel {

void BandPassBlock(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  constexpr int Past = BandTaps - 1;

  std::array<double, Past + BlockLen> line;
  for (int k = 0; k < Past; ++k) line[Past - 1 - k] = s.BandHist[k];
  std::copy_n(s.WorkBuf.begin(), BlockLen, line.begin() + Past);

  FirBlock(BandCoef().data(), BandTaps, line.data(), Past, 1, BlockLen, s.WorkBuf.data());

  for (int k = 0; k < BandTaps; ++k) s.BandHist[k] = line[Past + BlockLen - 1 - k];
}

}  // namespace brontel
