// Messages from a running receiver, ready to wire: the assembler on the
// receiver's text sink, every completed message stored (in the given store,
// or in memory so that repeats within one run are still recognised), printed
// as text or JSON Lines if asked, and handed to the front end.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "messages/assembler.h"
#include "messages/format.h"
#include "messages/store.h"

namespace brontel::msg {

enum class TPrint { None, Text, Json };

struct TReceptionOptions {
  std::string StorePath;          // empty: keep messages in memory only
  double RepeatWindow = DefaultRepeatWindow;
  TPrint Print = TPrint::None;
  bool Utf8 = true;               // text form in UTF-8 (false: code page 932)
  bool WithChannel = false;       // text form names the input channel (two receivers)
  std::FILE* Out = stdout;        // where messages are printed
  TAssemblerOptions Assembler;
};

class TMessageReception {
public:
  // Opens the store; null with `error` set if it cannot be used.
  static std::unique_ptr<TMessageReception> Open(TReceptionOptions options, std::string& error);

  // The sink to give the receiver (TReceiverSession::SetSink or TSessionOptions::Sink).
  TTextSink& Sink() { return Adapter; }
  // A sink that also receives all text, e.g. the window's memo or a line printer.
  void Forward(TTextSink* next) { Adapter.SetNext(next); }
  // After every block: the time at its end (seconds into the input) and the decoder's state.
  void AfterBlock(double t, bool inSync, bool english) { Adapter.AfterBlock(t, inSync, english); }
  // End of input; `unfinished` is the decoder's line under construction.
  void Finish(double t, std::string_view unfinished = {}) { Adapter.Finish(t, unfinished); }
  // The decoder path the following messages are reported with ("exact", "robust").
  void SetDecoder(std::string_view path) { Assembler.SetDecoder(path); }

  // Called with every completed message as shown (after storing; Repeat set
  // for a repeat), e.g. for an alert.
  std::function<void(const TMessage&)> OnMessage;
  // Messages that could not be stored (each reported on standard error).
  int StoreFailures() const { return Failures; }

private:
  TMessageReception(TReceptionOptions options, std::unique_ptr<TMessageStore> store);
  void Completed(TMessage&& m);

  TReceptionOptions Options;
  std::unique_ptr<TMessageStore> Store;
  TMessageAssembler Assembler;
  TAssemblerSink Adapter;
  int Failures = 0;
};

// Whether a message raises the alert: not a repeat, and its subject is among
// `subjects` (letters, e.g. "D"; empty: never).
bool RaisesAlert(const TMessage& m, std::string_view subjects);

// UTC at the start of a recording: `startTime` if given (ISO 8601, see
// ParseIsoTime), else the file's modification time, else now (standard
// input). False with `error` set for an unreadable start time.
bool RecordingEpoch(const std::string& path, std::optional<std::string> startTime, double& epoch,
                    std::string& error);

}  // namespace brontel::msg
