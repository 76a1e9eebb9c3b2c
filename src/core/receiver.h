// The per-block driver: one capture block through the whole chain.
#pragma once

#include <cstdint>
#include <span>

#include "core/receiver_state.h"

namespace brontel {

// Runs one block of FramesPerBlock interleaved 16-bit stereo frames (left
// first) through the chain: split (the demodulated channels only), channel 0's
// front end and decoder (while rx.ExactRuns), then the
// robust path (when started) on the left channel, the eye pattern and,
// while DispSpectrum is on, the spectrum.
void ProcessBlock(TReceiver& rx, std::span<const int16_t, BlockSamples> block);

// The chain for one channel of the current block (WorkBuf already filled).
void ProcessChannel(TReceiver& rx, int ch);

// Starts the robust path beside the exact one (from the next block on); its
// text goes to rx.RobustText. Does nothing when it runs already.
void StartRobustPath(TReceiver& rx);

// The status of a path's decoder (the exact path: channel `ch`'s). A robust
// path that has not been started reports the fresh state.
TDecoderStatus DecoderStatus(const TReceiver& rx, TDecoderPath path, int ch = 0);

// The text store of a path.
TTextStore& PathText(TReceiver& rx, TDecoderPath path);
const TTextStore& PathText(const TReceiver& rx, TDecoderPath path);

// Sound was lost before the next block (`blocksLost` blocks of 0.1 s): what
// was received before the gap must not run on into what follows, so every
// active channel writes its line and looks for synchronisation afresh.
void NoteInputGap(TReceiver& rx, int blocksLost);

// Writes the channel's line to the memo if it holds text, then empties it and the edit.
void FlushLine(TReceiver& rx, int ch);
// Discards the channel's line and empties the edit.
void ClearLine(TReceiver& rx, int ch);

}  // namespace brontel
