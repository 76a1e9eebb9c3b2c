// brontel-decode: the receiver without a window. Reads a recording (or raw PCM
// on standard input), runs it block by block through the receiver and prints
// the decoded text as it is received, or the bits of every block.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <stdlib.h>
#include <unistd.h>

#include "core/receiver.h"
#include "decoder/cp932.h"
#include "display/displays.h"
#include "io/block_source.h"
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

// Everything the command line sets.
struct TDecodeOptions {
  std::string Input;  // a file, or "-" for raw PCM on standard input
  double CentF = 800.0;
  TEncoding Encoding = TEncoding::Utf8;
  bool Status = false;
  bool Bits = false;
  std::string SnapshotDir;  // empty: no displays
};

#ifdef BRONTEL_HAVE_QT_TEXT
constexpr bool HaveSnapshot = true;
#else
constexpr bool HaveSnapshot = false;
#endif

// Fills `o` from the command line; returns the exit status when the program
// should stop (after --help or on a bad option).
std::optional<int> ParseOptions(int argc, char** argv, TDecodeOptions& o)
{
  CLI::App app(
      "Decodes NAVTEX (English 518 kHz and Japanese 424 kHz services) from a recording.\n"
      "FILE is any audio file libsndfile reads (WAV, FLAC, Ogg; any sample rate, mono or\n"
      "stereo; the left channel is decoded), or - for raw signed 16-bit little-endian\n"
      "stereo PCM at 44100 Hz on standard input.\n"
      "\n"
      "Every received line is printed as soon as it is finished, followed at the end of\n"
      "input by the unfinished line, if any. Bad options exit with status 2, input or\n"
      "output that fails with status 1.",
      "brontel-decode");
  SetUpApp(app);
  app.add_option("FILE", o.Input, "the recording, or - for raw PCM on standard input")
      ->required()
      ->type_name("FILE|-");
  app.add_option("--centf", o.CentF,
                 "centre of the received tone pair, 200 to 2000 Hz (default 800;\n"
                 "above 1500 Hz for recordings made in USB mode)")
      ->type_name("HZ")
      ->check(NumberIn(200.0, 2000.0));
  AddKeyword(app, "--encoding", o.Encoding,
             {{"utf8", TEncoding::Utf8}, {"cp932", TEncoding::Cp932}, {"utf-8", TEncoding::Utf8},
              {"sjis", TEncoding::Cp932}, {"shift_jis", TEncoding::Cp932}},
             "text encoding of the output: utf8 (default) or cp932 (the\n"
             "received Shift_JIS bytes unconverted)")
      ->type_name("ENC");
  app.add_flag("--status", o.Status,
               "also report changes of mode (ENG/JPN), polarity (POS/NEG) and\n"
               "synchronisation on standard error, stamped with the time in the\n"
               "input at the end of the block that brought them");
  app.add_flag("--bits", o.Bits,
               "instead of text, one line per 0.1 s block: block index, number\n"
               "of bits, the bits (0/1)");
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
  return ParseCommandLine(app, argc, argv);
}

// Standard output with its errors noticed: after the first failed write
// nothing more is written and Error() says why.
class TOutput {
public:
  void Write(std::string_view text)
  {
    if (Err.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) Fail();
  }
  void Flush()
  {
    if (Err.empty() && (std::fflush(stdout) != 0 || std::ferror(stdout))) Fail();
  }
  bool Ok() const { return Err.empty(); }
  const std::string& Error() const { return Err; }

private:
  void Fail() { Err = std::string("cannot write to standard output: ") + std::strerror(errno ? errno : EIO); }
  std::string Err;
};

// Prints each line as soon as the decoder writes it to the memo.
class TLinePrinter final : public TTextSink {
public:
  TLinePrinter(TOutput& out, TEncoding encoding) : Out(out), Encoding(encoding) {}
  void LineWritten(std::string_view line) override { Print(line); }
  void Print(std::string_view line)
  {
    std::string text = Encoding == TEncoding::Utf8 ? Cp932ToUtf8(line) : std::string(line);
    text.push_back('\n');
    Out.Write(text);
    Out.Flush();
  }

private:
  TOutput& Out;
  TEncoding Encoding;
};

