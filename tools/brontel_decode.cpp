// brontel-decode: the receiver without a window. Reads a recording (or raw PCM
// on standard input), runs it block by block through the receiver and prints
// the decoded text as it is received, or the bits of every block.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "audio/block_source.h"
#include "core/receiver.h"
#include "decoder/cp932.h"
#include "display/displays.h"
#ifdef BRONTEL_HAVE_QT_TEXT
#include "display/qt/qt_text_renderer.h"
#endif

namespace {

using namespace brontel;

constexpr const char* Usage =
    "usage: brontel-decode [options] FILE|-\n";

constexpr const char* Help =
    "usage: brontel-decode [options] FILE|-\n"
    "\n"
    "Decodes NAVTEX (English 518 kHz and Japanese 424 kHz services) from a\n"
    "recording. FILE is any audio file libsndfile reads (WAV, FLAC, Ogg; any\n"
    "sample rate, mono or stereo; the left channel is decoded), or - for raw\n"
    "signed 16-bit little-endian stereo PCM at 44100 Hz on standard input.\n"
    "\n"
    "By default every received line is printed as soon as it is finished,\n"
    "followed at the end of input by the unfinished line, if any.\n"
    "\n"
    "options:\n"
    "  --centf HZ        centre of the received tone pair, 200 to 2000 Hz\n"
    "                    (default 800; above 1500 Hz for USB recordings)\n"
    "  --encoding ENC    text encoding of the output: utf8 (default) or cp932\n"
    "                    (the received Shift_JIS bytes unconverted)\n"
    "  --status          also report changes of mode (ENG/JPN), polarity\n"
    "                    (POS/NEG) and synchronisation on standard error,\n"
    "                    stamped with the time in the input\n"
    "  --bits            instead of text, print one line per 0.1 s block:\n"
    "                    block index, number of bits, the bits (0/1)\n"
    "  --snapshot DIR    also run the displays (spectrum with waterfall, eye\n"
    "                    pattern with the POS/NEG and JPN/ENG labels) and after\n"
    "                    the last block write them as DIR/spectrum.png (256x145)\n"
    "                    and DIR/eye.png (180x145); DIR is created if needed.\n"
    "                    The labels are drawn and the PNG files written with\n"
    "                    QtGui (offscreen, no display needed); a build without\n"
    "                    the GUI (-DBUILD_GUI=OFF) refuses this option.\n"
    "                    Without it no display work is done.\n"
    "  --help            show this help\n";

struct TOptions {
  double CentF = 800.0;
  bool Bits = false;
  bool Status = false;
  bool Utf8 = true;
  std::string Input;
  std::string SnapshotDir;  // empty: no displays
};

[[noreturn]] void BadUsage(const std::string& why)
{
  std::fprintf(stderr, "brontel-decode: %s\n%s", why.c_str(), Usage);
  std::exit(2);
}

bool ParseNumber(const char* text, double& value)
{
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0';
}

TOptions ParseOptions(int argc, char** argv)
{
  TOptions o;
  bool haveInput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&](std::string_view name) -> const char* {
      if (i + 1 >= argc) BadUsage(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(Help, stdout);
      std::exit(0);
    } else if (a == "--bits") {
      o.Bits = true;
    } else if (a == "--status") {
      o.Status = true;
    } else if (a == "--snapshot") {
      const char* v = value(a);
#ifdef BRONTEL_HAVE_QT_TEXT
      if (*v == '\0') BadUsage("--snapshot needs a directory");
      o.SnapshotDir = v;
#else
      (void)v;
      BadUsage("--snapshot is not available: this brontel-decode was built without the GUI "
               "(-DBUILD_GUI=OFF), which draws the labels and writes the PNG files");
#endif
    } else if (a == "--centf") {
      const char* v = value(a);
      if (!ParseNumber(v, o.CentF) || !(o.CentF >= 200.0 && o.CentF <= 2000.0))
        BadUsage(std::string("--centf takes a frequency from 200 to 2000 Hz, not '") + v + "'");
    } else if (a == "--encoding") {
      const std::string_view v = value(a);
      if (v == "utf8" || v == "utf-8" || v == "UTF-8")
        o.Utf8 = true;
      else if (v == "cp932" || v == "CP932" || v == "sjis" || v == "shift_jis")
        o.Utf8 = false;
      else
        BadUsage("--encoding takes utf8 or cp932, not '" + std::string(v) + "'");
    } else if (a.size() > 1 && a[0] == '-') {
      BadUsage("unknown option '" + std::string(a) + "'");
    } else {
      if (haveInput) BadUsage("only one input can be decoded at a time");
      o.Input = a;
      haveInput = true;
    }
  }
  if (!haveInput) BadUsage("no input given");
  return o;
}

