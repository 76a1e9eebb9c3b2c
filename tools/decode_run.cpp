#include "decode_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "decode_outputs.h"
#include "io/block_source.h"
#include "io/stop_signals.h"
#ifdef BRONTEL_HAVE_LIVE
#include "audio/live_source.h"
#include "audio/wave_in.h"
#endif
#include "messages/reception.h"
#include "stations/resolver.h"
#include "stations/selection.h"
#include "messages/spool.h"
#include "tool_files.h"
#ifdef BRONTEL_HAVE_QT_TEXT
#include <QBuffer>
#include <QByteArray>

#include "display/qt/qt_text_renderer.h"
#endif

namespace brontel::decode {

using namespace brontel::tool;
namespace fs = std::filesystem;

namespace {

int Fail(const std::string& message)
{
  std::fprintf(stderr, "brontel-decode: %s\n", message.c_str());
  return ExitFailure;
}

// --- Snapshots ------------------------------------------------------------------

// Creates the --snapshot folder if needed and makes sure files can be
// created in it, so that a bad folder is reported before any decoding.
bool PrepareSnapshotDir(const std::string& dir, std::string& error)
{
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    error = "cannot create the folder " + dir + ": " + (ec ? ec.message() : "a file of that name is in the way");
    return false;
  }
  std::string probe = (fs::path(dir) / ".brontel-decode-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    error = "cannot write in the folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

// The label renderer of --snapshot; the Qt application it needs is
// released after it (so it must outlive the displays that use it).
struct TSnapshotLabels {
#ifdef BRONTEL_HAVE_QT_TEXT
  std::unique_ptr<TQtTextRenderer> Text;
#endif
  bool Start()
  {
#ifdef BRONTEL_HAVE_QT_TEXT
    if (!EnsureGuiApplication()) return false;
    Text = std::make_unique<TQtTextRenderer>();
#endif
    return true;
  }
  TTextRenderer* Renderer()
  {
#ifdef BRONTEL_HAVE_QT_TEXT
    return Text.get();
#else
    return nullptr;
#endif
  }
  ~TSnapshotLabels()
  {
#ifdef BRONTEL_HAVE_QT_TEXT
    if (Text) {
      Text.reset();
      ReleaseGuiApplication();
    }
#endif
  }
};

// Writes DIR/spectrum.png and DIR/eye.png, each replacing an older file only
// once it is complete; reports and returns false on failure.
bool WriteSnapshot(const TDisplays& displays, const std::string& dir)
{
#ifdef BRONTEL_HAVE_QT_TEXT
  for (const auto& [name, raster] : {std::pair{"spectrum.png", &displays.SpectrumBitmap()},
                                     std::pair{"eye.png", &displays.EyeBitmap()}}) {
    const std::string path = (fs::path(dir) / name).string();
    QByteArray png;
    QBuffer buffer(&png);
    std::string error;
    if (!buffer.open(QIODevice::WriteOnly) || !RasterImage(*raster).save(&buffer, "PNG")) {
      error = "cannot encode " + path;
    } else if (WriteFileAtomically(path, std::string_view(png.constData(), static_cast<std::size_t>(png.size())),
                                   error)) {
      continue;
    }
    std::fprintf(stderr, "brontel-decode: %s\n", error.c_str());
    return false;
  }
  return true;
#else
  (void)displays;
  (void)dir;
  return false;
#endif
}

// --- One receiver per channel ---------------------------------------------------

// Where a run's messages are kept, who receives them and when its input started.
struct TMessageSetting {
  double Epoch = 0.0;
  bool Recording = false;  // input times are offsets into a recording starting at Epoch
  std::string Receiver;    // this receiver's name on every copy
  std::string SpoolPath;   // where copies wait for a database (empty: none)
};

#ifndef BRONTEL_HAVE_MQTT
class TMqttOut {};
#endif

// One receiver on one channel of the input, with what it prints, stores and sends.
class TChannelRun {
public:
  TChannelRun(const TDecodeOptions& opt, int channel, TOutput& out, TTextRenderer* labels)
      : Opt(opt),
        Channel(channel),
        Who(opt.Channels == TChannels::Both ? (channel == 0 ? "L: " : "R: ") : ""),
        Printer(out, opt.Encoding, Who),
        Session(SessionOptions(opt, channel, labels))
  {
    if (!opt.Bits && !opt.Messages && !opt.Json) Session.SetSink(&Printer);
    if (opt.Bits) Session.AddListener(std::make_unique<TBitsPrinter>(out, Who));
    if (opt.Status)
      Session.AddListener(std::make_unique<TStatusReporter>(Who));
    else if (channel == FirstChannel(opt))
      Session.AddListener(std::make_unique<TGapNotice>());
  }

  // Starts message assembly, storing and the message outputs when asked
  // for; false with `error`.
  bool StartMessages(const TMessageSetting& setting, TOutput& out, TNrxSender& nmea, TMqttOut* mqtt,
                     std::string& error)
  {
    if (!Opt.WantsMessages()) return true;
    msg::TReceptionOptions m;
    m.StorePath = Opt.Store;
    m.SpoolPath = setting.SpoolPath;
    m.Assembler.Epoch = setting.Epoch;
    m.Assembler.Recording = setting.Recording;
    m.Assembler.Channel = Channel == 0 ? "left" : "right";
    m.Assembler.Receiver = setting.Receiver;
    if (const double khz = FrequencyKhz(); khz > 0.0) m.Assembler.Frequency = khz;
    m.OnNotice = [](const std::string& s) { std::fprintf(stderr, "brontel-decode: %s\n", s.c_str()); };
    stations::TSelection selection = stations::TSelection::All();
    // The options were checked when read.
    (void)stations::ParseStations(Opt.Stations, selection.Stations, error);
    (void)stations::ParseSubjects(Opt.Subjects, selection.Subjects, error);
    if (selection != stations::TSelection::All())
      m.Select = [selection](const msg::TMessage& message) { return stations::IsSelected(selection, message); };
    if (!Session.StartMessages(std::move(m), error)) return false;
    Session.AddListener(std::make_unique<TStoreTrouble>());
    if (Opt.Messages || Opt.Json)
      Session.AddListener(std::make_unique<TMessagePrinter>(
          out, Opt.Json, Opt.Encoding == TEncoding::Utf8, Opt.Channels == TChannels::Both, Names(), FrequencyKhz(),
          Opt.MarkDoubtful ? std::optional<double>(Opt.DoubtBelow) : std::nullopt));
    if (nmea.IsOpen()) Session.AddListener(std::make_unique<TNmeaListener>(nmea, FrequencyKhz()));
#ifdef BRONTEL_HAVE_MQTT
    if (mqtt) {
      auto feed = std::make_unique<TMqttListener>(*mqtt, Channel == FirstChannel(Opt));
      feed->Wanted = [](const TMessageEvent& e) { return e.Message.Selected; };  // as printed and sent as NRX
      Session.AddListener(std::move(feed));
    }
#else
    (void)mqtt;
#endif
    return true;
  }

  void StartStatus()
  {
    if (Opt.Status) Session.ReportStatus();
  }
  void Block(const TBlock& input) { Session.ProcessBlock(input); }
  void Gap(int blocksLost) { Session.NoteGap(blocksLost); }

  // End of input: what the decoders still hold is written, open messages are stored.
  void Finish()
  {
    Session.Finish();
    if (!Session.HasMessages() && !Opt.Bits && !Opt.Messages && !Opt.Json && !Session.LineText().empty())
      Printer.Print(Session.LineText());
  }

  int StoreFailures() const { return Session.StoreFailures(); }
  // This channel's --frequency in kHz (0: not given).
  double FrequencyKhz() const
  {
    const std::vector<double>& f = Opt.FrequencyKhz;
    const std::size_t i = static_cast<std::size_t>(Channel);
    return i < f.size() ? f[i] : (f.size() == 1 ? f[0] : 0.0);
  }
  TDisplays* Displays() { return Session.Displays(); }

private:
  static int FirstChannel(const TDecodeOptions& opt) { return opt.Channels == TChannels::Right ? 1 : 0; }

  static TSessionOptions SessionOptions(const TDecodeOptions& opt, int channel, TTextRenderer* labels)
  {
    TSessionOptions s;
    const std::size_t i = static_cast<std::size_t>(channel);
    s.CentF = i < opt.CentF.size() ? opt.CentF[i] : opt.CentF.front();
    s.Decoder = opt.Decoder;
    s.ExactBeside = opt.Bits;  // nothing else here reads the exact path while the robust one is shown
    s.Channel = channel == 0 ? TInputChannel::Left : TInputChannel::Right;
    s.Displays = !opt.SnapshotDir.empty() && channel == FirstChannel(opt);
    s.Labels = labels;
    s.MarkGaps = false;  // said on standard error instead
    return s;
  }

  // The station names for --json: the station list and --position, read once.
  const stations::TStationResolver& Names() const
  {
    static const stations::TStationResolver names = [this] {
      std::vector<stations::TStation> list;
      stations::TListener listener;
      std::string error;
      if (const std::string file = stations::FindStationFile();
          !file.empty() && !stations::LoadStations(file, list, error))
        std::fprintf(stderr, "brontel-decode: %s (stations are named by their letters)\n", error.c_str());
      if (!Opt.Position.empty()) (void)stations::ParseListener(Opt.Position, listener, error);  // checked when read
      return stations::TStationResolver(std::move(list), listener);
    }();
    return names;
  }

  const TDecodeOptions& Opt;
  const int Channel;
  const std::string Who;
  TLinePrinter Printer;
  TReceiverSession Session;
};

// --- The input ------------------------------------------------------------------

#ifdef BRONTEL_HAVE_LIVE
int ListInputDevices()
{
  const std::unique_ptr<TWaveInDriver> driver = MakePulseWaveInDriver();
  const std::vector<std::string> rows = ListDevices(*driver);
  for (std::size_t k = 0; k < rows.size(); ++k) std::printf("%zu\t%s\n", k, rows[k].c_str());
  if (rows.size() == 1) std::fprintf(stderr, "brontel-decode: no sound server answers, or it has no input\n");
  return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}
#endif

// The input of the run, and the driver a live input records through.
struct TInput {
#ifdef BRONTEL_HAVE_LIVE
  std::unique_ptr<TWaveInDriver> Driver;  // outlives the live source
#endif
  std::unique_ptr<TBlockSource> Source;
};

bool OpenFileInput(const TDecodeOptions& opt, TInput& in, std::string& error)
{
  in.Source = opt.Input == "-" || opt.RawFile ? OpenRawInput(opt.Input, opt.Raw, error) : OpenAudioFile(opt.Input, error);
  return in.Source != nullptr;
}

// --live: blocks lost while the program could not keep up end the lines
// being received and move the clock on.
void OpenLiveInput(const TDecodeOptions& opt, std::vector<std::unique_ptr<TChannelRun>>& runs, TInput& in)
{
#ifdef BRONTEL_HAVE_LIVE
  in.Driver = MakePulseWaveInDriver();
  TLiveOptions live;
  live.Device = opt.Device;
  live.OnNotice = [](const std::string& s) { std::fprintf(stderr, "brontel-decode: %s\n", s.c_str()); };
  live.OnGap = [&runs](int lost) {
    for (auto& run : runs) run->Gap(lost);
  };
  in.Source = std::make_unique<TLiveSource>(*in.Driver, std::move(live));
#else
  (void)opt;
  (void)runs;
  (void)in;
#endif
}

}  // namespace

int Decode(const TDecodeOptions& opt)
{
  std::string error;
#ifdef BRONTEL_HAVE_LIVE
  if (opt.ListDevices) return ListInputDevices();
#endif
  TInput in;
  if (!opt.Live && !OpenFileInput(opt, in, error)) return Fail(error);
  if (!opt.SnapshotDir.empty() && !PrepareSnapshotDir(opt.SnapshotDir, error)) return Fail(error);
  TMessageSetting setting;
  setting.Epoch = static_cast<double>(std::time(nullptr));
  setting.Recording = !opt.Live;
  if (!opt.Live &&
      !msg::RecordingEpoch(opt.Input, opt.StartTime.empty() ? std::nullopt : std::optional(opt.StartTime),
                           setting.Epoch, error))
    return Fail(error);

  setting.Receiver = opt.Receiver.empty() ? msg::HostName() : opt.Receiver;
  if (msg::IsDatabaseUri(opt.Store)) {
    setting.SpoolPath = opt.Spool.empty() ? msg::DefaultSpoolPath(error) : opt.Spool;
    if (setting.SpoolPath.empty())
      return Fail("neither XDG_DATA_HOME nor HOME is set for the spool of the database: give --spool FILE");
  }

  TOutput out;
  if (!out.Open(opt.Output, error)) return Fail(error);
  TNrxSender nmea;
  if (!opt.NmeaUdp.empty() && !nmea.Open(opt.NmeaUdp, error)) return Fail(error);
  nmea.ForceFrequencyIndex(opt.NrxFrequencyIndex);

  // --snapshot: the displays run on every block of the decoded channel (the
  // receiver stays display-free without it).
  TSnapshotLabels labels;
  if (!opt.SnapshotDir.empty() && !labels.Start()) return Fail("--snapshot: QtGui cannot be started");

  std::vector<std::unique_ptr<TChannelRun>> runs;
  for (int channel : {0, 1})
    if (opt.Channels == TChannels::Both || (channel == 1) == (opt.Channels == TChannels::Right))
      runs.push_back(std::make_unique<TChannelRun>(opt, channel, out, labels.Renderer()));
  std::unique_ptr<TMqttOut> mqtt;
#ifdef BRONTEL_HAVE_MQTT
  if (!opt.Mqtt.empty()) {
    net::TMqttOptions m;
    m.Broker = opt.Mqtt;
    m.TopicPrefix = opt.MqttTopic;
    m.Receiver = setting.Receiver;
    m.CredentialsFile = opt.MqttCredentials;
    m.Tls = !opt.MqttCa.empty();
    m.CaFile = opt.MqttCa;
    // The end of a run waits this long for a broker that went away (a
    // restart) to take the messages still waiting.
    m.DrainTimeout = 10.0;
    m.Notice = [](const std::string& s) { std::fprintf(stderr, "brontel-decode: mqtt: %s\n", s.c_str()); };
    const double khz = runs.front()->FrequencyKhz();
    mqtt = std::make_unique<TMqttOut>(std::move(m), opt.Decoder == TDecoderPath::Robust ? "robust" : "exact",
                                      khz > 0.0 ? std::optional(khz) : std::nullopt);
    if (!mqtt->Start(error)) return Fail(error);
  }
#endif
  for (auto& run : runs) {
    if (!run->StartMessages(setting, out, nmea, mqtt.get(), error)) return Fail(error);
    run->StartStatus();
  }
  if (opt.Live) OpenLiveInput(opt, runs, in);

  // Every input ends the same way on a stop signal: as if it had run out.
  InstallStopSignals(*in.Source);
  TBlock block;
  long blocks = 0;
  while (out.Ok() && in.Source->ReadBlock(block)) {
    for (auto& run : runs) run->Block(block);
    ++blocks;
  }
  // Also after a failed output: the open messages are closed and stored.
  int failures = 0;
  for (auto& run : runs) {
    run->Finish();
    failures += run->StoreFailures();
  }
  RemoveStopSignals();
  if (nmea.Failures() > 0) {
    std::fprintf(stderr, "brontel-decode: NRX sentences not sent whole for %d message(s) to %s\n", nmea.Failures(),
                 opt.NmeaUdp.c_str());
    failures += nmea.Failures();
  }
#ifdef BRONTEL_HAVE_MQTT
  if (mqtt) failures += mqtt->Finish();
#endif
  out.Flush();
  const std::string readError = in.Source->Error();
  if (!readError.empty()) std::fprintf(stderr, "brontel-decode: %s\n", readError.c_str());
  if (const std::string note = in.Source->Note(); !note.empty()) std::fprintf(stderr, "brontel-decode: %s\n", note.c_str());
  if (!out.Ok()) return Fail(out.Error());
  if (!readError.empty() && blocks == 0) return ExitFailure;
  for (auto& run : runs)
    if (run->Displays() && !WriteSnapshot(*run->Displays(), opt.SnapshotDir)) return ExitFailure;
  return readError.empty() && failures == 0 ? 0 : ExitFailure;
}

}  // namespace brontel::decode
