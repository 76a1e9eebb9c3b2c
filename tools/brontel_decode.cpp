// brontel-decode: the receiver without a window. Reads a recording (or raw PCM
// on standard input), runs it block by block through the receiver and prints
// the decoded text as it is received, or the bits of every block.
#include <cerrno>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "decoder/cp932.h"
#include "display/displays.h"
#include "io/block_source.h"
#ifdef BRONTEL_HAVE_LIVE
#include "audio/live_source.h"
#include "audio/wave_in.h"
#endif
#include "messages/format.h"
#include "messages/reception.h"
#include "nmea/nrx_out.h"
#include "session/receiver_session.h"
#include "tool_support.h"
#ifdef BRONTEL_HAVE_QT_TEXT
#include <QBuffer>
#include <QByteArray>

#include "display/qt/qt_text_renderer.h"
#endif

namespace {

using namespace brontel;
using namespace brontel::tool;
namespace fs = std::filesystem;

enum class TEncoding { Utf8, Cp932 };
enum class TChannels { Left, Right, Both };

// Everything the command line sets.
struct TDecodeOptions {
  std::string Input;  // a file, or "-" for raw PCM on standard input
  std::vector<double> CentF{800.0};  // the left channel's centre (and the right's)
  TEncoding Encoding = TEncoding::Utf8;
  bool Status = false;
  bool Bits = false;
  std::string SnapshotDir;  // empty: no displays
  TDecoderPath Decoder = TDecoderPath::Exact;
  TChannels Channels = TChannels::Left;
  bool Messages = false;    // print completed messages as text
  bool Json = false;        // print completed messages as JSON Lines
  std::string Store;        // store messages in this file
  std::string StartTime;    // UTC at the start of the recording
  std::string Output;       // write the text or messages to this file (appended)
  std::string NmeaUdp;      // send NRX sentences to HOST:PORT
  std::vector<double> FrequencyKhz;  // the receiver's frequency for each channel (NRX)
  int NrxFrequencyIndex = -1;  // sent instead of the one the frequency gives (negative: none)
  TRawFormat Raw;           // the format of raw input
  bool RawFile = false;     // FILE is raw samples too (any --raw-* option given)
  bool Live = false;        // record from the sound server instead of reading FILE
  std::string Device;       // the input device of --live (empty: the standard input device)
  bool ListDevices = false;
};

#ifdef BRONTEL_HAVE_LIVE
constexpr bool HaveLive = true;
#else
constexpr bool HaveLive = false;
#endif

#ifdef BRONTEL_HAVE_QT_TEXT
constexpr bool HaveSnapshot = true;
#else
constexpr bool HaveSnapshot = false;
#endif

// The numbers of "A" or "A,B", each from lo to hi; false for anything else.
bool NumberPair(const std::string& text, double lo, double hi, std::vector<double>& out)
{
  out.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    double v = 0.0;
    if (!ParseNumber(text.substr(start, comma - start), v) || !(v >= lo && v <= hi)) return false;
    out.push_back(v);
    if (comma == std::string::npos) return out.size() <= 2;
    start = comma + 1;
  }
}

// An option taking one value, or two separated by a comma (left, right).
CLI::Option* AddNumberPair(CLI::App& app, const std::string& name, std::vector<double>& values, double lo, double hi,
                           const std::string& help)
{
  auto* opt = app.add_option_function<std::string>(
      name, [&values, lo, hi](const std::string& text) { NumberPair(text, lo, hi, values); }, help);
  opt->check(CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        std::vector<double> v;
        if (NumberPair(text, lo, hi, v)) return {};
        return "takes one or two numbers (L,R) from " + std::to_string(static_cast<int>(lo)) + " to " +
               std::to_string(static_cast<int>(hi)) + ", not '" + text + "'";
      },
      ""));
  return opt;
}

