#include "app/input_gap.h"

#include "decoder/text_output.h"

namespace brontel {

void NoteInputGap(TReceiver& rx, int blocksLost)
{
  (void)blocksLost;
  FlushLine(rx, 0);
}

}  // namespace brontel
