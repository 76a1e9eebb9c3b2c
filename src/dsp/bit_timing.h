// Bit-clock recovery with a 100 Hz resonator, and bit taking.
#pragma once

#include "core/receiver_state.h"

namespace brontel {

// Computes ResC0, ResC1 and ResC2 from ResFreq, ResBandwidth and ResGain.
void InitResonator(TReceiver& rx);

// Decimated sample m (0 … 440, in order): rectify DiscBuf[m], run the
// resonator, read it 22 samples late, slice it into ClockBuf[m] and, on a
// rise of the sliced clock, take DiscBuf[m] >= 0 as a bit into BitBuf.
void TimeSample(TReceiver& rx, int ch, int m);

// Entry k of the resonator delay line (0 = newest).
double ClockDelayAt(const TChannelState& s, int k);

}  // namespace brontel
