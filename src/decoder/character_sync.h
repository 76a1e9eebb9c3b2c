// Character synchronisation and FEC of the SITOR-B collective broadcast:
// phasing, comparison of the two transmissions, mode and polarity detection.
#pragma once

#include <cstdint>

#include "core/receiver_state.h"

namespace brontel {

// Consumes BitBuf[0 … BitCount−1] of the channel in order; accepted characters
// go to HandleEngCode / HandleJisByte, faults end synchronisation.
void DecodeBits(TReceiver& rx, int ch);

// Character forms read out of the bit register (p = position of the newest bit).
int EngCode(const TChannelState& s, int p);     // 7-unit code, first bit received = bit 6
int EngWeight(const TChannelState& s, int p);   // ones among the seven bits
int JisData(const TChannelState& s, int p);     // the seven data bits, LSB received first
bool JisValid(const TChannelState& s, int p);   // check field counts the data's zero bits

// The four phasing patterns.
enum class TPhasing { None, English, EnglishInverted, Japanese, JapaneseInverted };
TPhasing FindPhasing(const TChannelState& s);

}  // namespace brontel
