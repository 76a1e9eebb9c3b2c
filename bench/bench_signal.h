// The input every benchmark runs on: an English NAVTEX emission with noise
// (20 dB in 500 Hz), as interleaved stereo blocks with the signal on the left.
#pragma once

#include <array>
#include <vector>

#include "core/receiver_state.h"
#include "signal/navtex_signal.h"

namespace brontel::bench {

using TBlockPcm = std::array<int16_t, BlockSamples>;

inline const std::vector<TBlockPcm>& NavtexBlocks()
{
  static const auto blocks = [] {
    std::vector<uint8_t> codes;
    std::string err;
    gen::EnglishCodes("ZCZC OA01\nSECURITE. NAVAREA WARNING 123. BUOY OFF STATION.\nNNNN\n", codes, err);
    gen::TEmission e;
    e.PhasingSeconds = 10;
    gen::TFskParams p;
    p.SnrDb = 20.0;
    const auto pcm = gen::ModulateFsk(gen::EmissionBits(codes, e), p);
    std::vector<TBlockPcm> out(pcm.size() / FramesPerBlock);
    for (std::size_t b = 0; b < out.size(); ++b)
      for (int j = 0; j < FramesPerBlock; ++j) {
        out[b][2 * j] = pcm[b * FramesPerBlock + j];
        out[b][2 * j + 1] = 0;
      }
    return out;
  }();
  return blocks;
}

}  // namespace brontel::bench
