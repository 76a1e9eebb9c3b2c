#include "session/receiver_session.h"

#include <utility>

namespace brontel {

TReceiverSession::TReceiverSession(TSessionOptions options) : Rx(std::make_unique<TReceiver>())
{
  Rx->CentF = options.CentF;
  Rx->Text.Sink = options.Sink;
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
}

void TReceiverSession::ProcessBlock(std::span<const int16_t, BlockSamples> block) { brontel::ProcessBlock(*Rx, block); }

}  // namespace brontel