// Fills `o` from the command line; returns the exit status when the program
// should stop (after --help or on a bad option).
std::optional<int> ParseOptions(int argc, char** argv, TDecodeOptions& o)
{
  CLI::App app(
      "Decodes NAVTEX (English 518 kHz and Japanese 424 kHz services) from a recording.\n"
      "FILE is any audio file libsndfile reads (WAV, FLAC, Ogg; any sample rate, mono or\n"
      "stereo; the left channel is decoded unless --channel says otherwise), or - for raw\n"
      "signed 16-bit little-endian stereo PCM at 44100 Hz on standard input.\n"
      "\n"
      "Every received line is printed as soon as it is finished, followed at the end of\n"
      "input by the unfinished line, if any; with --messages or --json, every completed\n"
      "message instead. Bad options exit with status 2, input or output that fails with\n"
      "status 1.",
      "brontel-decode");
  SetUpApp(app);
  app.add_option("FILE", o.Input, "the recording, or - for raw PCM on standard input")->type_name("FILE|-");
  auto* live = app.add_option("--live", o.Device,
                              "record from the sound server and decode until SIGINT or SIGTERM\n"
                              "(DEVICE: a row of --list-devices or part of a name; default\n"
                              "the standard input device)")
                   ->type_name("[DEVICE]")
                   ->expected(0, 1);
  app.add_flag("--list-devices", o.ListDevices, "list the input devices (monitors included) and stop");
  auto* rawRate = app.add_option("--raw-rate", o.Raw.Rate, "sample rate of raw input, Hz (default 44100)")
                      ->type_name("HZ")
                      ->check(CLI::Range(MinRawRate, MaxRawRate));
  auto* rawChannels = app.add_option("--raw-channels", o.Raw.Channels, "channels of raw input, 1 or 2 (default 2)")
                          ->type_name("N")
                          ->check(CLI::IsMember({1, 2}));
  auto* rawFormat = AddKeyword(app, "--raw-format", o.Raw.Sample,
                               {{"s16", TRawFormat::TSample::S16}, {"f32", TRawFormat::TSample::F32}},
                               "samples of raw input: s16 (16-bit integers, default) or f32\n"
                               "(32-bit floats, 1.0 full scale), little-endian; any --raw-*\n"
                               "option makes FILE raw as well")
                        ->type_name("FMT");
  AddNumberPair(app, "--centf", o.CentF, 200.0, 2000.0,
                "centre of the received tone pair, 200 to 2000 Hz (default 800;\n"
                "above 1500 Hz for recordings made in USB mode); L,R gives each\n"
                "channel its own with --channel both")
      ->type_name("HZ[,HZ]");
  AddKeyword(app, "--encoding", o.Encoding,
             {{"utf8", TEncoding::Utf8}, {"cp932", TEncoding::Cp932}, {"utf-8", TEncoding::Utf8},
              {"sjis", TEncoding::Cp932}, {"shift_jis", TEncoding::Cp932}},
             "text encoding of the output: utf8 (default) or cp932 (the\n"
             "received Shift_JIS bytes unconverted)")
      ->type_name("ENC");
  AddKeyword(app, "--decoder", o.Decoder, {{"exact", TDecoderPath::Exact}, {"robust", TDecoderPath::Robust}},
             "exact (default): the phase discriminator chain; robust: the path for weak,\n"
             "fading and mistuned signals (soft decisions, error correction,\n"
             "synchronisation from the traffic, * or 〓 for a lost character)")
      ->type_name("PATH");
  AddKeyword(app, "--channel", o.Channels,
             {{"left", TChannels::Left}, {"right", TChannels::Right}, {"both", TChannels::Both}},
             "the input channel to decode: left (default), right, or both as\n"
             "two independent receivers (output lines marked L: and R:)")
      ->type_name("CH");
  app.add_flag("--status", o.Status,
               "also report changes of mode (ENG/JPN), polarity (POS/NEG) and\n"
               "synchronisation on standard error, stamped with the time in the\n"
               "input at the end of the block that brought them; with the robust\n"
               "path also its signal, tuning offset and signal-to-noise ratio");
  app.add_flag("--bits", o.Bits,
               "instead of text, one line per 0.1 s block: block index, number\n"
               "of bits, the bits (0/1) of the exact path");
  app.add_flag("--messages", o.Messages,
               "print each completed message (ZCZC ... NNNN) with a header line:\n"
               "time, identity, station, subject, serial, error estimate, status");
  app.add_flag("--json", o.Json, "print each completed message as one JSON object per line");
  app.add_option("--store", o.Store,
                 "keep the messages in this message store (SQLite), where\n"
                 "repeats are recognised and repaired (brontel-messages reads it);\n"
                 "without it a recording stores nothing")
      ->type_name("FILE");
  app.add_option("--start-time", o.StartTime,
                 "UTC at the start of the recording, e.g. 2026-12-07T10:42:05Z\n"
                 "(default: the file's modification time)")
      ->type_name("TIME")
      ->check(CLI::Validator(
          [](std::string& t) -> std::string {
            double utc = 0.0;
            return msg::ParseIsoTime(t, utc) ? "" : "takes a UTC time such as 2026-12-07T10:42:05Z, not '" + t + "'";
          },
          ""));
  app.add_option("--output", o.Output,
                 "append the text, messages or JSON to this file instead of\n"
                 "standard output, flushed line by line")
      ->type_name("FILE");
  app.add_option("--nmea-udp", o.NmeaUdp,
                 "send every new message as NMEA 0183 NRX sentences in UDP\n"
                 "datagrams to HOST:PORT (chart plotters, navigation programs;\n"
                 "a broadcast address reaches every one on the network)")
      ->type_name("HOST:PORT")
      ->check(CLI::Validator(
          [](std::string& destination) -> std::string {
            std::string host, port, error;
            return SplitUdpDestination(destination, host, port, error) ? "" : error;
          },
          ""));
  AddNumberPair(app, "--frequency", o.FrequencyKhz, 10.0, 30000.0,
                "the receiver's frequency in kHz (490, 518 or 4209.5; L,R with\n"
                "--channel both), reported in NRX sentences (default 518 for\n"
                "English, none for Japanese)")
      ->type_name("KHZ[,KHZ]");
  app.add_option("--nrx-frequency-index", o.NrxFrequencyIndex,
                 "the frequency index NRX sentences carry, 0 to 9, instead of the\n"
                 "one --frequency gives (0 for 424 kHz, which has no index)")
      ->type_name("N")
      ->check(CLI::Range(0, 9));
  app.add_option("--snapshot", o.SnapshotDir,
                 "also run the displays and after the last block write them as\n"
                 "DIR/spectrum.png (spectrum and waterfall, 256x145) and\n"
                 "DIR/eye.png (eye pattern with the POS/NEG and JPN/ENG labels,\n"
                 "180x145); DIR is created if needed. Drawn with QtGui\n"
                 "(offscreen); a build without the GUI refuses this option")
      ->type_name("DIR")
      ->check(CLI::Validator(
          [](std::string& dir) -> std::string {
            if (!HaveSnapshot)
              return "not available: this brontel-decode was built without the GUI (-DBUILD_GUI=OFF), "
                     "which draws the labels and writes the PNG files";
            return dir.empty() ? "needs a directory" : "";
          },
          ""));
  if (const std::optional<int> status = ParseCommandLine(app, argc, argv)) return status;
  o.Live = live->count() > 0;
  o.RawFile = rawRate->count() > 0 || rawChannels->count() > 0 || rawFormat->count() > 0;
  if ((o.Live || o.ListDevices) && !HaveLive) {
    std::fprintf(stderr, "brontel-decode: live capture is not available: built without the sound layer\n");
    return ExitUsage;
  }
  if (o.ListDevices) return std::nullopt;
  if (o.Live == !o.Input.empty()) {
    std::fprintf(stderr, "brontel-decode: give a FILE (or -) or --live, one of them\n"
                         "Run 'brontel-decode --help' for the options.\n");
    return ExitUsage;
  }
  if (o.Messages && o.Json) {
    std::fprintf(stderr, "brontel-decode: --messages and --json cannot be combined\n");
    return ExitUsage;
  }
  if (o.Bits && (o.Messages || o.Json)) {
    std::fprintf(stderr, "brontel-decode: --bits prints bits, not messages\n");
    return ExitUsage;
  }
  return std::nullopt;
}

