// navtex-gen: writes a NAVTEX emission (phasing, message, idle) as a WAV file,
// 44100 Hz 16-bit stereo with the signal on the left channel.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "signal/navtex_signal.h"
#include "tool_support.h"

namespace {

using namespace brontel::gen;
using namespace brontel::tool;

// Everything the command line sets.
struct TGenOptions {
  std::string Output;
  TFskParams Fsk;
  TEmission Emission;
  bool Inverted = false;
  double Lead = 0.5, Tail = 1.0;  // seconds of silence (or noise) around the emission
  std::optional<std::string> Text, TextFile;
  TBand Band;
  std::vector<std::string> Carriers;           // OFFSET[:LEVEL[:START]] each
  std::vector<double> CrashLength{1.0, 10.0};  // MIN[,MAX] ms
  std::optional<std::string> SecondText;
  TSecondStation Second;
};

// OFFSET[:LEVEL_DB[:START_S]] into a carrier; false when it is not that.
bool ParseCarrier(const std::string& text, TCarrier& c)
{
  std::vector<double> v;
  std::size_t from = 0;
  while (v.size() < 3) {
    const std::size_t colon = text.find(':', from);
    double x;
    if (!ParseNumber(text.substr(from, colon - from), x) || !std::isfinite(x)) return false;
    v.push_back(x);
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (from > 0 && v.size() == 3 && text.find(':', from) != std::string::npos) return false;
  c.Offset = v[0];
  if (v.size() > 1) c.LevelDb = v[1];
  if (v.size() > 2) c.Start = v[2];
  return std::abs(c.Offset) <= 20000.0 && std::abs(c.LevelDb) <= 200.0 && c.Start >= 0.0;
}

// --fading adds Rayleigh fading once the generator has it (TFskParams::FadingDoppler);
// until then the option does not exist.
template <class TParams>
void AddFadingOption(CLI::App& app, TParams& fsk)
{
  if constexpr (requires { fsk.FadingDoppler; }) {
    app.add_option("--fading", fsk.FadingDoppler,
                   "Rayleigh fading of the signal with this Doppler spread (default: none)")
        ->type_name("DOPPLER_HZ")
        ->check(NumberIn(0, 100));
  }
}

// Fills `o` from the command line; returns the exit status when the program
// should stop (after --help or on a bad option).
std::optional<int> ParseOptions(int argc, char** argv, TGenOptions& o)
{
  CLI::App app(
      "Writes one NAVTEX emission as a WAV file (44100 Hz, 16-bit stereo, the signal on the left\n"
      "channel, the right channel silent): leading silence, phasing, the message with every character\n"
      "sent twice (first transmission and repetition five slots later), end-of-emission idle, trailing\n"
      "silence.\n"
      "\n"
      "The message is the UTF-8 text of --text, of --text-file, or else standard input; a line end is\n"
      "added at its end if it has none.\n"
      "  English: ASCII letters (sent as capitals), figures, space and 5=?/37 1(9,.)480:+6-2' and\n"
      "           A-Z; anything else is refused.\n"
      "  Japanese: characters of JIS X 0208 (kanji, kana, full-width forms); printable ASCII is sent\n"
      "           as its full-width form.\n"
      "\n"
      "Bad options exit with status 2, a message that cannot be sent or a file that cannot be read or\n"
      "written with status 1.",
      "navtex-gen");
  SetUpApp(app);
  TFskParams& fsk = o.Fsk;
  app.add_option("OUTPUT", o.Output, "the WAV file to write")->required()->type_name("FILE");
  AddKeyword(app, "--service", o.Emission.Service,
             {{"eng", TService::English}, {"jpn", TService::Japanese}, {"english", TService::English},
              {"japanese", TService::Japanese}},
             "English 7-unit (default) or Japanese 10-unit")
      ->type_name("eng|jpn");
  auto* text = app.add_option("--text", o.Text, "the message")->type_name("TEXT");
  app.add_option("--text-file", o.TextFile, "the message from a UTF-8 file")->type_name("FILE")->excludes(text);
  app.add_option("--centf", fsk.CentF, "centre of the tone pair (default 800)")->type_name("HZ")->check(NumberIn(100, 20000));
  app.add_option("--baud", fsk.Baud, "bit rate (default 100; e.g. 99.75 for a clock error)")
      ->type_name("RATE")
      ->check(NumberIn(10, 1000));
  app.add_option("--amplitude", fsk.Amplitude, "tone amplitude in 16-bit units (default 8000)")
      ->type_name("A")
      ->check(NumberIn(0, 32767));
  app.add_option_function<double>(
         "--snr", [&fsk](double v) { fsk.SnrDb = v; },
         "add white noise: tone power / noise power in the noise\n"
         "bandwidth (default: no noise)")
      ->type_name("DB")
      ->check(NumberIn(-60, 200));
  app.add_option("--noise-bw", fsk.NoiseBandwidth, "bandwidth the SNR refers to (default 500)")
      ->type_name("HZ")
      ->check(NumberIn(1, 22050));
  app.add_option_function<double>(
         "--seed", [&fsk](double v) { fsk.Seed = static_cast<uint32_t>(v); }, "noise seed (default 1)")
      ->type_name("N")
      ->check(NumberIn(0, 4294967295.0));
  app.add_option("--offset", fsk.Offset, "frequency offset of both tones (default 0)")
      ->type_name("HZ")
      ->check(NumberIn(-1000, 1000));
  AddFadingOption(app, fsk);
  app.add_flag("--invert", o.Inverted, "inverted polarity");
  app.add_option("--phasing", o.Emission.PhasingSeconds, "phasing before the message (default 10)")
      ->type_name("SECONDS")
      ->check(NumberIn(0, 3600));
  app.add_option("--idle", o.Emission.IdleSeconds, "idle after the message (default 2)")
      ->type_name("SECONDS")
      ->check(NumberIn(0, 3600));
  app.add_option("--lead", o.Lead, "silence (or noise, with --snr) before (default 0.5)")
      ->type_name("SECONDS")
      ->check(NumberIn(0, 3600));
  app.add_option("--tail", o.Tail, "silence (or noise) after (default 1)")
      ->type_name("SECONDS")
      ->check(NumberIn(0, 3600));

  // The band around the emission.
  TBand& band = o.Band;
  app.add_option("--carrier", o.Carriers,
                 "a steady carrier at OFFSET Hz from the centre, LEVEL dB over the tone's power\n"
                 "(default 0), switched on START seconds into the file (default 0); repeatable")
      ->type_name("OFFSET[:LEVEL[:START]]")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            TCarrier c;
            return ParseCarrier(text, c) ? std::string() : "takes OFFSET[:LEVEL[:START]], not '" + text + "'";
          },
          ""));
  app.add_option("--crashes", band.Crashes.PerSecond, "static crashes per second, at random times (default none)")
      ->type_name("RATE")
      ->check(NumberIn(0, 1000));
  app.add_option("--crash-level", band.Crashes.LevelDb,
                 "peak crash power over the noise power (over the tone's power without --snr; default 30)")
      ->type_name("DB")
      ->check(NumberIn(-60, 120));
  app.add_option("--crash-length", o.CrashLength, "crash length, drawn from MIN to MAX (default 1,10)")
      ->type_name("MIN_MS[,MAX_MS]")
      ->expected(1, 2)
      ->delimiter(',')
      ->check(NumberIn(0.05, 1000));
  app.add_option("--second-text", o.SecondText, "a second station sending this message (same service)")
      ->type_name("TEXT");
  app.add_option("--second-level", o.Second.LevelDb, "its power over the wanted station's (default -3)")
      ->type_name("DB")
      ->check(NumberIn(-100, 40));
  app.add_option("--second-offset", o.Second.Offset, "its offset from the wanted centre (default 0)")
      ->type_name("HZ")
      ->check(NumberIn(-1000, 1000));
  app.add_option("--second-start", o.Second.Start, "when it starts, seconds into the file (default 0)")
      ->type_name("SECONDS")
      ->check(NumberIn(0, 3600));
  app.add_option("--second-baud", o.Second.Baud, "its bit rate (default 100)")->type_name("RATE")->check(NumberIn(10, 1000));
  app.add_option("--two-path", band.TwoPath.DelayMs, "a second propagation path this much later (default none)")
      ->type_name("DELAY_MS")
      ->check(NumberIn(0, 1000));
  app.add_option("--two-path-ratio", band.TwoPath.RatioDb, "its power over the first path's (default -6)")
      ->type_name("DB")
      ->check(NumberIn(-100, 20));
  app.add_option("--two-path-fading", band.TwoPath.FadingDoppler,
                 "Rayleigh fading of the second path with this Doppler spread (default none)")
      ->type_name("DOPPLER_HZ")
      ->check(NumberIn(0, 100));
  app.add_option("--agc-release", band.Agc.ReleaseMs,
                 "a receiver AGC on everything heard, releasing with this time constant (default: no AGC)")
      ->type_name("MS")
      ->check(NumberIn(0, 100000));
  app.add_option("--agc-attack", band.Agc.AttackMs, "its attack time constant (default 1)")
      ->type_name("MS")
      ->check(NumberIn(0.01, 10000));
  return ParseCommandLine(app, argc, argv);
}

