// Character error rates of the exact path and the robust path on generated
// emissions (noise, fading, offsets, bit-rate errors, joining mid-message,
// noise alone), and what the robust path makes of a recording.
//
//   brontel_robust_eval [--quick] [--seeds N] [--only WORD] [--gen a|b] [--second-tail] [--show] [--trace] [--set NAME=VALUE] [--recording FILE [--centf HZ]]
//
// Every cell sums the edit distances over all texts and seeds and divides by
// the characters sent. "join" rows give the share of the text after the join
// point found in order in the output.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/block_source.h"
#include "core/robust_path.h"
#include "decoder/code_table.h"
#include "decoder/cp932.h"
#include "session/receiver_session.h"
#include "signal/navtex_signal.h"
#include "signal/switched_signal.h"
#include "eval_texts.h"
#include "support/cer.h"

namespace {

using namespace brontel;
using gen::TService;

using eval::EnglishTexts;
using eval::JapaneseTexts;

struct TCondition {
  const char* Name;
  TService Service = TService::English;
  double Snr = NAN;  // dB in 500 Hz (NaN: no noise)
  double Offset = 0.0, Baud = 100.0, Fading = 0.0, Centre = 800.0;
  bool Inverted = false;
  bool Join = false;  // start listening in the middle of the message
  // The band: static crashes (per second, dB over the noise), one carrier
  // (Hz from the centre, dB over the tone, start in seconds; a negative start
  // switches it on in the middle of the message), a second station (dB over
  // the wanted one, its offset), a second path (delay, dB), a receiver AGC.
  double CrashRate = 0.0, CrashDb = 30.0;
  double CarrierOffset = NAN, CarrierDb = 0.0, CarrierStart = 0.0;
  double SecondDb = NAN, SecondOffset = 0.0;
  double EchoMs = 0.0, EchoDb = -6.0, EchoFading = 0.0;
  bool Agc = false;
  bool Band() const
  {
    return CrashRate > 0.0 || !std::isnan(CarrierOffset) || !std::isnan(SecondDb) || EchoMs > 0.0 || Agc;
  }
};

bool SecondGenerator = false;  // band conditions from the switched-oscillator generator (--gen b)
bool SecondTail = false;       // the second station sends its whole text, past the wanted one's end

class TLines final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float>) override { Text.append(line).push_back('\n'); }
  std::string Text;
};

std::string ExactText(const std::vector<int16_t>& pcm, double centre)
{
  TLines sink;
  TSessionOptions options;
  options.CentF = centre;
  options.Sink = &sink;
  TReceiverSession session(options);
  std::array<int16_t, BlockSamples> block;
  for (std::size_t s = 0; s < pcm.size(); s += FramesPerBlock) {
    block.fill(0);
    for (std::size_t j = 0; j < FramesPerBlock && s + j < pcm.size(); ++j) block[2 * j] = pcm[s + j];
    session.ProcessBlock(block);
  }
  return Cp932ToUtf8(sink.Text + session.Channel().LineText);
}

struct TRobustRun {
  std::string Text;
  uint64_t Erasures = 0;
  double Seconds = 0.0;  // processor time of the robust path
};

TRobustDecoderParams Params;  // decoder tuning, changed with --set
bool Trace = false;           // print the robust path's state every second

// NAME=VALUE for a field of the decoder's tuning.
bool SetParam(const std::string& arg)
{
  const auto eq = arg.find('=');
  if (eq == std::string::npos) return false;
  const std::string name = arg.substr(0, eq);
  const double v = std::atof(arg.c_str() + eq + 1);
  struct TField {
    const char* Name;
    double* D;
    int* I;
  };
  TRobustDecoderParams& p = Params;
  const TField fields[] = {
      {"LlrScale", &p.LlrScale, nullptr},       {"LlrClip", &p.LlrClip, nullptr},
      {"Forget", &p.Forget, nullptr},           {"AcquireLevel", &p.AcquireLevel, nullptr},
      {"AcquireMargin", &p.AcquireMargin, nullptr}, {"LossLevel", &p.LossLevel, nullptr},
      {"LossRecent", &p.LossRecent, nullptr},   {"SlipMargin", &p.SlipMargin, nullptr},
      {"SlipPenalty", &p.SlipPenalty, nullptr}, {"EraseBelow", &p.EraseBelow, nullptr},
      {"SureAbove", &p.SureAbove, nullptr},     {"SwitchMargin", &p.SwitchMargin, nullptr},
      {"DelayChars", nullptr, &p.DelayChars},   {"LossHeld", nullptr, &p.LossHeld},
      {"ShiftLookahead", nullptr, &p.ShiftLookahead}, {"WholeCharacters", nullptr, &p.WholeCharacters},
  };
  for (const TField& f : fields)
    if (name == f.Name) {
      if (f.D) *f.D = v;
      if (f.I) *f.I = static_cast<int>(v);
      return true;
    }
  return false;
}

