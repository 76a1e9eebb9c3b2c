#include "session/receiver_session.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace brontel {

std::string GapMarker(int blocksLost)
{
  const int tenths = std::max(blocksLost, 0);
  return "--- " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s of audio lost ---";
}

const char* PathName(TDecoderPath path) { return path == TDecoderPath::Robust ? "robust" : "exact"; }

TReceiverSession::TReceiverSession(TSessionOptions options)
    : Rx(std::make_unique<TReceiver>()), Input(options.Channel), MarkGaps(options.MarkGaps)
{
  Rx->CentF = options.CentF;
  if (options.RobustBeside || options.Decoder == TDecoderPath::Robust) StartRobustPath(*Rx);
  MsgPath = Rx->Robust ? TDecoderPath::Robust : TDecoderPath::Exact;
  Rx->ExactRuns = options.ExactBeside || MsgPath == TDecoderPath::Exact || options.Decoder == TDecoderPath::Exact ||
                  options.Displays;
  Rx->Shown = options.Decoder;
  Sink = options.Sink;
  Rx->Text.Sink = &ExactSink;
  Rx->RobustText.Sink = &RobustSink;
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

void TReceiverSession::AddListener(TSessionListener* listener)
{
  if (listener) Listeners.push_back(listener);
}

void TReceiverSession::AddListener(std::unique_ptr<TSessionListener> listener)
{
  if (!listener) return;
  Listeners.push_back(listener.get());
  Owned.push_back(std::move(listener));
}

bool TReceiverSession::StartMessages(msg::TReceptionOptions options, std::string& error)
{
  options.Assembler.Decoder = PathName(MsgPath);
  Reception = msg::TMessageReception::Open(std::move(options), error);
  if (!Reception) return false;
  Reception->OnReceived = [this](const msg::TReceived& r) { Received(r); };
  return true;
}

void TReceiverSession::Received(const msg::TReceived& r)
{
  const TMessageEvent e{r.Shown, r.Stored, r.Error, Reception->StoreFailures()};
  for (TSessionListener* l : Listeners) l->MessageDone(e);
}

// --- Text ---------------------------------------------------------------------

void TReceiverSession::TPathSink::LineWritten(std::string_view line, std::span<const float> confidence)
{
  if (Path == S.Rx->Shown && S.Sink) S.Sink->LineWritten(line, confidence);
  if (Path == S.MsgPath && S.Reception && !S.Marking) S.Reception->Sink().LineWritten(line, confidence);
}

void TReceiverSession::TPathSink::MemoReplaced(std::string_view memo)
{
  if (Path == S.Rx->Shown && S.Sink) S.Sink->MemoReplaced(memo);
}

void TReceiverSession::TPathSink::EditChanged(std::string_view text)
{
  if (Path == S.Rx->Shown && S.Sink) S.Sink->EditChanged(text);
}

void TReceiverSession::SetDecoder(TDecoderPath path)
{
  if (path == TDecoderPath::Robust) StartRobustPath(*Rx);
  if (path == TDecoderPath::Exact) Rx->ExactRuns = true;
  Rx->Shown = path;
}

const TTextStore& TReceiverSession::Text() const { return PathText(*Rx, Rx->Shown); }

const std::string& TReceiverSession::LineText() const
{
  return Rx->Shown == TDecoderPath::Robust ? Rx->Robust->LineText() : Rx->Channels[0].LineText;
}

// --- Blocks and gaps ----------------------------------------------------------

void TReceiverSession::ProcessBlock(std::span<const int16_t, BlockSamples> block)
{
  if (Input == TInputChannel::Right) {
    // The receiver decodes the left channel: the right one is handed over there.
    for (int j = 0; j < FramesPerBlock; ++j) {
      Swapped[2 * j] = block[2 * j + 1];
      Swapped[2 * j + 1] = block[2 * j];
    }
    brontel::ProcessBlock(*Rx, Swapped);
  } else {
    brontel::ProcessBlock(*Rx, block);
  }
  ++Blocks;
  AfterBlock();
}

void TReceiverSession::AfterBlock()
{
  const double end = Time();
  if (Reception) {
    const TDecoderStatus s = MessagePathStatus();
    Reception->AfterBlock(end, s.InSync, s.EngMode);
  }
  if (Listeners.empty()) return;
  const TChannelState& ch = Rx->Channels[0];
  const TBlockEvent e{Blocks - 1, end, std::span<const uint8_t>(ch.BitBuf.data(), static_cast<std::size_t>(ch.BitCount))};
  for (TSessionListener* l : Listeners) l->BlockDone(e);
  // A change is seen once the whole block is in: stamped with the block's end.
  const TReceiverStatus now = FullStatus();
  if (HaveReported && !WorthReporting(now)) return;
  const TReceiverStatus before = Reported;
  const TStatusEvent s{end, now, HaveReported ? &before : nullptr};
  Reported = now;
  ReportedAt = end;
  HaveReported = true;
  for (TSessionListener* l : Listeners) l->StatusChanged(s);
}

void TReceiverSession::ReportStatus()
{
  HaveReported = false;
  const TReceiverStatus now = FullStatus();
  const TStatusEvent s{Time(), now, nullptr};
  Reported = now;
  ReportedAt = Time();
  HaveReported = true;
  for (TSessionListener* l : Listeners) l->StatusChanged(s);
}

TReceiverStatus TReceiverSession::FullStatus() const
{
  TReceiverStatus s;
  s.Decoder = Status();
  if (const TRobustPath* robust = Rx->Robust.get()) {
    s.Robust = true;
    s.Signal = robust->SignalPresent();
    s.SnrDb = robust->SnrDb();
    s.OffsetHz = robust->FrequencyOffset();
    s.BitRate = robust->BitRate();
  }
  return s;
}

bool SignalMoved(const TReceiverStatus& now, const TReceiverStatus& was)
{
  return now.Signal && (std::abs(now.SnrDb - was.SnrDb) >= SnrReportStepDb ||
                        std::abs(now.OffsetHz - was.OffsetHz) >= OffsetReportStepHz);
}

bool TReceiverSession::WorthReporting(const TReceiverStatus& now) const
{
  const TReceiverStatus& was = Reported;
  if (now.Decoder != was.Decoder || now.Robust != was.Robust || now.Signal != was.Signal) return true;
  // Compared in whole blocks, so that ten blocks make the second exactly.
  const double sinceReport = Time() - ReportedAt + BlockSeconds / 2;
  return sinceReport >= SignalReportIntervalS && SignalMoved(now, was);
}

void TReceiverSession::NoteGap(int blocks)
{
  if (blocks <= 0) return;
  const double start = Time();
  const double seconds = static_cast<double>(blocks) * BlockSeconds;
  // What was received before the gap must not run on into what follows:
  // every decoder writes its line and looks for synchronisation afresh. The
  // messages learn of the gap before any later line.
  NoteInputGap(*Rx, blocks);
  if (Reception) Reception->Gap(seconds);
  if (MarkGaps) {
    Marking = true;
    const std::string marker = GapMarker(blocks);
    AppendMemoLine(Rx->Text, marker);
    if (Rx->Robust) AppendMemoLine(Rx->RobustText, marker);
    Marking = false;
  }
  Blocks += static_cast<uint64_t>(blocks);
  const TGapEvent e{start, blocks, seconds};
  for (TSessionListener* l : Listeners) l->SoundLost(e);
}

void TReceiverSession::Finish()
{
  if (Rx->Robust) Rx->Robust->Finish(Rx->RobustText);
  if (Reception) {
    if (MsgPath == TDecoderPath::Robust)
      Reception->Finish(Time(), Rx->Robust->LineText(), Rx->Robust->LineConfidence());
    else
      Reception->Finish(Time(), Rx->Channels[0].LineText);
  }
  const TFinishEvent e{Time()};
  for (TSessionListener* l : Listeners) l->Finished(e);
}

}  // namespace brontel