// An output stream (standard output or an --output file) with its errors
// noticed: after the first failed write nothing more is written and Error()
// says why.
class TOutput {
public:
  bool Open(const std::string& path, std::string& error)
  {
    if (path.empty()) return true;
    File = std::fopen(path.c_str(), "ab");
    if (!File) {
      error = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    Name = path;
    return true;
  }
  ~TOutput()
  {
    if (File != stdout) std::fclose(File);
  }
  std::FILE* Stream() const { return File; }
  void Write(std::string_view text)
  {
    if (Err.empty() && std::fwrite(text.data(), 1, text.size(), File) != text.size()) Fail();
  }
  void Flush()
  {
    if (Err.empty() && (std::fflush(File) != 0 || std::ferror(File))) Fail();
  }
  bool Ok() const { return Err.empty() && !std::ferror(File); }
  std::string Error()
  {
    if (Err.empty() && std::ferror(File)) Fail();
    return Err;
  }

private:
  void Fail() { Err = "cannot write to " + Name + ": " + std::strerror(errno ? errno : EIO); }
  std::FILE* File = stdout;
  std::string Name = "standard output";
  std::string Err;
};

// Prints each line as soon as the decoder writes it to the memo.
class TLinePrinter final : public TTextSink {
public:
  TLinePrinter(TOutput& out, TEncoding encoding, std::string prefix)
      : Out(out), Encoding(encoding), Prefix(std::move(prefix))
  {
  }
  void LineWritten(std::string_view line, std::span<const float>) override { Print(line); }
  void Print(std::string_view line)
  {
    std::string text = Prefix;
    text += Encoding == TEncoding::Utf8 ? Cp932ToUtf8(line) : std::string(line);
    text.push_back('\n');
    Out.Write(text);
    Out.Flush();
  }

private:
  TOutput& Out;
  TEncoding Encoding;
  std::string Prefix;
};

// Prints what changed from `before` (everything when there is none), stamped
// with `seconds`; `who` names the path (and channel) when it is not the only one.
void ReportStatus(const std::string& who, const TDecoderStatus& now, double seconds, const TDecoderStatus* before)
{
  if (!before || before->EngMode != now.EngMode)
    std::fprintf(stderr, "[%9.1f s] %smode %s\n", seconds, who.c_str(), now.EngMode ? "ENG" : "JPN");
  if (!before || before->Inverted != now.Inverted)
    std::fprintf(stderr, "[%9.1f s] %spolarity %s\n", seconds, who.c_str(), now.Inverted ? "NEG" : "POS");
  if (!before || before->InSync != now.InSync)
    std::fprintf(stderr, "[%9.1f s] %s%s\n", seconds, who.c_str(), now.InSync ? "sync" : "no sync");
}

// The robust demodulator's view of the signal, reported when a signal comes
// or goes.
void ReportSignal(const std::string& who, const TRobustPath& robust, double seconds)
{
  if (robust.SignalPresent())
    std::fprintf(stderr, "[%9.1f s] %ssignal, offset %+.1f Hz, %.2f Bd, SNR %.1f dB in 500 Hz\n", seconds, who.c_str(),
                 robust.FrequencyOffset(), robust.BitRate(), robust.SnrDb());
  else
    std::fprintf(stderr, "[%9.1f s] %sno signal\n", seconds, who.c_str());
}

// One line of --bits: block index, bit count, the bits.
std::string BitsLine(const std::string& prefix, long index, const TChannelState& ch)
{
  std::string line = prefix + std::to_string(index) + " " + std::to_string(ch.BitCount);
  if (ch.BitCount > 0) line.push_back(' ');
  for (int i = 0; i < ch.BitCount; ++i) line.push_back(static_cast<char>('0' + ch.BitBuf[i]));
  line.push_back('\n');
  return line;
}

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

int Fail(const std::string& message)
{
  std::fprintf(stderr, "brontel-decode: %s\n", message.c_str());
  return ExitFailure;
}

// One receiver on one channel of the input, with what it prints and stores.
class TChannelRun {
public:
  TChannelRun(const TDecodeOptions& opt, int channel, TOutput& out, TNrxSender& nmea, TTextRenderer* labels)
      : Opt(opt), Channel(channel), Nmea(nmea),
        Who(opt.Channels == TChannels::Both ? (channel == 0 ? "L: " : "R: ") : ""),
        Printer(out, opt.Encoding, Who), Session(SessionOptions(opt, channel, labels))
  {
    const std::size_t i = static_cast<std::size_t>(channel);
    FrequencyKhz = i < opt.FrequencyKhz.size() ? opt.FrequencyKhz[i] : (opt.FrequencyKhz.size() == 1 ? opt.FrequencyKhz[0] : 0.0);
    if (!opt.Bits) Session.SetSink(&Printer);
  }

