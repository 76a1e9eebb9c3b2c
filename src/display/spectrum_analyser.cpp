#include "display/spectrum_analyser.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace brontel {

void InitSpectrumTables(TSpectrumAnalyser& a)
{
  a.FftSize = FftLength;
  for (int k = 0; k < a.FftSize / 2; ++k) {
    a.FftCos[k] = std::cos(k * FftStep);
    a.FftSin[k] = -1 * std::sin(k * FftStep);
  }
  a.FftRev[0] = 0;
  int h = a.FftSize / 2;
  for (int len = 1; len < a.FftSize; len *= 2) {
    for (int i = 0; i < len; ++i) a.FftRev[i + len] = a.FftRev[i] + h;
    h /= 2;
  }
  for (int n = 0; n < a.FftSize; ++n) a.FftWindow[n] = 0.5 - 0.5 * std::cos(n * FftStep);
}

void AnalyseSpectrum(TSpectrumAnalyser& a, std::span<const double, BlockLen> mixed)
{
  const int N = FftLength;
  // 1. Age the window: positions 0 … 582 move to 441 … 1023.
  std::memmove(&a.SpecBuf[BlockLen], &a.SpecBuf[0], sizeof(double) * (N - BlockLen));
  // 2. The new block.
  for (int i = 0; i < BlockLen; ++i) a.SpecBuf[i] = mixed[i];
  // 3. Window.
  for (int i = 0; i < N; ++i) {
    a.FftRe[i] = a.SpecBuf[i] * a.FftWindow[i];
    a.FftIm[i] = 0.0;
  }
  // 4. In-place radix-2 decimation in frequency: natural-order input,
  //    bit-reversed output, no scaling.
  double* re = a.FftRe.data();
  double* im = a.FftIm.data();
  for (int h = N / 2, s = 1; s < N; h /= 2, s *= 2) {
    for (int g = 0; g < N; g += 2 * h) {
      int k = 0;
      for (int i = g; i < g + h; ++i, k += s) {
        const int j = i + h;
        const double aRe = re[i], aIm = im[i], bRe = re[j], bIm = im[j];
        const double dRe = aRe - bRe, dIm = aIm - bIm;
        re[i] = aRe + bRe;
        im[i] = aIm + bIm;
        re[j] = dRe * a.FftCos[k] - dIm * a.FftSin[k];
        im[j] = dRe * a.FftSin[k] + dIm * a.FftCos[k];
      }
    }
  }
  // 5. Levels, still in bit-reversed order.
  for (int i = 0; i < N; ++i) {
    const double x = re[i], y = im[i];
    a.SpecLevel[i] = (x == 0.0 || y == 0.0) ? 0.0 : 20 * std::log(std::sqrt(x * x + y * y));
  }
  // 6. Reorder into natural bin order.
  for (int i = 0; i < N; ++i) {
    const int r = a.FftRev[i];
    if (r > i) std::swap(a.SpecLevel[i], a.SpecLevel[r]);
  }
}

}  // namespace brontel
