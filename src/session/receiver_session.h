// The one place that runs a receiver. A front end (the window, brontel-decode,
// a test) feeds it blocks of sound and tells it when sound was lost; out of it
// come the shown text (a text sink), and events to its listeners: each block,
// each change of status, each loss of sound, each completed message and what
// the store made of it. Nothing above the session touches the receiver's
// stages.
//
//   TReceiverSession session(options);
//   session.AddListener(&printer);               // or AddListener(std::move(owned))
//   session.StartMessages(messageOptions, error); // assembly and the store, if wanted
//   while (source.ReadBlock(block)) session.ProcessBlock(block);
//   ... on lost sound: session.NoteGap(blocksLost);
//   session.Finish();
//
// The block clock: every block, and every block lost, is BlockSeconds of
// input; times in events are seconds since the first block.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/receiver.h"
#include "display/displays.h"
#include "messages/reception.h"

namespace brontel {

class TTextRenderer;

inline constexpr double BlockSeconds = static_cast<double>(FramesPerBlock) / SampleRate;

// Which input channel a receiver decodes.
enum class TInputChannel : uint8_t { Left, Right };

struct TSessionOptions {
  double CentF = 800.0;            // centre of the received tone pair, Hz
  TTextSink* Sink = nullptr;       // receives the shown text (null: none); must outlive the session
  bool Displays = false;           // run the spectrum, waterfall and eye-pattern displays
  TTextRenderer* Labels = nullptr; // draws the displays' labels (null: no text); must outlive the session
  TDisplayViews Views;             // where the displays' presented frames go
  bool DispSpectrum = true;        // the two display switches at start
  bool DispEyepattern = true;
  TDecoderPath Decoder = TDecoderPath::Exact;  // the path whose text goes to the sink
  bool RobustBeside = false;       // run the robust path even while the exact path is shown
  // Run the exact chain while the robust path is shown (its bits reach
  // BlockDone). A front end that reads nothing of the exact path sets false
  // and saves its work; it then starts, afresh, when it is first shown or
  // the displays need it, and runs from then on.
  bool ExactBeside = true;
  TInputChannel Channel = TInputChannel::Left;
  // Lost sound is marked in both paths' memo ("--- 5.2 s of audio lost ---").
  bool MarkGaps = true;
};

// What a receiver reports of itself.
struct TReceiverStatus {
  TDecoderStatus Decoder;  // the shown path's decoder
  bool Robust = false;     // the robust path runs; the fields below are its estimates
  bool Signal = false;     // a signal is heard
  double SnrDb = 0.0;      // in 500 Hz
  double OffsetHz = 0.0;   // tuning offset
  double BitRate = 0.0;    // Bd
};

// Status changes worth reporting: the decoder's state and a signal coming or
// going, at once; while a signal is heard, its SNR or tuning moving this far
// from the values last reported, at most once per SignalReportIntervalS of
// input, so that a listener sees live figures without a flood of them.
inline constexpr double SnrReportStepDb = 1.0;
inline constexpr double OffsetReportStepHz = 1.0;
inline constexpr double SignalReportIntervalS = 1.0;

// Whether a heard signal's SNR or tuning in `now` moved a reporting step from `was`.
bool SignalMoved(const TReceiverStatus& now, const TReceiverStatus& was);

struct TBlockEvent {
  uint64_t Index = 0;                // blocks before this one, lost ones included
  double End = 0.0;                  // the time at its end
  std::span<const uint8_t> Bits;     // the exact path's bits taken in it
};

struct TStatusEvent {
  double Time = 0.0;                 // end of the block that brought the change
  TReceiverStatus Now;
  const TReceiverStatus* Before = nullptr;  // null for the first report (before any input)
};

struct TGapEvent {
  double Start = 0.0;  // the time at which sound was lost
  int Blocks = 0;      // blocks of BlockSeconds lost
  double Seconds = 0.0;
};

struct TMessageEvent {
  const msg::TMessage& Message;  // as shown: for a repeat, merged with the stored copy
  bool Stored = false;           // committed to the store
  const std::string& Error;      // why it was not stored
  int Failures = 0;              // messages not stored so far in this run
};

struct TFinishEvent {
  double Time = 0.0;  // the end of input
};

// Listeners may leave any event unhandled. They are called on the thread that
// feeds the session, in the order they were added.
class TSessionListener {
public:
  virtual ~TSessionListener() = default;
  virtual void BlockDone(const TBlockEvent& e) { (void)e; }
  virtual void StatusChanged(const TStatusEvent& e) { (void)e; }
  virtual void SoundLost(const TGapEvent& e) { (void)e; }
  virtual void MessageDone(const TMessageEvent& e) { (void)e; }
  virtual void Finished(const TFinishEvent& e) { (void)e; }
};

class TReceiverSession {
public:
  explicit TReceiverSession(TSessionOptions options = {});
  ~TReceiverSession();
  TReceiverSession(const TReceiverSession&) = delete;
  TReceiverSession& operator=(const TReceiverSession&) = delete;