  // Starts message assembly (and storing) when asked for; false with `error`.
  // `recording`: input times are offsets into a recording starting at `epoch`.
  bool StartMessages(TOutput& out, double epoch, bool recording, std::string& error)
  {
    if (Opt.Bits || (!Opt.Messages && !Opt.Json && Opt.Store.empty() && Opt.NmeaUdp.empty())) return true;
    msg::TReceptionOptions m;
    const msg::TPrint print = Opt.Json ? msg::TPrint::Json : Opt.Messages ? msg::TPrint::Text : msg::TPrint::None;
    m.StorePath = Opt.Store;
    m.Print = print;
    m.Utf8 = Opt.Encoding == TEncoding::Utf8;
    m.WithChannel = Opt.Channels == TChannels::Both;
    m.Out = out.Stream();
    m.Assembler.Epoch = epoch;
    m.Assembler.Recording = recording;
    m.Assembler.Decoder = Opt.Decoder == TDecoderPath::Robust ? "robust" : "exact";
    m.Assembler.Channel = Channel == 0 ? "left" : "right";
    Messages = msg::TMessageReception::Open(std::move(m), error);
    if (!Messages) return false;
    Messages->OnMessage = [this](const msg::TMessage& message) {
      std::string error;
      if (!Nmea.Send(message, FrequencyKhz, error)) std::fprintf(stderr, "brontel-decode: %s\n", error.c_str());
    };
    if (print == msg::TPrint::None) Messages->Forward(&Printer);
    Session.SetSink(&Messages->Sink());
    return true;
  }

