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
  TDecoderPath Decoder = TDecoderPath::Exact;  // the path whose text goes to the sink
  bool RobustBeside = false;       // run the robust path even while the exact path is shown
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
  // The sink of the shown path's text.
  void SetSink(TTextSink* sink);

  // Chooses the path whose text goes to the sink and whose status the labels
  // show (the robust path is started if needed). The sink is then told
  // nothing: the caller shows the new path's text (Text()) as it sees fit.
  void SetDecoder(TDecoderPath path);
  TDecoderPath Decoder() const { return Rx->Shown; }

  // The shown path's text, its line under construction and its status.
  const TTextStore& Text() const;
  const std::string& LineText() const;
  TDecoderStatus Status() const { return DecoderStatus(*Rx, Rx->Shown); }

  // End of input: the robust path decides the characters still waiting.
  void Finish();

  TReceiver& Receiver() { return *Rx; }
  const TReceiver& Receiver() const { return *Rx; }
  const TChannelState& Channel(int ch = 0) const { return Rx->Channels[ch]; }
  // The displays, or null when the session runs without them.
  TDisplays* Displays() { return Disp.get(); }
  const TDisplays* Displays() const { return Disp.get(); }

private:
  TTextSink* Sink = nullptr;
  std::unique_ptr<TReceiver> Rx;
  std::unique_ptr<TDisplays> Disp;
};

}  // namespace brontel
