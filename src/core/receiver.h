// The per-block driver: one capture block through the whole chain.
#pragma once

#include <cstdint>
#include <span>

#include "core/receiver_state.h"

namespace brontel {

// Start-up constants of the chain (the resonator coefficients). Call once
// before the first block.
void InitFrontEndConstants(TReceiver& rx);

// Runs one block of FramesPerBlock interleaved 16-bit stereo frames (left
// first) through the chain: split, channel 0's front end and decoder, then the
// eye pattern and, while DispSpectrum is on, the spectrum.
void ProcessBlock(TReceiver& rx, std::span<const int16_t, BlockSamples> block);

// The chain for one channel of the current block (WorkBuf already filled).
void ProcessChannel(TReceiver& rx, int ch);

}  // namespace brontel