TRobustRun RobustText(const std::vector<int16_t>& pcm, double centre)
{
  TRobustPath path(centre, Params);
  TTextStore store;
  TLines sink;
  store.Sink = &sink;
  const std::vector<double> x(pcm.begin(), pcm.end());
  const auto t0 = std::chrono::steady_clock::now();
  for (std::size_t s = 0; s < x.size(); s += FramesPerBlock) {
    path.Process(std::span(x).subspan(s, std::min<std::size_t>(FramesPerBlock, x.size() - s)), store);
    if (Trace && s % (10 * FramesPerBlock) == 0) {
      const TCharScores& c = path.Decoder().CharScores();
      std::printf("%5.1f s  %s %s  SNR %5.1f  offset %+6.2f  %6.2f Bd | tones %+6.2f %+6.2f spread %5.2f | continuous %3.0f%%\n",
                  static_cast<double>(s) / 44100.0, path.InSync() ? "sync" : "    ", path.EngMode() ? "ENG" : "JPN",
                  path.SnrDb(), path.FrequencyOffset(), path.BitRate(), c.Fine().HighHz() - 85.0,
                  c.Fine().LowHz() + 85.0, std::min(99.0, c.Fine().SpreadHz()), 100.0 * c.Choice().Weight(0));
    }
  }
  path.Finish(store);
  const auto t1 = std::chrono::steady_clock::now();
  return {Cp932ToUtf8(sink.Text + path.LineText()), path.Erasures(), std::chrono::duration<double>(t1 - t0).count()};
}

// The message as a receiver prints it: English in capitals.
std::string Printed(std::string_view text, TService service)
{
  std::string s(text);
  if (service == TService::English)
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Substitutions in the best alignment of `got` with `sent` where the received
// character is the other shift's meaning of the sent character's code.
std::size_t ShiftErrors(const std::u32string& got, const std::u32string& sent)
{
  const std::size_t n = got.size(), m = sent.size();
  std::vector<std::vector<uint32_t>> d(n + 1, std::vector<uint32_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = static_cast<uint32_t>(i);
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = static_cast<uint32_t>(j);
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j)
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (got[i - 1] != sent[j - 1])});
  auto otherRow = [](char32_t g, char32_t s) {
    for (int c = 0; c < 127; ++c) {
      const auto& l = CodeTable()[0][c];
      const auto& f = CodeTable()[1][c];
      if (l.size() == 1 && f.size() == 1 &&
          ((static_cast<char32_t>(l[0]) == s && static_cast<char32_t>(f[0]) == g) ||
           (static_cast<char32_t>(f[0]) == s && static_cast<char32_t>(l[0]) == g)))
        return true;
    }
    return false;
  };
  std::size_t count = 0, i = n, j = m;
  while (i > 0 && j > 0) {
    const uint32_t sub = d[i - 1][j - 1] + (got[i - 1] != sent[j - 1]);
    if (d[i][j] == sub) {
      count += got[i - 1] != sent[j - 1] && otherRow(got[i - 1], sent[j - 1]);
      --i, --j;
    } else if (d[i][j] == d[i - 1][j] + 1) {
      --i;
    } else {
      --j;
    }
  }
  return count;
}

struct TTotals {
  std::size_t Sent = 0, ErrExact = 0, ErrRobust = 0, FoundExact = 0, FoundRobust = 0, Shift = 0, Erasures = 0;
  double Audio = 0.0, Cpu = 0.0;
};

bool Show = false;  // print the robust path's text of runs with errors

