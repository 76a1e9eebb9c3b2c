// Small helpers shared by the display tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// When BRONTEL_DUMP_DIR is set, writes the raster there as NAME.ppm (binary
// PPM, red, green, blue), for looking at what a test drew.
inline void DumpRaster(const TRaster& r, const char* name)
{
  const char* dir = std::getenv("BRONTEL_DUMP_DIR");
  if (!dir) return;
  const std::string path = std::string(dir) + "/" + name + ".ppm";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fprintf(f, "P6\n%d %d\n255\n", r.Width(), r.Height());
  for (int y = 0; y < r.Height(); ++y)
    for (int x = 0; x < r.Width(); ++x) {
      const TColor c = r.Pixel(x, y);
      const unsigned char rgb[3] = {c.R, c.G, c.B};
      std::fwrite(rgb, 1, 3, f);
    }
  std::fclose(f);
}

// Golden values: recorded from this implementation. A change
// means the numbers or the pixels have changed; check why before updating.
inline constexpr uint64_t GoldenSpecLevels = 0xac5a459b0097e0efull;
inline constexpr uint64_t GoldenSpectrumRaster = 0x409b376527474860ull;
inline constexpr uint64_t GoldenEyeRaster = 0x445b9291b19ad9a1ull;

}  // namespace brontel::test