int Fail(const std::string& message)
{
  std::fprintf(stderr, "navtex-gen: %s\n", message.c_str());
  return ExitFailure;
}

// The message: --text, --text-file or standard input, ending with a line end.
bool ReadMessage(const TGenOptions& o, std::string& text, std::string& error)
{
  if (o.Text) {
    text = *o.Text;
  } else if (o.TextFile) {
    std::error_code ec;
    if (std::filesystem::is_directory(*o.TextFile, ec)) {
      error = "cannot read " + *o.TextFile + ": it is a directory";
      return false;
    }
    std::ifstream in(*o.TextFile, std::ios::binary);
    if (in) text.assign(std::istreambuf_iterator<char>(in), {});
    if (!in || in.bad()) {
      error = "cannot read " + *o.TextFile;
      return false;
    }
  } else {
    std::ostringstream s;
    s << std::cin.rdbuf();
    text = s.str();
  }
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  return true;
}

// Writes the frames (interleaved stereo) as a 44100 Hz 16-bit WAV file at
// `path`; messages name the file as `name`.
bool WriteWav(const std::string& path, const std::string& name, const std::vector<short>& frames,
              std::string& error)
{
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    error = "cannot write " + name + ": " + sf_strerror(nullptr);
    return false;
  }
  const sf_count_t n = static_cast<sf_count_t>(frames.size() / 2);
  bool ok = sf_writef_short(f, frames.data(), n) == n && sf_error(f) == SF_ERR_NO_ERROR;
  if (!ok) error = "writing " + name + " failed: " + sf_strerror(f);
  if (sf_close(f) != 0 && ok) {
    ok = false;
    error = "writing " + name + " failed when closing it";
  }
  return ok;
}