void Score(const TCondition& c, const std::string& ref, const std::vector<int16_t>& pcm, int rate, int k, int seed,
           TTotals& t)
{
  const std::string exact = ExactText(pcm, c.Centre);
  const TRobustRun robust = RobustText(pcm, c.Centre);
  const std::u32string sent = test::CodePoints(ref), gotE = test::CodePoints(exact),
                       gotR = test::CodePoints(robust.Text);
  if (Show && test::EditDistance(gotR, sent) > sent.size() / 50)
    std::printf("--- %s, text %d, seed %d:\n%s\n", c.Name, k, seed, robust.Text.c_str());
  t.Sent += sent.size();
  t.ErrExact += test::EditDistance(gotE, sent);
  t.ErrRobust += test::EditDistance(gotR, sent);
  t.FoundExact += test::CommonChars(gotE, sent);
  t.FoundRobust += test::CommonChars(gotR, sent);
  if (c.Service == TService::English) t.Shift += ShiftErrors(gotR, sent);
  t.Erasures += robust.Erasures;
  t.Audio += static_cast<double>(pcm.size()) / rate;
  t.Cpu += robust.Seconds;
}

// The bits of another text of the same service, for a second station.
std::vector<uint8_t> OtherBits(const TCondition& c, int k)
{
  const bool english = c.Service == TService::English;
  const int texts = english ? std::size(EnglishTexts) : std::size(JapaneseTexts);
  const std::string text = english ? EnglishTexts[(k + 1) % texts] : JapaneseTexts[(k + 1) % texts];
  std::vector<uint8_t> codes;
  std::string err;
  (void)(english ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err));
  gen::TEmission e;
  e.Service = c.Service;
  e.PhasingSeconds = 2.0;
  return gen::EmissionBits(codes, e, c.Inverted);
}

// A band condition's recording, from the generator chosen: 0.7 s before the
// emission, 1.5 s after it.
std::vector<int16_t> BandPcm(const TCondition& c, const std::vector<uint8_t>& bits, gen::TFskParams p, int k,
                             int seed)
{
  if (c.CrashRate > 0.0) {
    // Room for the crashes: their peaks (three times their RMS) stay within
    // 16 bits, as behind a receiver whose audio does not clip.
    const double noise = std::isnan(c.Snr) ? 0.5 : 0.5 * std::pow(10.0, -c.Snr / 10.0) * 22050.0 / 500.0;
    const double crashRms = std::sqrt(noise * std::pow(10.0, c.CrashDb / 10.0));  // per unit of tone amplitude
    p.Amplitude = std::min(p.Amplitude, 32767.0 / (3.0 * crashRms));
  }
  constexpr double Lead = 0.7, Tail = 1.5;
  const double emission = bits.size() / p.Baud;
  const double carrierStart = c.CarrierStart < 0.0 ? Lead + emission / 2.0 : c.CarrierStart;
  // The second station starts a little after the wanted one, off its bit
  // grid, with its own clock.
  const double secondStart = 0.9 + 0.0037 * (seed % 5), secondBaud = 100.0 + 0.01 * (k % 3);
  // It stops no later than the wanted one: what a receiver prints of it once
  // the wanted station is off the air is the other station's text, not a
  // fault of the wanted one's (--second-tail keeps it going).
  std::vector<uint8_t> secondBits;
  if (!std::isnan(c.SecondDb)) {
    secondBits = OtherBits(c, k);
    const double left = emission - (secondStart - Lead);
    if (!SecondTail && left > 0.0)
      secondBits.resize(std::min(secondBits.size(), static_cast<std::size_t>(left * secondBaud)));
  }
  if (!SecondGenerator) {
    gen::TBand band;
    band.Crashes.PerSecond = c.CrashRate;
    band.Crashes.LevelDb = c.CrashDb;
    if (!std::isnan(c.CarrierOffset)) band.Carriers.push_back({c.CarrierOffset, c.CarrierDb, carrierStart});
    if (!std::isnan(c.SecondDb))
      band.Second = gen::TSecondStation{secondBits, c.SecondDb, c.SecondOffset, secondStart, secondBaud};
    band.TwoPath = {c.EchoMs, c.EchoDb, c.EchoFading};
    if (c.Agc) band.Agc = {1.0, 300.0};
    return gen::BandRecording(bits, p, band, Lead, Tail);
  }
  gen2::TSwitchedParams q;
  q.Level = p.Amplitude / 32768.0;
  q.Centre = p.CentF, q.Offset = p.Offset, q.Baud = p.Baud, q.SnrDb = p.SnrDb;
  q.Seed = p.Seed;
  q.CrashRate = c.CrashRate, q.CrashLevelDb = c.CrashDb;
  if (!std::isnan(c.CarrierOffset)) q.Carriers.push_back({c.CarrierOffset, c.CarrierDb, carrierStart, 0.02});
  if (!std::isnan(c.SecondDb)) {
    q.SecondBits = secondBits;
    q.SecondLevelDb = c.SecondDb, q.SecondOffset = c.SecondOffset, q.SecondStart = secondStart;
    q.SecondBaud = secondBaud;
  }
  q.EchoMs = c.EchoMs, q.EchoRatioDb = c.EchoDb, q.EchoBeatHz = c.EchoFading;
  if (c.Agc) q.AgcReleaseDbPerSecond = 20.0;
  const std::vector<float> f = gen2::SwitchedRecording(bits, q, Lead, Tail);
  std::vector<int16_t> pcm(f.size());
  for (std::size_t n = 0; n < f.size(); ++n)
    pcm[n] = static_cast<int16_t>(std::clamp(std::lround(f[n] * 32768.0), -32768L, 32767L));
  return pcm;
}

