#include "decode_outputs.h"

#include "stations/map_export.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "decoder/cp932.h"
#include "messages/format.h"

namespace brontel::decode {

// --- The output stream ----------------------------------------------------------

TOutput::~TOutput()
{
  if (File && File != stdout) std::fclose(File);
}

bool TOutput::Open(const std::string& path, std::string& error)
{
  if (path.empty()) return true;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  File = file;
  Name = path;
  return true;
}

void TOutput::Write(std::string_view text)
{
  while (Err.empty() && !text.empty()) {
    errno = 0;
    const std::size_t n = std::fwrite(text.data(), 1, text.size(), File);
    text.remove_prefix(n);
    if (text.empty()) break;
    if (errno == EINTR) {
      std::clearerr(File);
      continue;
    }
    Fail(errno);
  }
}

void TOutput::Flush()
{
  while (Err.empty()) {
    errno = 0;
    if (std::fflush(File) == 0 && !std::ferror(File)) return;
    if (errno != EINTR) {
      Fail(errno);
      return;
    }
    std::clearerr(File);
  }
}

std::string TOutput::Error()
{
  if (Err.empty() && std::ferror(File)) Fail(EIO);
  return Err;
}

void TOutput::Fail(int error) { Err = "cannot write to " + Name + ": " + std::strerror(error ? error : EIO); }

void TLinePrinter::Print(std::string_view line)
{
  std::string text = Prefix;
  text += Encoding == TEncoding::Utf8 ? Cp932ToUtf8(line) : std::string(line);
  text.push_back('\n');
  Out.Write(text);
  Out.Flush();
}

// --- Listeners ------------------------------------------------------------------

void TStatusReporter::StatusChanged(const TStatusEvent& e)
{
  const TDecoderStatus& now = e.Now.Decoder;
  const TDecoderStatus* before = e.Before ? &e.Before->Decoder : nullptr;
  const char* who = Who.c_str();
  if (!before || before->EngMode != now.EngMode)
    std::fprintf(stderr, "[%9.1f s] %smode %s\n", e.Time, who, now.EngMode ? "ENG" : "JPN");
  if (!before || before->Inverted != now.Inverted)
    std::fprintf(stderr, "[%9.1f s] %spolarity %s\n", e.Time, who, now.Inverted ? "NEG" : "POS");
  if (!before || before->InSync != now.InSync)
    std::fprintf(stderr, "[%9.1f s] %s%s\n", e.Time, who, now.InSync ? "sync" : "no sync");
  if (!e.Now.Robust) return;
  // The robust demodulator's view of the signal: when one comes or goes, and
  // when its level or tuning moves.
  const bool signalNews =
      e.Before ? e.Before->Signal != e.Now.Signal || SignalMoved(e.Now, *e.Before) : e.Now.Signal;
  if (!signalNews) return;
  if (e.Now.Signal)
    std::fprintf(stderr, "[%9.1f s] %ssignal, offset %+.1f Hz, %.2f Bd, SNR %.1f dB in 500 Hz\n", e.Time, who,
                 e.Now.OffsetHz, e.Now.BitRate, e.Now.SnrDb);
  else
    std::fprintf(stderr, "[%9.1f s] %sno signal\n", e.Time, who);
}

void TStatusReporter::SoundLost(const TGapEvent& e)
{
  std::fprintf(stderr, "[%9.1f s] %soverrun: %d blocks lost\n", e.Start + e.Seconds, Who.c_str(), e.Blocks);
}

void TGapNotice::SoundLost(const TGapEvent& e)
{
  std::fprintf(stderr, "brontel-decode: %.1f s of sound lost (the program could not keep up)\n", e.Seconds);
}

void TBitsPrinter::BlockDone(const TBlockEvent& e)
{
  std::string line = Who + std::to_string(e.Index) + " " + std::to_string(e.Bits.size());
  if (!e.Bits.empty()) line.push_back(' ');
  for (const uint8_t bit : e.Bits) line.push_back(static_cast<char>('0' + bit));
  line.push_back('\n');
  Out.Write(line);
}

void TMessagePrinter::MessageDone(const TMessageEvent& e)
{
  if (!e.Message.Selected) return;  // stored, but outside the selection
  Out.Write(Json ? msg::TMessageFormatter::JsonLine(e.Message, stations::JsonExtras(e.Message, Names, Khz))
                 : msg::TMessageFormatter::Text(e.Message, Utf8, WithChannel, DoubtBelow));
  Out.Flush();
}

void TStoreTrouble::MessageDone(const TMessageEvent& e)
{
  if (e.Stored) return;
  const std::string& id = e.Message.Id;
  std::fprintf(stderr, "brontel-decode: message %s not stored: %s\n", id.empty() ? "(no header)" : id.c_str(),
               e.Error.c_str());
}

// --- NRX ------------------------------------------------------------------------

void TNmeaListener::MessageDone(const TMessageEvent& e)
{
  if (!e.Message.Selected) return;
  std::string error;
  if (!Sender.Send(e.Message, Khz, error)) std::fprintf(stderr, "brontel-decode: %s\n", error.c_str());
}

}  // namespace brontel::decode

// --- MQTT -----------------------------------------------------------------------

#ifdef BRONTEL_HAVE_MQTT

namespace brontel::decode {

TMqttOut::TMqttOut(net::TMqttOptions options, std::string path, std::optional<double> frequencyKhz)
    : Feed(options), Where(options.Broker)
{
  Shown.Path = std::move(path);
  Shown.FrequencyKhz = frequencyKhz;
}

bool TMqttOut::Start(std::string& error)
{
  if (!Feed.Start(error)) return false;
  Publish();
  return true;
}

void TMqttOut::Message(const msg::TMessage& m)
{
  Feed.Publish(m.Id, msg::TMessageFormatter::JsonLine(m), m.Repeat);
  Shown.LastMessageId = m.Id;
  Shown.LastMessageUtc = m.Start;
  Publish();
}

void TMqttOut::Status(const TReceiverStatus& now)
{
  // The exact path has no signal estimate of its own: its synchronisation
  // stands for it.
  const bool signal = now.Robust ? now.Signal : now.Decoder.InSync;
  const std::optional<double> snr = now.Robust && now.Signal ? std::optional(now.SnrDb) : std::nullopt;
  bool news = !Said || signal != Shown.Signal || snr.has_value() != Shown.SnrDb.has_value();
  if (!news && snr) news = std::abs(*snr - *Shown.SnrDb) >= SnrReportStepDb;
  if (!news) return;
  Shown.Signal = signal;
  Shown.SnrDb = snr;
  Said = true;
  Publish();
}

int TMqttOut::Finish()
{
  Feed.Stop();
  const net::TMqttFeedStats s = Feed.Stats();
  const uint64_t lost = s.Dropped + s.Refused + s.Queued + s.InFlight;
  if (lost > 0)
    std::fprintf(stderr, "brontel-decode: %llu message(s) did not reach the MQTT broker %s\n",
                 static_cast<unsigned long long>(lost), Where.c_str());
  return static_cast<int>(std::min<uint64_t>(lost, 1000000));
}

void TMqttListener::StatusChanged(const TStatusEvent& e)
{
  if (ReportsStatus) Out.Status(e.Now);
}

void TMqttListener::MessageDone(const TMessageEvent& e)
{
  if (!Wanted || Wanted(e)) Out.Message(e.Message);
}

}  // namespace brontel::decode

#endif
