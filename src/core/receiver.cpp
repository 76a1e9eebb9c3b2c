#include "core/receiver.h"

namespace brontel {

void ProcessChannel(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  // No stage feeds back to an earlier one, so each stage runs over the whole
  // block before the next starts: every stage still sees its samples in order
  // and the numbers are those of a sample-by-sample loop.
  Decimate(s, s.WorkBuf, s.DecimBuf);
  MixBlock(s, rx.CentF, s.DecimBuf, rx.MixedBuf);
  BandPassBlock(s, rx.MixedBuf, s.BandBuf);
  DiscriminateBlock(s, s.BandBuf, s.PhaseBuf, s.DiscBuf);
  TimeBlock(s, s.DiscBuf, s.ClockBuf, s.SampleFlags, s);
  DecodeBits(s, s.Bits(), rx.Text);
}

void ProcessBlock(TReceiver& rx, std::span<const int16_t, BlockSamples> block)
{
  // Only the channels that are demodulated are taken out of the block.
  for (int c = 0; c < ActiveChannels; ++c) {
    auto& work = rx.Channels[c].WorkBuf;
    for (int j = 0; j < FramesPerBlock; ++j) work[j] = static_cast<double>(block[2 * j + c]);
  }
  for (int ch = 0; ch < ActiveChannels; ++ch) {
    if (rx.ExactRuns)
      ProcessChannel(rx, ch);
    else
      rx.Channels[ch].BitCount = 0;
    if (ch == 0 && rx.Robust) {
      rx.Robust->SetCentre(rx.CentF);
      rx.Robust->Process(rx.Channels[0].WorkBuf, rx.RobustText);
    }
    if (rx.Displays) rx.Displays->DrawEyePattern(ch, true, 0, rx.Channels[ch].BitCount);
  }
  if (rx.DispSpectrum && rx.Displays) {
    rx.Displays->AnalyseSpectrum();
    rx.Displays->DrawSpectrum();
  }
}

void StartRobustPath(TReceiver& rx)
{
  if (!rx.Robust) rx.Robust = std::make_unique<TRobustPath>(rx.CentF);
}

TDecoderStatus DecoderStatus(const TReceiver& rx, TDecoderPath path, int ch)
{
  if (path == TDecoderPath::Robust) {
    if (!rx.Robust) return {};
    return {rx.Robust->EngMode(), rx.Robust->Inverted(), rx.Robust->InSync()};
  }
  const TChannelState& s = rx.Channels[ch];
  return {s.EngMode, s.Inverted, s.InSync()};
}

TTextStore& PathText(TReceiver& rx, TDecoderPath path)
{
  return path == TDecoderPath::Robust ? rx.RobustText : rx.Text;
}

const TTextStore& PathText(const TReceiver& rx, TDecoderPath path)
{
  return path == TDecoderPath::Robust ? rx.RobustText : rx.Text;
}

void NoteInputGap(TReceiver& rx, int blocksLost)
{
  if (blocksLost <= 0) return;
  for (int ch = 0; ch < ActiveChannels; ++ch) {
    FlushLine(rx, ch);
    rx.Channels[ch].Sync = TSync::Hunting;
    rx.Channels[ch].KanjiCount = 0;
  }
  if (rx.Robust) rx.Robust->NoteGap(rx.RobustText);
}

void FlushLine(TReceiver& rx, int ch) { FlushLine(rx.Text, rx.Channels[ch].LineText); }
void ClearLine(TReceiver& rx, int ch) { ClearLine(rx.Text, rx.Channels[ch].LineText); }

}  // namespace brontel