void Run(const TCondition& c, int seeds, TTotals& all)
{
  TTotals t;
  const bool english = c.Service == TService::English;
  const int texts = english ? std::size(EnglishTexts) : std::size(JapaneseTexts);
  for (int seed = 0; seed < seeds; ++seed)
    for (int k = 0; k < texts; ++k) {
      const std::string text = english ? EnglishTexts[k] : JapaneseTexts[k];
      std::vector<uint8_t> codes;
      std::string err;
      if (!(english ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err))) {
        std::fprintf(stderr, "text refused: %s\n", err.c_str());
        continue;
      }
      gen::TEmission e;
      e.Service = c.Service;
      e.PhasingSeconds = 3.0;
      e.IdleSeconds = 1.0;
      gen::TFskParams p;
      p.CentF = c.Centre;
      p.Offset = c.Offset;
      p.Baud = c.Baud;
      p.FadingDoppler = c.Fading;
      if (!std::isnan(c.Snr)) p.SnrDb = c.Snr;
      p.Seed = static_cast<uint32_t>(7919 * seed + 31 * k + 5);
      const auto bits = gen::EmissionBits(codes, e, c.Inverted);
      if (c.Band()) {
        const std::string ref = Printed(text, c.Service);
        const std::vector<int16_t> pcm = BandPcm(c, bits, p, k, seed);
        Score(c, ref, pcm, p.SampleRate, k, seed, t);
        continue;
      }
      auto signal = gen::ModulateFsk(bits, p);
      std::string ref = Printed(text, c.Service);
      if (c.Join) {
        // Start a few characters before the second line, off the character grid.
        const uint8_t lineFeed = english ? CodeLineFeed : JisLineFeed;
        const auto lf = std::find(codes.begin(), codes.end(), lineFeed) - codes.begin();
        const int unit = english ? 7 : 10;
        const long pairs = std::max(1L, std::lround(e.PhasingSeconds / (2 * unit / 100.0)));
        const long cutBit = (pairs + lf + 1 - 3) * 2 * unit + 3;
        const auto cut = static_cast<std::size_t>(std::llround(cutBit * p.SampleRate / p.Baud));
        signal.erase(signal.begin(), signal.begin() + static_cast<long>(std::min(cut, signal.size())));
        ref = ref.substr(ref.find('\n') + 1);
      }
      std::vector<int16_t> pcm = gen::NoiseOnly(0.7, p, 1);
      pcm.insert(pcm.end(), signal.begin(), signal.end());
      const auto tail = gen::NoiseOnly(1.5, p, 2);
      pcm.insert(pcm.end(), tail.begin(), tail.end());

      Score(c, ref, pcm, p.SampleRate, k, seed, t);
    }
  const double n = static_cast<double>(std::max<std::size_t>(1, t.Sent));
  std::printf("%-34s %6zu  %7.2f%% %7.2f%%  %6.1f%% %6.1f%%  %5zu %5zu\n", c.Name, t.Sent, 100.0 * t.ErrExact / n,
              100.0 * t.ErrRobust / n, 100.0 * t.FoundExact / n, 100.0 * t.FoundRobust / n, t.Erasures, t.Shift);
  std::fflush(stdout);
  all.Audio += t.Audio;
  all.Cpu += t.Cpu;
}

void NoiseOnly(int seeds)
{
  std::size_t exact = 0, robust = 0;
  for (int seed = 0; seed < seeds; ++seed)
    for (double snr : {0.0, 10.0, 20.0}) {
      gen::TFskParams p;
      p.SnrDb = snr;
      p.Seed = static_cast<uint32_t>(101 + seed);
      const auto pcm = gen::NoiseOnly(60.0, p, 3);
      exact += test::CodePoints(ExactText(pcm, 800.0)).size();
      robust += test::CodePoints(RobustText(pcm, 800.0).Text).size();
    }
  std::printf("%-34s %d x 60 s: exact %zu, robust %zu characters printed\n", "noise only (0/10/20 dB level)",
              3 * seeds, exact, robust);
}

