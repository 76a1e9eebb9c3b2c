#include "session/receiver_session.h"

#include <utility>

namespace brontel {

TReceiverSession::TReceiverSession(TSessionOptions options) : Rx(std::make_unique<TReceiver>())
{
  Rx->CentF = options.CentF;
  if (options.RobustBeside || options.Decoder == TDecoderPath::Robust) StartRobustPath(*Rx);
  Rx->Shown = options.Decoder;
  SetSink(options.Sink);
  Rx->DispSpectrum = options.DispSpectrum;
  Rx->DispEyepattern = options.DispEyepattern;
  if (options.Displays) {
    Disp = std::make_unique<TDisplays>(*Rx, options.Labels, std::move(options.Views));
    Rx->Displays = Disp.get();
  }
}

TReceiverSession::~TReceiverSession()
{
  Rx->Displays = nullptr;
  Rx->Text.Sink = nullptr;
  Rx->RobustText.Sink = nullptr;
}

void TReceiverSession::SetSink(TTextSink* sink)
{
  Sink = sink;
  Rx->Text.Sink = Rx->Shown == TDecoderPath::Exact ? sink : nullptr;
  Rx->RobustText.Sink = Rx->Shown == TDecoderPath::Robust ? sink : nullptr;
}

void TReceiverSession::SetDecoder(TDecoderPath path)
{
  if (path == TDecoderPath::Robust) StartRobustPath(*Rx);
  Rx->Shown = path;
  SetSink(Sink);
}

const TTextStore& TReceiverSession::Text() const { return PathText(*Rx, Rx->Shown); }

const std::string& TReceiverSession::LineText() const
{
  return Rx->Shown == TDecoderPath::Robust ? Rx->Robust->LineText() : Rx->Channels[0].LineText;
}

void TReceiverSession::Finish()
{
  if (Rx->Robust) Rx->Robust->Finish(Rx->RobustText);
}

void TReceiverSession::ProcessBlock(std::span<const int16_t, BlockSamples> block) { brontel::ProcessBlock(*Rx, block); }

}  // namespace brontel