// What --status reports of the decoder.
struct TStatus {
  bool EngMode, Inverted, InSync;
  explicit TStatus(const TChannelState& s) : EngMode(s.EngMode), Inverted(s.Inverted), InSync(s.InSync()) {}
};

// Prints what changed from `before` (everything when there is none), stamped
// with `seconds`.
void ReportStatus(const TStatus& now, double seconds, const TStatus* before)
{
  if (!before || before->EngMode != now.EngMode)
    std::fprintf(stderr, "[%9.1f s] mode %s\n", seconds, now.EngMode ? "ENG" : "JPN");
  if (!before || before->Inverted != now.Inverted)
    std::fprintf(stderr, "[%9.1f s] polarity %s\n", seconds, now.Inverted ? "NEG" : "POS");
  if (!before || before->InSync != now.InSync)
    std::fprintf(stderr, "[%9.1f s] %s\n", seconds, now.InSync ? "sync" : "no sync");
}

// One line of --bits: block index, bit count, the bits.
std::string BitsLine(long index, const TChannelState& ch)
{
  std::string line = std::to_string(index) + " " + std::to_string(ch.BitCount);
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

// The displays of --snapshot with their label renderer; the Qt application
// it needs is released after them.
struct TSnapshot {
#ifdef BRONTEL_HAVE_QT_TEXT
  std::unique_ptr<TQtTextRenderer> Text;
#endif
  std::unique_ptr<TDisplays> Displays;

  bool Start(TReceiver& rx)
  {
#ifdef BRONTEL_HAVE_QT_TEXT
    if (!EnsureGuiApplication()) return false;
    Text = std::make_unique<TQtTextRenderer>();
    Displays = std::make_unique<TDisplays>(rx, Text.get());
#else
    Displays = std::make_unique<TDisplays>(rx);
#endif
    rx.Displays = Displays.get();
    return true;
  }
  ~TSnapshot()
  {
    Displays.reset();
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

int Decode(const TDecodeOptions& opt)
{
  std::string error;
  std::unique_ptr<TBlockSource> source = OpenInput(opt.Input, error);
  if (!source) return Fail(error);
  if (!opt.SnapshotDir.empty() && !PrepareSnapshotDir(opt.SnapshotDir, error)) return Fail(error);

  auto rx = std::make_unique<TReceiver>();
  rx->CentF = opt.CentF;
  TOutput out;
  TLinePrinter printer(out, opt.Encoding);
  if (!opt.Bits) rx->Text.Sink = &printer;

  // --snapshot: the displays run on every block (the receiver stays
  // display-free without it).
  TSnapshot snapshot;
  if (!opt.SnapshotDir.empty() && !snapshot.Start(*rx)) return Fail("--snapshot: QtGui cannot be started");

  const TChannelState& ch0 = rx->Channels[0];
  if (opt.Status) ReportStatus(TStatus(ch0), 0.0, nullptr);

  TBlock block;
  long index = 0;
  while (source->ReadBlock(block)) {
    const TStatus before(ch0);
    ProcessBlock(*rx, block);
    if (opt.Bits) out.Write(BitsLine(index, ch0));
    ++index;
    // A change is seen once the whole block is in: stamp it with the block's end.
    if (opt.Status) ReportStatus(TStatus(ch0), index * 0.1, &before);
    if (!out.Ok()) return Fail(out.Error());
  }
  if (!source->Error().empty()) {
    std::fprintf(stderr, "brontel-decode: %s\n", source->Error().c_str());
    if (index == 0) return ExitFailure;
  }
  if (!opt.Bits && !ch0.LineText.empty()) printer.Print(ch0.LineText);
  out.Flush();
  if (!out.Ok()) return Fail(out.Error());
  if (snapshot.Displays && !WriteSnapshot(*snapshot.Displays, opt.SnapshotDir)) return ExitFailure;
  return source->Error().empty() ? 0 : ExitFailure;
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
