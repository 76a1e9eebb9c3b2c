// Sample rates and block sizes of the receive chain.
#pragma once

#include <numbers>

namespace brontel {

inline constexpr int SampleRate = 44100;                      // capture rate, Hz
inline constexpr int FramesPerBlock = SampleRate / 10;        // frames per capture block (0.1 s)
inline constexpr int BlockSamples = 2 * FramesPerBlock;       // interleaved 16-bit stereo samples per block
inline constexpr int BlockBytes = 2 * BlockSamples;           // bytes per block
inline constexpr int DecimFactor = 10;                        // front-end decimation factor
inline constexpr int DecimRate = SampleRate / DecimFactor;    // 4410 Hz, every stage after decimation
inline constexpr int BlockLen = FramesPerBlock / DecimFactor; // 441 decimated samples per block
inline constexpr double SamplePeriod = 1.0 / DecimRate;       // decimated sample period, s
inline constexpr double IFFreq = 1500.0;                      // tone-pair centre after mixing, Hz
inline constexpr double TwoPi = 2.0 * std::numbers::pi;       // 6.283185307179586

static_assert(FramesPerBlock % DecimFactor == 0, "a block holds whole decimated samples");

}  // namespace brontel
