// A deterministic FSK test signal built from sin, without the generator
// library: phase-continuous tones CentF ± 85 Hz at 100 Bd, bit 1 the higher
// tone, bits from a fixed linear congruential sequence.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/receiver_state.h"

namespace brontel::test {

class TFskSource {
public:
  explicit TFskSource(double centF = 800.0, double amplitude = 8000.0, uint32_t seed = 2024)
      : CentF(centF), Amplitude(amplitude), Seed(seed)
  {
  }

  // The next block, the signal on the left channel and a different tone on
  // the right (which must not matter).
  void Next(std::array<int16_t, BlockSamples>& block)
  {
    for (int j = 0; j < FramesPerBlock; ++j, ++N) {
      if (N % 441 == 0) {
        Seed = Seed * 1664525u + 1013904223u;
        Bit = (Seed >> 27) & 1;
      }
      const double f = Bit ? CentF + 85.0 : CentF - 85.0;
      block[2 * j] = static_cast<int16_t>(std::lround(Amplitude * std::sin(Phase)));
      block[2 * j + 1] = static_cast<int16_t>(std::lround(3000.0 * std::sin(0.05 * static_cast<double>(N))));
      Phase += TwoPi * f / SampleRate;
      if (Phase >= TwoPi) Phase -= TwoPi;
    }
  }

private:
  double CentF, Amplitude;
  uint32_t Seed;
  long long N = 0;
  int Bit = 0;
  double Phase = 0.0;
};

}  // namespace brontel::test
