// navtex-gen: writes a NAVTEX emission (phasing, message, idle) as a WAV file,
// 44100 Hz 16-bit stereo with the signal on the left channel.
#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "signal/navtex_signal.h"

namespace {

using namespace brontel::gen;

constexpr const char* Usage = "usage: navtex-gen [options] OUTPUT.wav\n";

constexpr const char* Help =
    "usage: navtex-gen [options] OUTPUT.wav\n"
    "\n"
    "Writes one NAVTEX emission as a WAV file (44100 Hz, 16-bit stereo, the\n"
    "signal on the left channel, the right channel silent): leading silence,\n"
    "phasing, the message with every character sent twice (first transmission\n"
    "and repetition five slots later), end-of-emission idle, trailing silence.\n"
    "\n"
    "The message is the UTF-8 text of --text, of --text-file, or else standard\n"
    "input; a line end is added at its end if it has none.\n"
    "  English: ASCII letters (sent as capitals), figures, space and\n"
    "           - ? : ( ) . , / = + ' are not all available: the code has\n"
    "           5=?/37 1(9,.)480:+6-2 and A-Z; anything else is refused.\n"
    "  Japanese: characters of JIS X 0208 (kanji, kana, full-width forms);\n"
    "           printable ASCII is sent as its full-width form.\n"
    "\n"
    "options:\n"
    "  --service eng|jpn   English 7-unit (default) or Japanese 10-unit\n"
    "  --text TEXT         the message\n"
    "  --text-file FILE    the message from a UTF-8 file\n"
    "  --centf HZ          centre of the tone pair (default 800)\n"
    "  --baud RATE         bit rate (default 100; e.g. 99.75 for a clock error)\n"
    "  --amplitude A       tone amplitude in 16-bit units (default 8000)\n"
    "  --snr DB            add white noise: tone power / noise power in the\n"
    "                      noise bandwidth (default: no noise)\n"
    "  --noise-bw HZ       bandwidth the SNR refers to (default 500)\n"
    "  --seed N            noise seed (default 1)\n"
    "  --offset HZ         frequency offset of both tones (default 0)\n"
    "  --fading HZ         Rayleigh fading with this Doppler spread (default 0: none)\n"
    "  --invert            inverted polarity\n"
    "  --phasing SECONDS   phasing before the message (default 10)\n"
    "  --idle SECONDS      idle after the message (default 2)\n"
    "  --lead SECONDS      silence (or noise, with --snr) before (default 0.5)\n"
    "  --tail SECONDS      silence (or noise) after (default 1)\n"
    "  --help              show this help\n";

[[noreturn]] void BadUsage(const std::string& why)
{
  std::fprintf(stderr, "navtex-gen: %s\n%s", why.c_str(), Usage);
  std::exit(2);
}

double Number(const char* name, const char* text, double lo, double hi)
{
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (errno || end == text || *end || !(v >= lo && v <= hi))
    BadUsage(std::string(name) + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
             ", not '" + text + "'");
  return v;
}

}  // namespace

int main(int argc, char** argv)
{
  TFskParams fsk;
  TEmission emission;
  bool inverted = false;
  double lead = 0.5, tail = 1.0;
  std::string text, textFile, output;
  bool haveText = false, haveFile = false;

  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) BadUsage(std::string(a) + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(Help, stdout);
      return 0;
    } else if (a == "--service") {
      const std::string_view v = value();
      if (v == "eng" || v == "english")
        emission.Service = TService::English;
      else if (v == "jpn" || v == "japanese")
        emission.Service = TService::Japanese;
      else
        BadUsage("--service takes eng or jpn");
    } else if (a == "--text") {
      text = value();
      haveText = true;
    } else if (a == "--text-file") {
      textFile = value();
      haveFile = true;
    } else if (a == "--centf") {
      fsk.CentF = Number("--centf", value(), 100, 20000);
    } else if (a == "--baud") {
      fsk.Baud = Number("--baud", value(), 10, 1000);
    } else if (a == "--amplitude") {
      fsk.Amplitude = Number("--amplitude", value(), 0, 32767);
    } else if (a == "--snr") {
      fsk.SnrDb = Number("--snr", value(), -60, 200);
    } else if (a == "--noise-bw") {
      fsk.NoiseBandwidth = Number("--noise-bw", value(), 1, 22050);
    } else if (a == "--seed") {
      fsk.Seed = static_cast<uint32_t>(Number("--seed", value(), 0, 4294967295.0));
    } else if (a == "--offset") {
      fsk.Offset = Number("--offset", value(), -1000, 1000);
    } else if (a == "--fading") {
      fsk.FadingDoppler = Number("--fading", value(), 0, 100);
    } else if (a == "--invert") {
      inverted = true;
    } else if (a == "--phasing") {
      emission.PhasingSeconds = Number("--phasing", value(), 0, 3600);
    } else if (a == "--idle") {
      emission.IdleSeconds = Number("--idle", value(), 0, 3600);
    } else if (a == "--lead") {
      lead = Number("--lead", value(), 0, 3600);
    } else if (a == "--tail") {
      tail = Number("--tail", value(), 0, 3600);
    } else if (a.size() > 1 && a[0] == '-') {
      BadUsage("unknown option '" + std::string(a) + "'");
    } else {
      if (!output.empty()) BadUsage("only one output file");
      output = a;
    }
  }
  if (output.empty()) BadUsage("no output file given");
  if (haveText && haveFile) BadUsage("give either --text or --text-file");

  if (haveFile) {
    std::ifstream in(textFile, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "navtex-gen: cannot read %s\n", textFile.c_str());
      return 1;
    }
    text.assign(std::istreambuf_iterator<char>(in), {});
  } else if (!haveText) {
    std::ostringstream s;
    s << std::cin.rdbuf();
    text = s.str();
  }
  if (text.empty() || text.back() != '\n') text.push_back('\n');

  std::vector<uint8_t> codes;
  std::string error;
  const bool ok = emission.Service == TService::English ? EnglishCodes(text, codes, error)
                                                        : JapaneseCodes(text, codes, error);
  if (!ok) {
    std::fprintf(stderr, "navtex-gen: %s\n", error.c_str());
    return 1;
  }

  const std::vector<int16_t> before = NoiseOnly(lead, fsk, 1);
  const std::vector<int16_t> signal = ModulateFsk(EmissionBits(codes, emission, inverted), fsk);
  const std::vector<int16_t> after = NoiseOnly(tail, fsk, 2);

  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(output.c_str(), SFM_WRITE, &info);
  if (!f) {
    std::fprintf(stderr, "navtex-gen: cannot write %s: %s\n", output.c_str(), sf_strerror(nullptr));
    return 1;
  }
  std::vector<short> frames;
  frames.reserve(2 * (before.size() + signal.size() + after.size()));
  for (const auto* part : {&before, &signal, &after})
    for (int16_t s : *part) {
      frames.push_back(s);
      frames.push_back(0);
    }
  const sf_count_t n = static_cast<sf_count_t>(frames.size() / 2);
  const bool written = sf_writef_short(f, frames.data(), n) == n;
  sf_close(f);
  if (!written) {
    std::fprintf(stderr, "navtex-gen: writing %s failed\n", output.c_str());
    return 1;
  }
  return 0;
}
