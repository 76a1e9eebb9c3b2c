#include "core/receiver.h"

#include "decoder/character_sync.h"
#include "dsp/bandpass.h"
#include "dsp/bit_timing.h"
#include "dsp/decimate.h"
#include "dsp/discriminator.h"
#include "dsp/mixer.h"

namespace brontel {

void InitFrontEndConstants(TReceiver& rx) { InitResonator(rx); }

void ProcessChannel(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  s.BitCount = 0;
  Decimate(rx, ch);
  // No stage feeds back to an earlier one, so each stage may run over the
  // whole block before the next starts: every stage still sees its samples in
  // order and the numbers are those of the sample-by-sample loop.
  for (int m = 0; m < BlockLen; ++m) MixSample(rx, ch, m);
  BandPassBlock(rx, ch);
  DiscriminateBlock(rx, ch);
  for (int m = 0; m < BlockLen; ++m) TimeSample(rx, ch, m);
  DecodeBits(rx, ch);
}

void ProcessBlock(TReceiver& rx, std::span<const int16_t, BlockSamples> block)
{
  for (int c = 0; c < ChannelCount; ++c) {
    auto& work = rx.Channels[c].WorkBuf;
    for (int j = 0; j < FramesPerBlock; ++j) work[j] = static_cast<double>(block[2 * j + c]);
  }
  for (int ch = 0; ch < ActiveChannels; ++ch) {
    ProcessChannel(rx, ch);
    if (rx.Displays) rx.Displays->DrawEyePattern(ch, true, 0, rx.Channels[ch].BitCount);
  }
  if (rx.DispSpectrum && rx.Displays) {
    rx.Displays->AnalyseSpectrum();
    rx.Displays->DrawSpectrum();
  }
}

}  // namespace brontel
