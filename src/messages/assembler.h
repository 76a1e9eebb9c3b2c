// Messages out of the decoder's lines: ZCZC B1B2B3B4 ... NNNN, in half- or
// full-width form, with the end of an emission, a time-out or the end of
// input closing a message whose trailer was lost, and text outside any
// message kept as fragments without a header.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/text_output.h"
#include "messages/message.h"

namespace brontel::msg {

struct TAssemblerOptions {
  TService Service = TService::English;  // the service until a header says otherwise
  std::string Decoder = "exact";         // the decoder path, reported with every message
  std::string Channel = "left";          // the input channel, reported with every message
  std::string Receiver;                  // the receiver's name and its frequency in kHz, reported
  std::optional<double> Frequency;       // with every message (empty, unset: not known)
  double Epoch = 0.0;       // UTC (seconds since the epoch) at input time 0
  bool Recording = false;   // input times are offsets into a recording (reported with messages)
  double SyncGap = 8.0;     // seconds out of synchronisation that end an emission
  double Timeout = 120.0;   // seconds without a line that end a message
};

// Times passed in are seconds into the input, non-decreasing.
class TMessageAssembler {
public:
  using TOutput = std::function<void(TMessage&&)>;
  explicit TMessageAssembler(TOutput output, TAssemblerOptions options = {});

  void SetService(TService s) { Options.Service = s; }
  void SetDecoder(std::string_view path) { Options.Decoder.assign(path); }
  const TAssemblerOptions& Settings() const { return Options; }

  // A finished line of code page 932 text, without its line end.
  // `confidence`: per character, how sure the decoder is of it (see
  // TTextSink::LineWritten; empty when it cannot tell). `doubtful` counts its
  // characters the decoder was unsure of (0 if it cannot tell).
  void Line(std::string_view cp932, double t, std::span<const float> confidence = {}, int doubtful = 0);
  // The decoder gained or lost synchronisation. A line the decoder wrote as it
  // lost synchronisation comes before SyncChanged(false), with no Tick between.
  void SyncChanged(bool inSync, double t);
  // Time passes: ends a message at the end of the emission or after the time-out.
  void Tick(double t);
  // Sound was lost at time t for `seconds` (the input clock goes on at
  // t + seconds). The open message is marked where the sound broke off, with
  // the characters sent meanwhile counted as lost; a loss as long as the
  // time-out closes it. Lost sound counts towards the time-out but not as
  // time out of synchronisation.
  void Gap(double t, double seconds);
  // End of input: whatever is open is closed.
  void Finish(double t);

  bool InMessage() const { return Open == TOpen::Message; }

private:
  enum class TOpen { None, Message, Fragment };

  void Process(const std::vector<TUnit>& units, double t, int doubtful);
  void StartMessage(const std::vector<TUnit>& units, std::size_t& i, std::size_t len, double t);
  void Append(const std::vector<TUnit>& units, std::size_t from, std::size_t to, double t);
  void Close(double end, bool trailer);
  void Expire(double t);  // closes what the end of the emission or the time-out ended
  // Marks the end of Body as a break (the decoder's last line end, when it
  // wrote one since the last event, becomes the gap); returns its index.
  std::size_t BreakHere();

  TOutput Output;
  TAssemblerOptions Options;
  TOpen Open = TOpen::None;
  TMessage Cur;
  std::vector<TUnit> Body;
  int Doubtful = 0;
  double LastLine = 0.0;
  bool LineSinceEvent = false;  // a line came since the last SyncChanged or Tick
  bool InSync = true;
  double LostAt = 0.0;
  double Paused = 0.0;  // seconds of lost sound since synchronisation was lost
  std::ptrdiff_t PendingGap = -1;  // index in Body of the gap of the current loss of synchronisation
};

// Feeds an assembler from a receiver's text sink. After every block the
// caller reports the time at the block's end and the decoder's state; lines
// written during a block are stamped with the time at its start.
// Everything the sink receives is also passed on to `next` (if set), so the
// receiver's own text display keeps working.
class TAssemblerSink final : public TTextSink {
public:
  explicit TAssemblerSink(TMessageAssembler& assembler, TTextSink* next = nullptr) : A(assembler), Next(next) {}
  void SetNext(TTextSink* next) { Next = next; }
  void LineWritten(std::string_view line, std::span<const float> confidence) override
  {
    A.Line(line, Now, confidence);
    if (Next) Next->LineWritten(line, confidence);
  }
  void MemoReplaced(std::string_view memo) override
  {
    if (Next) Next->MemoReplaced(memo);
  }
  void EditChanged(std::string_view text) override
  {
    if (Next) Next->EditChanged(text);
  }
  void AfterBlock(double t, bool inSync, bool english);
  // Sound was lost after the last block for `seconds`: the assembler learns
  // of it before any later line, and the clock moves on.
  void Gap(double seconds);
  // End of input at time t; `unfinished` is the decoder's line under
  // construction, `confidence` its characters' confidences.
  void Finish(double t, std::string_view unfinished = {}, std::span<const float> confidence = {});

private:
  TMessageAssembler& A;
  TTextSink* Next;
  double Now = 0.0;
  bool Synced = false;
  bool English = true;
  bool First = true;
};

}  // namespace brontel::msg