  // Listeners: one the caller keeps alive, or one the session owns.
  void AddListener(TSessionListener* listener);
  void AddListener(std::unique_ptr<TSessionListener> listener);
  // Reports the status as it stands (before any input) to the listeners.
  void ReportStatus();

  // Message assembly and storing. Messages are built from the robust path
  // when it runs from the start, else from the exact path, whatever is
  // shown; their decoder field says which. False with `error` when the store
  // cannot be opened.
  bool StartMessages(msg::TReceptionOptions options, std::string& error);
  // Hands on what the store made of the messages completed so far (this
  // happens after every block too); for a front end woken by
  // TReceptionOptions::OnOutcome while no blocks come.
  void PollMessages()
  {
    if (Reception) Reception->Poll();
  }
  bool HasMessages() const { return Reception != nullptr; }
  TDecoderPath MessagePath() const { return MsgPath; }
  int StoreFailures() const { return Reception ? Reception->StoreFailures() : 0; }

  // One block of FramesPerBlock interleaved 16-bit stereo frames, left first.
  void ProcessBlock(std::span<const int16_t, BlockSamples> block);
  // `blocks` blocks of sound were lost before the next block.
  void NoteGap(int blocks);
  // End of input: the decoders write what they still hold, open messages are
  // closed and stored, and the listeners hear Finished.
  void Finish();

  // Seconds of input so far, lost sound included.
  double Time() const { return static_cast<double>(Blocks) * BlockSeconds; }
  uint64_t BlocksSeen() const { return Blocks; }

  void SetCentF(double hz) { Rx->CentF = hz; }
  double CentF() const { return Rx->CentF; }
  // The sink of the shown path's text.
  void SetSink(TTextSink* sink) { Sink = sink; }

  // Chooses the path whose text goes to the sink and whose status the labels
  // show (the robust path is started if needed). The sink is then told
  // nothing: the caller shows the new path's text (Text()) as it sees fit.
  // Messages are not affected.
  void SetDecoder(TDecoderPath path);
  TDecoderPath Decoder() const { return Rx->Shown; }

  // The shown path's text, its line under construction and its status.
  const TTextStore& Text() const;
  const std::string& LineText() const;
  TDecoderStatus Status() const { return DecoderStatus(*Rx, Rx->Shown); }
  TReceiverStatus FullStatus() const;

  // The display switches (the displays' clicks change them).
  bool SpectrumOn() const { return Rx->DispSpectrum; }
  bool EyePatternOn() const { return Rx->DispEyepattern; }
  // The displays, or null when the session runs without them.
  TDisplays* Displays() { return Disp.get(); }
  const TDisplays* Displays() const { return Disp.get(); }

  // The receiver itself, for tests and benchmarks that look inside.
  TReceiver& Receiver() { return *Rx; }
  const TReceiver& Receiver() const { return *Rx; }
  const TChannelState& Channel(int ch = 0) const { return Rx->Channels[ch]; }

private:
  // Each path's text store reports here; the text goes on to the shown sink
  // and to the messages as each path's role says.
  class TPathSink final : public TTextSink {
  public:
    TPathSink(TReceiverSession& s, TDecoderPath path) : S(s), Path(path) {}
    void LineWritten(std::string_view line, std::span<const float> confidence) override;
    void MemoReplaced(std::string_view memo) override;
    void EditChanged(std::string_view text) override;

  private:
    TReceiverSession& S;
    TDecoderPath Path;
  };

  void AfterBlock();
  void Received(const msg::TReceived& r);
  TDecoderStatus MessagePathStatus() const { return DecoderStatus(*Rx, MsgPath); }
  bool WorthReporting(const TReceiverStatus& now) const;

  std::unique_ptr<TReceiver> Rx;
  std::unique_ptr<TDisplays> Disp;
  TTextSink* Sink = nullptr;
  TPathSink ExactSink{*this, TDecoderPath::Exact};
  TPathSink RobustSink{*this, TDecoderPath::Robust};
  TDecoderPath MsgPath = TDecoderPath::Exact;
  TInputChannel Input = TInputChannel::Left;
  bool MarkGaps = true;
  bool Marking = false;  // a marker line is being written: not message text
  std::unique_ptr<msg::TMessageReception> Reception;
  std::vector<TSessionListener*> Listeners;
  std::vector<std::unique_ptr<TSessionListener>> Owned;
  uint64_t Blocks = 0;
  TReceiverStatus Reported;
  double ReportedAt = 0.0;  // input time of the last report
  bool HaveReported = false;
  std::array<int16_t, BlockSamples> Swapped{};
};

// The memo's line marking sound lost: "--- 5.2 s of audio lost ---".
std::string GapMarker(int blocksLost);

// The name a path is reported with ("exact", "robust").
const char* PathName(TDecoderPath path);

}  // namespace brontel