int Generate(const TGenOptions& o)
{
  std::string text, error;
  if (!ReadMessage(o, text, error)) return Fail(error);
  std::vector<uint8_t> codes;
  const bool ok = o.Emission.Service == TService::English ? EnglishCodes(text, codes, error)
                                                          : JapaneseCodes(text, codes, error);
  if (!ok) return Fail(error);

  TBand band = o.Band;
  for (const std::string& c : o.Carriers) ParseCarrier(c, band.Carriers.emplace_back());
  band.Crashes.MinMs = o.CrashLength.front();
  band.Crashes.MaxMs = o.CrashLength.back();
  if (band.Crashes.MaxMs < band.Crashes.MinMs) return Fail("--crash-length: MAX is below MIN");
  if (o.SecondText) {
    std::string second = *o.SecondText;
    if (second.empty() || second.back() != '\n') second.push_back('\n');
    std::vector<uint8_t> secondCodes;
    const bool fine = o.Emission.Service == TService::English ? EnglishCodes(second, secondCodes, error)
                                                              : JapaneseCodes(second, secondCodes, error);
    if (!fine) return Fail("--second-text: " + error);
    band.Second = o.Second;
    band.Second->Bits = EmissionBits(secondCodes, o.Emission, o.Inverted);
  }

  const std::vector<uint8_t> bits = EmissionBits(codes, o.Emission, o.Inverted);
  std::vector<int16_t> parts[3];
  if (band.Any()) {
    parts[0] = BandRecording(bits, o.Fsk, band, o.Lead, o.Tail);
  } else {
    parts[0] = NoiseOnly(o.Lead, o.Fsk, 1);
    parts[1] = ModulateFsk(bits, o.Fsk);
    parts[2] = NoiseOnly(o.Tail, o.Fsk, 2);
  }
  std::vector<short> frames;
  frames.reserve(2 * (parts[0].size() + parts[1].size() + parts[2].size()));
  for (const auto& part : parts)
    for (int16_t s : part) {
      frames.push_back(s);
      frames.push_back(0);
    }

  // A file that cannot be written whole leaves the old one as it was.
  if (!ReplaceFileWith(o.Output, error, [&](const std::string& path, std::string& err) {
        return WriteWav(path, o.Output, frames, err);
      }))
    return Fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv)
{
  TGenOptions options;
  if (const std::optional<int> status = ParseOptions(argc, argv, options)) return *status;
  try {
    return Generate(options);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