// Prints each line as soon as the decoder writes it to the memo.
class TLinePrinter final : public TTextSink {
public:
  explicit TLinePrinter(bool utf8) : Utf8(utf8) {}
  void LineWritten(std::string_view line) override { Print(line); }
  void Print(std::string_view line)
  {
    const std::string text = Utf8 ? Cp932ToUtf8(line) : std::string(line);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

private:
  bool Utf8;
};

// What --status reports of the decoder.
struct TStatus {
  bool EngMode, Inverted, InSync;
  explicit TStatus(const TChannelState& s) : EngMode(s.EngMode), Inverted(s.Inverted), InSync(s.InSync()) {}
};

// Prints what changed from `before` (everything when there is none), stamped
// with the time in the input at the end of the block.
void ReportStatus(const TStatus& now, double seconds, const TStatus* before)
{
  if (!before || before->EngMode != now.EngMode)
    std::fprintf(stderr, "[%9.1f s] mode %s\n", seconds, now.EngMode ? "ENG" : "JPN");
  if (!before || before->Inverted != now.Inverted)
    std::fprintf(stderr, "[%9.1f s] polarity %s\n", seconds, now.Inverted ? "NEG" : "POS");
  if (!before || before->InSync != now.InSync)
    std::fprintf(stderr, "[%9.1f s] %s\n", seconds, now.InSync ? "sync" : "no sync");
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

// Writes DIR/spectrum.png and DIR/eye.png; reports and returns false on failure.
bool WriteSnapshot(const TDisplays& displays, const std::string& dir)
{
#ifdef BRONTEL_HAVE_QT_TEXT
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "brontel-decode: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
    return false;
  }
  const std::filesystem::path base(dir);
  for (const auto& [name, raster] : {std::pair{"spectrum.png", &displays.SpectrumBitmap()},
                                     std::pair{"eye.png", &displays.EyeBitmap()}}) {
    const std::string path = (base / name).string();
    if (!SaveRasterPng(*raster, path)) {
      std::fprintf(stderr, "brontel-decode: cannot write %s\n", path.c_str());
      return false;
    }
  }
  return true;
#else
  (void)displays;
  (void)dir;
  return false;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
  const TOptions opt = ParseOptions(argc, argv);

  std::string error;
  std::unique_ptr<TBlockSource> source = OpenInput(opt.Input, error);
  if (!source) {
    std::fprintf(stderr, "brontel-decode: %s\n", error.c_str());
    return 1;
  }

  auto rx = std::make_unique<TReceiver>();
  rx->CentF = opt.CentF;
  TLinePrinter printer(opt.Utf8);
  if (!opt.Bits) rx->Text.Sink = &printer;

  // --snapshot: the displays run on every block (the receiver stays
  // display-free without it).
  TSnapshot snapshot;
  if (!opt.SnapshotDir.empty()) {
    if (!snapshot.Start(*rx)) {
      std::fprintf(stderr, "brontel-decode: --snapshot: QtGui cannot be started\n");
      return 1;
    }
  }
  TDisplays* displays = snapshot.Displays.get();

  const TChannelState& ch0 = rx->Channels[0];
  if (opt.Status) ReportStatus(TStatus(ch0), 0.0, nullptr);

  TBlock block;
  long index = 0;
  std::string bits;
  while (source->ReadBlock(block)) {
    const TStatus before(ch0);
    ProcessBlock(*rx, block);
    if (opt.Bits) {
      bits.assign(static_cast<std::size_t>(ch0.BitCount), '0');
      for (int i = 0; i < ch0.BitCount; ++i) bits[i] = static_cast<char>('0' + ch0.BitBuf[i]);
      std::printf("%ld %d%s%s\n", index, ch0.BitCount, bits.empty() ? "" : " ", bits.c_str());
    }
    if (opt.Status) ReportStatus(TStatus(ch0), index * 0.1, &before);
    ++index;
  }
  if (!source->Error().empty()) {
    std::fprintf(stderr, "brontel-decode: %s\n", source->Error().c_str());
    if (index == 0) return 1;
  }
  if (!opt.Bits && !ch0.LineText.empty()) printer.Print(ch0.LineText);
  std::fflush(stdout);
  if (displays && !WriteSnapshot(*displays, opt.SnapshotDir)) return 1;
  return source->Error().empty() ? 0 : 1;
}