int Recording(const std::string& path, double centre)
{
  std::string error;
  auto src = OpenInput(path, error);
  if (!src) {
    std::fprintf(stderr, "brontel_robust_eval: %s\n", error.c_str());
    return 1;
  }
  std::vector<int16_t> pcm;
  TBlock block;
  while (src->ReadBlock(block))
    for (int j = 0; j < FramesPerBlock; ++j) pcm.push_back(block[2 * j]);
  const std::string exact = ExactText(pcm, centre);
  const TRobustRun robust = RobustText(pcm, centre);
  std::printf("--- exact path: %zu characters ---\n%s\n", test::CodePoints(exact).size(), exact.c_str());
  std::printf("--- robust path: %zu characters, %llu erasures, %.1f ms for %.1f s (%.0fx real time) ---\n%s\n",
              test::CodePoints(robust.Text).size(), static_cast<unsigned long long>(robust.Erasures),
              1000.0 * robust.Seconds, pcm.size() / 44100.0, pcm.size() / 44100.0 / robust.Seconds,
              robust.Text.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv)
{
  int seeds = 3;
  std::string recording, only;
  double centre = 1000.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick"))
      seeds = 1;
    else if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc)
      seeds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--set") && i + 1 < argc && SetParam(argv[i + 1]))
      ++i;
    else if (!std::strcmp(argv[i], "--gen") && i + 1 < argc)
      SecondGenerator = !std::strcmp(argv[++i], "b");
    else if (!std::strcmp(argv[i], "--second-tail"))
      SecondTail = true;
    else if (!std::strcmp(argv[i], "--show"))
      Show = true;
    else if (!std::strcmp(argv[i], "--trace"))
      Trace = true;
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
      only = argv[++i];
    else if (!std::strcmp(argv[i], "--recording") && i + 1 < argc)
      recording = argv[++i];
    else if (!std::strcmp(argv[i], "--centf") && i + 1 < argc)
      centre = std::atof(argv[++i]);
    else {
      std::fprintf(stderr,
                   "usage: brontel_robust_eval [--quick] [--seeds N] [--only WORD] [--gen a|b] [--second-tail] [--show] [--trace] [--set NAME=VALUE] [--recording FILE [--centf HZ]]\n");
      return 2;
    }
  }
  if (!recording.empty()) return Recording(recording, centre);

  const TService E = TService::English, J = TService::Japanese;
  const TCondition conditions[] = {
      {"ENG clean", E},
      {"ENG SNR 6 dB", E, 6.0},
      {"ENG SNR 4 dB", E, 4.0},
      {"ENG SNR 2 dB", E, 2.0},
      {"ENG SNR 0 dB", E, 0.0},
      {"ENG SNR -2 dB", E, -2.0},
      {"ENG SNR -4 dB", E, -4.0},
      {"ENG SNR 2 dB inverted", E, 2.0, 0.0, 100.0, 0.0, 800.0, true},
      {"JPN clean", J},
      {"JPN SNR 6 dB", J, 6.0},
      {"JPN SNR 4 dB", J, 4.0},
      {"JPN SNR 2 dB", J, 2.0},
      {"JPN SNR 0 dB", J, 0.0},
      {"JPN SNR -2 dB", J, -2.0},
      {"JPN SNR -4 dB", J, -4.0},
      {"JPN SNR 2 dB inverted", J, 2.0, 0.0, 100.0, 0.0, 800.0, true},
      {"ENG fading 1 Hz, 12 dB", E, 12.0, 0.0, 100.0, 1.0},
      {"ENG fading 1 Hz, 20 dB", E, 20.0, 0.0, 100.0, 1.0},
      {"JPN fading 1 Hz, 12 dB", J, 12.0, 0.0, 100.0, 1.0},
      {"ENG offset +30 Hz, 4 dB", E, 4.0, 30.0},
      {"ENG offset -30 Hz, 4 dB", E, 4.0, -30.0},
      {"ENG 99.5 Bd, 2 dB", E, 2.0, 0.0, 99.5},
      {"ENG 100.5 Bd, 2 dB", E, 2.0, 0.0, 100.5},
      {"JPN 100.5 Bd, 2 dB", J, 2.0, 0.0, 100.5},
      {"ENG centre 1800 Hz, 2 dB", E, 2.0, 0.0, 100.0, 0.0, 1800.0},
      {"ENG join mid-message, 10 dB", E, 10.0, 0.0, 100.0, 0.0, 800.0, false, true},
      {"ENG join mid-message, 2 dB", E, 2.0, 0.0, 100.0, 0.0, 800.0, false, true},
      {"JPN join mid-message, 10 dB", J, 10.0, 0.0, 100.0, 0.0, 800.0, false, true},
      {"JPN join mid-message, 2 dB", J, 2.0, 0.0, 100.0, 0.0, 800.0, false, true},
      // The band.
      {.Name = "ENG crashes 0.1/s +30 dB, 6 dB", .Service = E, .Snr = 6.0, .CrashRate = 0.1},
      {.Name = "ENG crashes 1/s +30 dB, 6 dB", .Service = E, .Snr = 6.0, .CrashRate = 1.0},
      {.Name = "ENG crashes 5/s +30 dB, 6 dB", .Service = E, .Snr = 6.0, .CrashRate = 5.0},
      {.Name = "ENG crashes 1/s +30 dB, 6 dB, AGC", .Service = E, .Snr = 6.0, .CrashRate = 1.0, .Agc = true},
      {.Name = "ENG crashes 5/s +30 dB, 6 dB, AGC", .Service = E, .Snr = 6.0, .CrashRate = 5.0, .Agc = true},
      {.Name = "ENG crashes 1/s +40 dB, 20 dB", .Service = E, .Snr = 20.0, .CrashRate = 1.0, .CrashDb = 40.0},
      {.Name = "JPN crashes 1/s +30 dB, 6 dB", .Service = J, .Snr = 6.0, .CrashRate = 1.0},
      {.Name = "JPN crashes 5/s +30 dB, 6 dB, AGC", .Service = J, .Snr = 6.0, .CrashRate = 5.0, .Agc = true},
      {.Name = "ENG carrier +20 Hz, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = 20.0},
      {.Name = "ENG carrier +130 Hz, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = 130.0},
      {.Name = "ENG carrier -150 Hz, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = -150.0},
      {.Name = "ENG carrier +200 Hz, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = 200.0},
      {.Name = "ENG carrier on +85 Hz tone, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = 85.0},
      {.Name = "ENG carrier on -85 Hz tone, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = -85.0},
      {.Name = "ENG carrier -40 Hz from mid, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = -40.0,
       .CarrierStart = -1.0},
      {.Name = "ENG carrier on tone from mid, 10 dB", .Service = E, .Snr = 10.0, .CarrierOffset = 85.0,
       .CarrierStart = -1.0},
      {.Name = "JPN carrier +20 Hz, 10 dB", .Service = J, .Snr = 10.0, .CarrierOffset = 20.0},
      {.Name = "JPN carrier on -85 Hz tone, 10 dB", .Service = J, .Snr = 10.0, .CarrierOffset = -85.0},
      {.Name = "ENG 2nd station -3 dB +25 Hz, 12 dB", .Service = E, .Snr = 12.0, .SecondDb = -3.0,
       .SecondOffset = 25.0},
      {.Name = "ENG 2nd station -3 dB -6 Hz, 12 dB", .Service = E, .Snr = 12.0, .SecondDb = -3.0,
       .SecondOffset = -6.0},
      {.Name = "JPN 2nd station -3 dB +25 Hz, 12 dB", .Service = J, .Snr = 12.0, .SecondDb = -3.0,
       .SecondOffset = 25.0},
      {.Name = "ENG two paths 2 ms -6 dB, 12 dB", .Service = E, .Snr = 12.0, .EchoMs = 2.0, .EchoFading = 0.3},
  };
  std::printf("%d seeds per text; CER = edit distance / characters sent; found = characters sent found in order\n",
              seeds);
  std::printf("%-34s %6s  %8s %8s  %7s %7s  %5s %5s\n", "condition", "chars", "CER ex", "CER rob", "fnd ex",
              "fnd rob", "eras", "shift");
  TTotals all;
  for (const auto& c : conditions)
    if (only.empty() || std::strstr(c.Name, only.c_str())) Run(c, seeds, all);
  if (only.empty() || only == "noise") NoiseOnly(seeds);
  if (all.Cpu > 0.0)
    std::printf("robust path: %.0f s of audio in %.2f s (%.0fx real time)\n", all.Audio, all.Cpu, all.Audio / all.Cpu);
  return 0;
}
