#include "dsp/fir.h"

#include <array>

namespace brontel {

namespace {

constexpr std::size_t Lanes = 8;

// Lanes outputs with stride 1: the eight inputs of one tap are contiguous.
void FirLanesContiguous(const double* coef, const std::size_t* nz, std::size_t nzCount,
                        const double* x, double* out)
{
  std::array<double, Lanes> acc{};
  for (std::size_t i = 0; i < nzCount; ++i) {
    const std::size_t k = nz[i];
    const double c = coef[k];
    const double* xk = x - k;
    for (std::size_t l = 0; l < Lanes; ++l) acc[l] += c * xk[l];
  }
  for (std::size_t l = 0; l < Lanes; ++l) out[l] = acc[l];
}

void FirLanesStrided(const double* coef, const std::size_t* nz, std::size_t nzCount,
                     const double* x, std::size_t stride, double* out)
{
  std::array<double, Lanes> acc{};
  for (std::size_t i = 0; i < nzCount; ++i) {
    const std::size_t k = nz[i];
    const double c = coef[k];
    const double* xk = x - k;
    for (std::size_t l = 0; l < Lanes; ++l) acc[l] += c * xk[l * stride];
  }
  for (std::size_t l = 0; l < Lanes; ++l) out[l] = acc[l];
}

double FirOne(const double* coef, const std::size_t* nz, std::size_t nzCount, const double* x)
{
  double acc = 0.0;
  for (std::size_t i = 0; i < nzCount; ++i) acc += coef[nz[i]] * x[-static_cast<std::ptrdiff_t>(nz[i])];
  return acc;
}

}  // namespace

void FirBlock(const double* coef, std::size_t taps, const double* line, std::size_t newest,
              std::size_t stride, std::size_t count, double* out, bool skipZeros)
{
  // Indices of the taps that take part, in increasing order.
  std::array<std::size_t, 256> nz{};
  std::size_t nzCount = 0;
  for (std::size_t k = 0; k < taps && nzCount < nz.size(); ++k)
    if (!skipZeros || coef[k] != 0.0) nz[nzCount++] = k;

  std::size_t m = 0;
  for (; m + Lanes <= count; m += Lanes) {
    const double* x = line + newest + m * stride;
    if (stride == 1)
      FirLanesContiguous(coef, nz.data(), nzCount, x, out + m);
    else
      FirLanesStrided(coef, nz.data(), nzCount, x, stride, out + m);
  }
  for (; m < count; ++m) out[m] = FirOne(coef, nz.data(), nzCount, line + newest + m * stride);
}

}  // namespace brontel
