// A receiver ready to run: the chain, its text sink and, when asked for, its
// displays, wired together once. The window, brontel-decode, the tests and
// the benchmarks all start a receiver this way.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "core/receiver.h"
#include "display/displays.h"

namespace brontel {

class TTextRenderer;

struct TSessionOptions {
  double CentF = 800.0;            // centre of the received tone pair, Hz
  TTextSink* Sink = nullptr;       // receives the text (null: none); must outlive the session
  bool Displays = false;           // run the spectrum, waterfall and eye-pattern displays
  TTextRenderer* Labels = nullptr; // draws the displays' labels (null: no text); must outlive the session
  TDisplayViews Views;             // where the displays' presented frames go
  bool DispSpectrum = true;        // the two display switches at start
  bool DispEyepattern = true;
};

class TReceiverSession {
public:
  explicit TReceiverSession(TSessionOptions options = {});
  ~TReceiverSession();
  TReceiverSession(const TReceiverSession&) = delete;
  TReceiverSession& operator=(const TReceiverSession&) = delete;

  // One block of FramesPerBlock interleaved 16-bit stereo frames, left first.
  void ProcessBlock(std::span<const int16_t, BlockSamples> block);

  void SetCentF(double hz) { Rx->CentF = hz; }
  void SetSink(TTextSink* sink) { Rx->Text.Sink = sink; }

  TReceiver& Receiver() { return *Rx; }
  const TReceiver& Receiver() const { return *Rx; }
  const TChannelState& Channel(int ch = 0) const { return Rx->Channels[ch]; }
  // The displays, or null when the session runs without them.
  TDisplays* Displays() { return Disp.get(); }
  const TDisplays* Displays() const { return Disp.get(); }

private:
  std::unique_ptr<TReceiver> Rx;
  std::unique_ptr<TDisplays> Disp;
};

}  // namespace brontel
