// The per-block driver: one capture block through the whole chain.
#pragma once

#include <cstdint>
#include <span>

#include "core/receiver_state.h"

namespace brontel {

// Runs one block of FramesPerBlock interleaved 16-bit stereo frames (left
// first) through the chain: split, channel 0's front end and decoder, then the
// eye pattern and, while DispSpectrum is on, the spectrum.
void ProcessBlock(TReceiver& rx, std::span<const int16_t, BlockSamples> block);

// The chain for one channel of the current block (WorkBuf already filled).
void ProcessChannel(TReceiver& rx, int ch);

// Sound was lost before the next block (`blocksLost` blocks of 0.1 s): what
// was received before the gap must not run on into what follows, so every
// active channel writes its line and looks for synchronisation afresh.
void NoteInputGap(TReceiver& rx, int blocksLost);

// Writes the channel's line to the memo if it holds text, then empties it and the edit.
void FlushLine(TReceiver& rx, int ch);
// Discards the channel's line and empties the edit.
void ClearLine(TReceiver& rx, int ch);

}  // namespace brontel