  void Block(const TBlock& input, TOutput& out, long index)
  {
    if (Channel == 0) {
      Session.ProcessBlock(input);
    } else {
      for (int j = 0; j < FramesPerBlock; ++j) {
        Swapped[2 * j] = input[2 * j + 1];
        Swapped[2 * j + 1] = input[2 * j];
      }
      Session.ProcessBlock(Swapped);
    }
    const double end = static_cast<double>(index + 1) * 0.1;
    if (Opt.Bits) out.Write(BitsLine(Who, index, Session.Channel()));
    const TDecoderStatus now = Session.Status();
    if (Messages) Messages->AfterBlock(end, now.InSync, now.EngMode);
    // A change is seen once the whole block is in: stamp it with the block's end.
    if (Opt.Status) Report(end);
  }

  void StartStatus()
  {
    if (!Opt.Status) return;
    Last = Session.Status();
    ReportStatus(Who, Last, 0.0, nullptr);
  }

  // End of input at time t: what the decoders still hold is written.
  void Finish(double t)
  {
    Session.Finish();
    if (Messages) {
      Messages->Finish(t, Session.LineText());
    } else if (!Opt.Bits && !Session.LineText().empty()) {
      Printer.Print(Session.LineText());
    }
  }

  int StoreFailures() const { return Messages ? Messages->StoreFailures() : 0; }
  // Sound was lost before the next block.
  void Gap(int blocksLost) { NoteInputGap(Session.Receiver(), blocksLost); }
  TDisplays* Displays() { return Session.Displays(); }

private:
  static TSessionOptions SessionOptions(const TDecodeOptions& opt, int channel, TTextRenderer* labels)
  {
    TSessionOptions s;
    const std::size_t i = static_cast<std::size_t>(channel);
    s.CentF = i < opt.CentF.size() ? opt.CentF[i] : opt.CentF.front();
    s.Decoder = opt.Decoder;
    s.Displays = !opt.SnapshotDir.empty() && channel == (opt.Channels == TChannels::Right ? 1 : 0);
    s.Labels = labels;
    return s;
  }

  void Report(double t)
  {
    const TDecoderStatus now = Session.Status();
    ReportStatus(Who, now, t, &Last);
    Last = now;
    if (const TRobustPath* robust = Session.Receiver().Robust.get()) {
      if (robust->SignalPresent() != Signal) ReportSignal(Who, *robust, t);
      Signal = robust->SignalPresent();
    }
  }

