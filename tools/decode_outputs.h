// brontel-decode's outputs: the output stream, the shown text, and the
// listeners of a receiver session for --status, --bits, --messages/--json,
// the store's failures and NRX sentences.
#pragma once

#include <cstdio>
#include <optional>
#include <functional>
#include <string>
#include <string_view>

#include "decode_options.h"
#include "nmea/nrx_out.h"
#ifdef BRONTEL_HAVE_MQTT
#include "net/mqtt_feed.h"
#endif
#include "session/receiver_session.h"
#include "stations/resolver.h"

namespace brontel::decode {

// An output stream (standard output or an --output file) with its errors
// noticed: after the first failed write nothing more is written and Error()
// says why. A write interrupted by a signal carries on.
class TOutput {
public:
  TOutput() = default;
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;
  ~TOutput();

  // Appends to `path` instead of standard output (empty: standard output);
  // false with `error` when it cannot be opened.
  bool Open(const std::string& path, std::string& error);
  void Write(std::string_view text);
  void Flush();
  bool Ok() const { return Err.empty() && !std::ferror(File); }
  std::string Error();

private:
  void Fail(int error);
  std::FILE* File = stdout;
  std::string Name = "standard output";
  std::string Err;
};

// Prints each line of the shown text as soon as the decoder finishes it.
class TLinePrinter final : public TTextSink {
public:
  TLinePrinter(TOutput& out, TEncoding encoding, std::string prefix)
      : Out(out), Encoding(encoding), Prefix(std::move(prefix))
  {
  }
  void LineWritten(std::string_view line, std::span<const float>) override { Print(line); }
  void Print(std::string_view line);

private:
  TOutput& Out;
  TEncoding Encoding;
  std::string Prefix;
};

// --status: changes of the decoder's state, and the robust path's signal,
// stamped with the time in the input; lost sound.
class TStatusReporter final : public TSessionListener {
public:
  explicit TStatusReporter(std::string who) : Who(std::move(who)) {}
  void StatusChanged(const TStatusEvent& e) override;
  void SoundLost(const TGapEvent& e) override;

private:
  std::string Who;
};

// Lost sound said on standard error when --status is off (once per gap).
class TGapNotice final : public TSessionListener {
public:
  void SoundLost(const TGapEvent& e) override;
};

// --bits: one line per block.
class TBitsPrinter final : public TSessionListener {
public:
  TBitsPrinter(TOutput& out, std::string who) : Out(out), Who(std::move(who)) {}
  void BlockDone(const TBlockEvent& e) override;

private:
  TOutput& Out;
  std::string Who;
};

// --messages and --json: every completed message as text or as a JSON line.
class TMessagePrinter final : public TSessionListener {
public:
  // JSON names the station from `names` for a message heard on `khz`;
  // `doubtBelow`: text output brackets the characters less sure than it.
  TMessagePrinter(TOutput& out, bool json, bool utf8, bool withChannel, const stations::TStationResolver& names,
                  double khz, std::optional<double> doubtBelow = {})
      : Out(out), Json(json), Utf8(utf8), WithChannel(withChannel), Names(names), Khz(khz), DoubtBelow(doubtBelow)
  {
  }
  void MessageDone(const TMessageEvent& e) override;

private:
  TOutput& Out;
  bool Json, Utf8, WithChannel;
  const stations::TStationResolver& Names;
  double Khz;
  std::optional<double> DoubtBelow;
};

// A message that could not be stored is said on standard error with the reason.
class TStoreTrouble final : public TSessionListener {
public:
  void MessageDone(const TMessageEvent& e) override;
};

// One channel's messages as NRX sentences to a chart plotter (the sender is
// shared by both channels); a message not sent whole is said and counted.
class TNmeaListener final : public TSessionListener {
public:
  TNmeaListener(TNrxSender& sender, double frequencyKhz) : Sender(sender), Khz(frequencyKhz) {}
  void MessageDone(const TMessageEvent& e) override;

private:
  TNrxSender& Sender;
  double Khz;
};

#ifdef BRONTEL_HAVE_MQTT
// --mqtt: one feed for the run. Every channel's new messages and repeats go
// to it; the retained status follows the first decoded channel (its path,
// signal and SNR) and the last message of any channel.
class TMqttOut {
public:
  explicit TMqttOut(net::TMqttOptions options, std::string path, std::optional<double> frequencyKhz);
  // Starts the feed with the status as it is; false with `error`.
  bool Start(std::string& error);
  // Publishes a message (a repeat to the repeat topic) and makes it the last one.
  void Message(const msg::TMessage& m);
  // A new receiver status; published when it says something new: the
  // signal coming or going, or its SNR moving by SnrReportStepDb.
  void Status(const TReceiverStatus& now);
  // Stops the feed; the number of messages that did not reach the broker
  // (dropped from a full queue, refused, or undelivered at the end), said on
  // standard error.
  int Finish();

private:
  void Publish() { Feed.SetStatus(Shown); }
  net::TMqttFeed Feed;
  net::TMqttStatus Shown;
  bool Said = false;  // a status was published
  std::string Where;
};

// One channel's side of TMqttOut. Only messages `Wanted` lets through are
// published (null: all), so that a selection of stations and subjects can
// keep the others off the broker.
class TMqttListener final : public TSessionListener {
public:
  TMqttListener(TMqttOut& out, bool reportsStatus) : Out(out), ReportsStatus(reportsStatus) {}
  void StatusChanged(const TStatusEvent& e) override;
  void MessageDone(const TMessageEvent& e) override;
  std::function<bool(const TMessageEvent&)> Wanted;

private:
  TMqttOut& Out;
  bool ReportsStatus;
};
#endif

}  // namespace brontel::decode
