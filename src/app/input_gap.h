// Telling the receiver that sound was lost: what was received before the gap
// must not run on into what comes after it.
#pragma once

#include "core/receiver_state.h"

namespace brontel {

// `blocksLost` blocks of 0.1 s were lost before the next block: the line being
// received ends here.
void NoteInputGap(TReceiver& rx, int blocksLost);

}  // namespace brontel