  const TDecodeOptions& Opt;
  const int Channel;
  TNrxSender& Nmea;
  const std::string Who;
  TLinePrinter Printer;
  TReceiverSession Session;
  std::unique_ptr<msg::TMessageReception> Messages;
  TBlock Swapped{};
  TDecoderStatus Last;
  bool Signal = false;
  double FrequencyKhz = 0.0;
};

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

int Decode(const TDecodeOptions& opt)
{
  std::string error;
#ifdef BRONTEL_HAVE_LIVE
  if (opt.ListDevices) return ListInputDevices();
  std::unique_ptr<TWaveInDriver> driver;  // outlives the live source
#endif
  std::unique_ptr<TBlockSource> source;
  if (!opt.Live) {
    source = opt.Input == "-" || opt.RawFile ? OpenRawInput(opt.Input, opt.Raw, error) : OpenAudioFile(opt.Input, error);
    if (!source) return Fail(error);
  }
  if (!opt.SnapshotDir.empty() && !PrepareSnapshotDir(opt.SnapshotDir, error)) return Fail(error);
  double epoch = static_cast<double>(std::time(nullptr));
  if (!opt.Live &&
      !msg::RecordingEpoch(opt.Input, opt.StartTime.empty() ? std::nullopt : std::optional(opt.StartTime), epoch, error))
    return Fail(error);

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
  if (opt.Channels != TChannels::Right) runs.push_back(std::make_unique<TChannelRun>(opt, 0, out, nmea, labels.Renderer()));
  if (opt.Channels != TChannels::Left) runs.push_back(std::make_unique<TChannelRun>(opt, 1, out, nmea, labels.Renderer()));
  for (auto& run : runs) {
    if (!run->StartMessages(out, epoch, !opt.Live, error)) return Fail(error);
    run->StartStatus();
  }

  TBlock block;
  long index = 0;
#ifdef BRONTEL_HAVE_LIVE
  if (opt.Live) {
    // Blocks lost while the program could not keep up end the lines being
    // received and move the clock on.
    driver = MakePulseWaveInDriver();
    TLiveOptions live;
    live.Device = opt.Device;
    live.OnNotice = [](const std::string& s) { std::fprintf(stderr, "brontel-decode: %s\n", s.c_str()); };
    live.OnGap = [&](int lost) {
      for (auto& run : runs) run->Gap(lost);
      index += lost;
      if (opt.Status)
        std::fprintf(stderr, "[%9.1f s] overrun: %d blocks lost\n", static_cast<double>(index) * 0.1, lost);
      else
        std::fprintf(stderr, "brontel-decode: %.1f s of sound lost (the program could not keep up)\n", lost * 0.1);
    };
    auto capture = std::make_unique<TLiveSource>(*driver, std::move(live));
    InstallStopSignals(*capture);
    source = std::move(capture);
  }
#endif
  while (source->ReadBlock(block)) {
    for (auto& run : runs) run->Block(block, out, index);
    ++index;
    if (!out.Ok()) return Fail(out.Error());
  }
  if (!source->Error().empty()) {
    std::fprintf(stderr, "brontel-decode: %s\n", source->Error().c_str());
    if (index == 0) return ExitFailure;
  }
  int failures = 0;
  for (auto& run : runs) {
    run->Finish(static_cast<double>(index) * 0.1);
    failures += run->StoreFailures();
  }
  if (nmea.Failures() > 0) {
    std::fprintf(stderr, "brontel-decode: NRX sentences not sent whole for %d message(s) to %s\n", nmea.Failures(),
                 opt.NmeaUdp.c_str());
    failures += nmea.Failures();
  }
  out.Flush();
  if (!out.Ok()) return Fail(out.Error());
  for (auto& run : runs)
    if (run->Displays() && !WriteSnapshot(*run->Displays(), opt.SnapshotDir)) return ExitFailure;
  return source->Error().empty() && failures == 0 ? 0 : ExitFailure;
}

}  // namespace

int main(int argc, char** argv)
{
  TDecodeOptions options;
  if (const std::optional<int> status = ParseOptions(argc, argv, options)) return *status;
  try {
    return Decode(options);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
