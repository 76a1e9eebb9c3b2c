// Small helpers shared by the display tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/raster.h"

namespace brontel::test {

// A deterministic pseudo-random value in [−1, 1).
inline double Lcg(uint32_t& state)
{
  state = state * 1664525u + 1013904223u;
  return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
}

// 64-bit FNV-1a.
inline uint64_t Fnv1a(const void* data, std::size_t bytes, uint64_t h = 0xcbf29ce484222325ull)
{
  const auto* p = static_cast<const uint8_t*>(data);
  for (std::size_t i = 0; i < bytes; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

// FNV-1a of a raster's pixel bytes, row by row (padding excluded).
inline uint64_t RasterHash(const TRaster& r)
{
  uint64_t h = 0xcbf29ce484222325ull;
  for (int y = 0; y < r.Height(); ++y) h = Fnv1a(r.Row(y), 3 * static_cast<std::size_t>(r.Width()), h);
  return h;
}

// Golden values: recorded from the implementation as specified. A change
// means the numbers or the pixels have changed; check why before updating.
inline constexpr uint64_t GoldenSpecLevels = 0;
inline constexpr uint64_t GoldenSpectrumRaster = 0;
inline constexpr uint64_t GoldenEyeRaster = 0;

}  // namespace brontel::test
