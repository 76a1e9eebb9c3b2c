// Messages from a running receiver: the assembler on the text of one decoder
// path, and every completed message stored (in the given store, or in memory
// so that repeats within one run are still recognised) by the store writer,
// which never holds up reception. What became of each message is handed on,
// on the receiving thread, in the order the messages were completed.
//
// Outcomes are handed on after each block, on Poll and, all of them, at
// Finish. A front end whose blocks may stop (a closed sound input) calls Poll
// when OnOutcome says one is ready.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messages/assembler.h"
#include "messages/store.h"
#include "messages/store_writer.h"

namespace brontel::msg {

struct TReceptionOptions {
  std::string StorePath;          // empty: keep messages in memory only
  std::string SpoolPath;          // where copies for a database wait (see TStoreWriterOptions); empty: none
  double RepeatWindow = DefaultRepeatWindow;
  TAssemblerOptions Assembler;
  // What the store writer has to say (a busy store, copies waiting); any thread.
  std::function<void(const std::string&)> OnNotice;
  // An outcome is ready (called on the writer thread): wake the receiving
  // thread, which then calls Poll.
  std::function<void()> OnOutcome;
  // Whether a completed message is inside the listener's selection of
  // stations and subjects (TMessage::Selected; null: every message is).
  std::function<bool(const TMessage&)> Select;
};

// What became of one completed message.
struct TReceived {
  TMessage Shown;       // the message to show: the copy, or for a repeat the stored message merged with it
  bool Stored = false;  // committed to the store (a store in memory included)
  std::string Error;    // why it was not stored (empty when it was)
};

class TMessageReception {
public:
  // Opens the store; null with `error` set if it cannot be used.
  static std::unique_ptr<TMessageReception> Open(TReceptionOptions options, std::string& error);

  // The sink of the decoder path messages are built from.
  TTextSink& Sink() { return Adapter; }
  // A sink that also receives all text, e.g. a line printer.
  void Forward(TTextSink* next) { Adapter.SetNext(next); }
  // After every block: the time at its end (seconds into the input) and the
  // state of the decoder whose text the sink receives.
  void AfterBlock(double t, bool inSync, bool english);
  // Sound was lost after the last block for `seconds`.
  void Gap(double seconds);
  // Hands on the outcomes ready now (on the receiving thread).
  void Poll();
  // End of input; `unfinished` is the decoder's line under construction and
  // `confidence` its characters' confidences (empty: unknown). Every message
  // is then stored (or has failed) and handed on.
  void Finish(double t, std::string_view unfinished = {}, std::span<const float> confidence = {});
  // The decoder path the following messages are reported with ("exact", "robust").
  void SetDecoder(std::string_view path) { Assembler.SetDecoder(path); }

  // Called with what became of every completed message, once it is stored or
  // has failed, in order; then OnMessage with the message as shown.
  std::function<void(const TReceived&)> OnReceived;
  std::function<void(const TMessage&)> OnMessage;
  // Messages that could not be stored.
  int StoreFailures() const { return Writer->Failures(); }
  bool Persistent() const { return !Options.StorePath.empty(); }

private:
  TMessageReception(TReceptionOptions options, std::unique_ptr<TStoreWriter> writer);
  void Deliver(std::vector<TStoreOutcome> outcomes);

  TReceptionOptions Options;
  std::unique_ptr<TStoreWriter> Writer;
  TMessageAssembler Assembler;
  TAssemblerSink Adapter;
  bool Delivering = false;  // a handler is running: outcomes wait for the next call
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
