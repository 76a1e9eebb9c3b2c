// Error rates of the robust demodulator beside the exact path, on generated
// emissions (noise, offsets, bit-rate errors, fading, and the band: static
// crashes, a receiver's AGC, carriers, a second station) and on a recording.
//
//   robust_demod_eval [--quick | --seeds N] [--gen a|b] [--recording FILE.wav [--centf HZ]]
//
// For every condition it prints the bit error rate of the robust
// demodulator's hard decisions and of the exact path's bits (each aligned to
// the sent bits, following slips), the theoretical rate of non-coherent FSK,
// the share of the robust bits that are wrong yet confident (|LLR| > 3: what
// a crash or a carrier must never produce), and the character error rate of
// the text that the exact path's character decoder makes of either bit
// stream. --gen b takes the band rows from the switched-oscillator generator.
// Environment: ONLY=WORD runs the rows whose name holds it, VERBOSE=1 prints
// every run, CALIB=1 the soft values' calibration, TIMELINE=1 the errors bit
// by bit around the middle of the message (where a late carrier comes on).
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "io/block_source.h"
#include "core/receiver.h"
#include "session/receiver_session.h"
#include "decoder/character_sync.h"
#include "dsp/robust_demod.h"
#include "signal/navtex_signal.h"
#include "signal/switched_signal.h"

namespace {

using namespace brontel;

const char* const Texts[] = {
    "ZCZC OA01\nSECURITE. NAVAREA WARNING 123. BUOY OFF STATION IN 12-34.5N 001-23.4W.\nNNNN\n",
    "ZCZC WE42\nGALE WARNING. NORTHERLY WINDS FORCE 8 EXPECTED IN AREA FISHER LATER. SEA ROUGH.\nNNNN\n",
    "ZCZC KA07\nTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 (TEST) ?/=+:,.\nNNNN\n",
};

struct TCondition {
  const char* Name;
  double Snr;  // dB in 500 Hz (NaN: no noise)
  double Offset = 0.0, Baud = 100.0, Fading = 0.0, Centre = 800.0;
  bool Selective = false;
  // The band: crashes (per second, dB over the noise), a receiver's AGC,
  // one carrier (Hz from the centre at the signal's level; switched on at
  // the middle of the emission when Late), a second station (dB over the
  // wanted one, Hz from it; NaN: none).
  double CrashRate = 0.0, CrashDb = 30.0;
  bool Agc = false;
  double CarrierHz = NAN;
  bool Late = false;
  double SecondDb = NAN, SecondHz = 0.0;
  bool Band() const { return CrashRate > 0.0 || Agc || !std::isnan(CarrierHz) || !std::isnan(SecondDb); }
};

bool SecondGenerator = false;  // band rows from the switched-oscillator generator (--gen b)

// The emission of `sent` with the band condition of `c` around it: 0.73 s
// before, 1 s after.
std::vector<int16_t> BandPcm(const TCondition& c, const std::vector<uint8_t>& sent, gen::TFskParams p,
                             const std::vector<uint8_t>& other)
{
  constexpr double Lead = 0.73, Tail = 1.0;
  if (c.CrashRate > 0.0) {
    // Room for the crashes: their peaks (three times their RMS) within 16 bits.
    const double noise = 0.5 * std::pow(10.0, -c.Snr / 10.0) * 22050.0 / 500.0;
    p.Amplitude = std::min(p.Amplitude, 32767.0 / (3.0 * std::sqrt(noise * std::pow(10.0, c.CrashDb / 10.0))));
  }
  const double carrierStart = c.Late ? Lead + sent.size() / p.Baud / 2.0 : 0.0;
  const double secondStart = Lead + 0.37;  // off the wanted station's bit grid
  if (!SecondGenerator) {
    gen::TBand band;
    band.Crashes.PerSecond = c.CrashRate;
    band.Crashes.LevelDb = c.CrashDb;
    if (c.Agc) band.Agc = {1.0, 300.0};
    if (!std::isnan(c.CarrierHz)) band.Carriers.push_back({c.CarrierHz, 0.0, carrierStart});
    if (!std::isnan(c.SecondDb)) band.Second = gen::TSecondStation{other, c.SecondDb, c.SecondHz, secondStart, 100.01};
    return gen::BandRecording(sent, p, band, Lead, Tail);
  }
  gen2::TSwitchedParams q;
  q.Level = p.Amplitude / 32768.0;
  q.Centre = p.CentF, q.Offset = p.Offset, q.Baud = p.Baud, q.SnrDb = p.SnrDb, q.Seed = p.Seed;
  q.CrashRate = c.CrashRate, q.CrashLevelDb = c.CrashDb;
  if (c.Agc) q.AgcReleaseDbPerSecond = 20.0;
  if (!std::isnan(c.CarrierHz)) q.Carriers.push_back({c.CarrierHz, 0.0, carrierStart, 0.02});
  if (!std::isnan(c.SecondDb)) {
    q.SecondBits = other;
    q.SecondLevelDb = c.SecondDb, q.SecondOffset = c.SecondHz, q.SecondStart = secondStart, q.SecondBaud = 100.01;
  }
  const std::vector<float> f = gen2::SwitchedRecording(sent, q, Lead, Tail);
  std::vector<int16_t> pcm(f.size());
  for (std::size_t n = 0; n < f.size(); ++n)
    pcm[n] = static_cast<int16_t>(std::clamp(std::lround(f[n] * 32768.0), -32768L, 32767L));
  return pcm;
}

class TLines final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float>) override { Text.append(line).push_back('\n'); }
  std::string Text;
};

// A receiver whose character decoder is fed bits directly or from audio.
struct TRx {
  explicit TRx(double centre) : Session(Options(centre, &Sink)) {}
  static TSessionOptions Options(double centre, TTextSink* sink)
  {
    TSessionOptions o;
    o.CentF = centre;
    o.Sink = sink;
    return o;
  }
  std::string Text() const { return Sink.Text + Session.Channel().LineText; }
  TLines Sink;  // before the session, which refers to it
  TReceiverSession Session;
};

std::vector<uint8_t> ExactBits(const std::vector<int16_t>& pcm, double centre, std::string& text)
{
  TRx r(centre);
  std::vector<uint8_t> bits;
  std::array<int16_t, BlockSamples> block;
  for (std::size_t s = 0; s < pcm.size(); s += FramesPerBlock) {
    block.fill(0);
    for (std::size_t j = 0; j < FramesPerBlock && s + j < pcm.size(); ++j) block[2 * j] = pcm[s + j];
    r.Session.ProcessBlock(block);
    const auto& ch = r.Session.Channel();
    bits.insert(bits.end(), ch.BitBuf.begin(), ch.BitBuf.begin() + ch.BitCount);
  }
  text = r.Text();
  return bits;
}

std::vector<double> RobustSoft(const std::vector<double>& x, double centre, TRobustDemod* keep = nullptr)
{
  TRobustDemod d(centre);
  std::vector<double> soft, out(TRobustDemod::MaxBitsFor(FramesPerBlock));
  for (std::size_t s = 0; s < x.size(); s += FramesPerBlock) {
    const std::size_t n = std::min<std::size_t>(FramesPerBlock, x.size() - s);
    const std::size_t k = d.Process(std::span(x).subspan(s, n), out);
    soft.insert(soft.end(), out.begin(), out.begin() + k);
  }
  if (keep) *keep = d;
  return soft;
}

std::string DecodeHard(const std::vector<uint8_t>& bits)
{
  TRx r(800.0);
  TReceiver& rx = r.Session.Receiver();
  TChannelState& ch = rx.Channels[0];
  for (std::size_t s = 0; s < bits.size(); s += 10) {
    const std::size_t n = std::min<std::size_t>(10, bits.size() - s);
    std::copy_n(bits.begin() + s, n, ch.BitBuf.begin());
    ch.BitCount = static_cast<int32_t>(n);
    DecodeBits(ch, ch.Bits(), rx.Text);
  }
  return r.Text();
}

// Errors of `got` against `sent` from sent bit `from` on: one offset found by
// search, then followed chunk by chunk within ±3 bits (a slip moves it).
struct TCount {
  long Errors = 0, Bits = 0, Slips = 0;
};

// `aligned(i, j)` (if given) hears of every compared pair: sent bit i, received bit j.
template <typename F = void (*)(std::size_t, long)>
TCount Compare(const std::vector<uint8_t>& sent, const std::vector<uint8_t>& got, std::size_t from,
               F aligned = nullptr)
{
  auto errorsAt = [&](long off, std::size_t a, std::size_t b, long& n) {
    long e = 0;
    n = 0;
    for (std::size_t i = a; i < b; ++i) {
      const long j = static_cast<long>(i) + off;
      if (j < 0 || j >= static_cast<long>(got.size())) continue;
      e += sent[i] != got[j];
      ++n;
    }
    return e;
  };
  TCount c;
  const std::size_t window = std::min<std::size_t>(sent.size(), from + 600);
  long best = 0, bestErr = -1;
  for (long off = -300; off <= 600; ++off) {
    long n;
    const long e = errorsAt(off, from, window, n);
    if (n < static_cast<long>(window - from) / 2) continue;
    if (bestErr < 0 || e * 1000 / n < bestErr) bestErr = e * 1000 / n, best = off;
  }
  constexpr std::size_t Chunk = 70;
  for (std::size_t a = from; a < sent.size(); a += Chunk) {
    const std::size_t b = std::min(sent.size(), a + Chunk);
    long n, e = errorsAt(best, a, b, n), off = best;
    for (long d = -3; d <= 3; ++d) {
      long n2;
      const long e2 = errorsAt(best + d, a, b, n2);
      if (n2 == n && e2 < e) e = e2, off = best + d;
    }
    c.Slips += off != best;
    best = off;
    if constexpr (!std::is_pointer_v<F>)
      for (std::size_t i = a; i < b; ++i)
        if (const long j = static_cast<long>(i) + off; j >= 0 && j < static_cast<long>(got.size())) aligned(i, j);
    c.Errors += e;
    c.Bits += n;
  }
  return c;
}

// Character error rate: edit distance over the length of the reference.
double Cer(const std::string& ref, const std::string& got)
{
  std::vector<std::size_t> row(got.size() + 1);
  for (std::size_t j = 0; j <= got.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= ref.size(); ++i) {
    std::size_t diag = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= got.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (ref[i - 1] != got[j - 1])});
      diag = up;
    }
  }
  return ref.empty() ? 0.0 : static_cast<double>(row[got.size()]) / ref.size();
}

// The message as the decoder prints it: lines without their ends, upper case.
std::string Printed(const char* text)
{
  std::string s;
  for (const char* p = text; *p; ++p) s.push_back(*p == '\n' ? '\n' : static_cast<char>(std::toupper(*p)));
  return s;
}

// The part of the decoded text from "ZCZC" on (the receiver may print noise before it).
std::string FromHeader(const std::string& t)
{
  const auto p = t.find("ZCZC");
  return p == std::string::npos ? t : t.substr(p);
}

// A bit claiming an error probability below 5 % (|LLR| > 3) is confident.
constexpr double ConfidentLlr = 3.0;

struct TCalib {
  double Bits = 0, Errors = 0, Claimed = 0;
};

// Per 40 bits from 40 before the middle of the message (where a late carrier
// comes on): bits, wrong, wrong and confident, lower tone sent, those taken
// for the higher.
std::array<std::array<long, 5>, 20> Timeline{};

void Run(const TCondition& c, int seeds)
{
  Timeline = {};
  std::array<TCalib, 5> calib{};
  TCount rob, ex;
  long confident = 0;  // robust bits wrong with |LLR| > ConfidentLlr
  double cerRob = 0.0, cerEx = 0.0;
  int runs = 0;
  for (int s = 0; s < seeds; ++s)
    for (const char* text : Texts) {
      std::vector<uint8_t> codes;
      std::string err;
      gen::EnglishCodes(text, codes, err);
      gen::TEmission e;
      e.PhasingSeconds = 8.0;
      const auto sent = gen::EmissionBits(codes, e);
      gen::TFskParams p;
      p.CentF = c.Centre;
      p.Offset = c.Offset;
      p.Baud = c.Baud;
      p.FadingDoppler = c.Fading;
      p.FadingSelective = c.Selective;
      // Low enough that the wide-band noise of -4 dB (in 500 Hz) is not clipped.
      p.Amplitude = std::getenv("AMPLITUDE") ? std::atof(std::getenv("AMPLITUDE"))
                                             : (const double[]){1000.0, 700.0, 1400.0}[s % 3];
      if (!std::isnan(c.Snr)) p.SnrDb = c.Snr;
      p.Seed = static_cast<uint32_t>(1000 * s + 17 * runs + 3);
      std::vector<int16_t> pcm;
      if (c.Band()) {
        // The second station sends the next text, as long as the wanted one.
        std::vector<uint8_t> otherCodes;
        gen::EnglishCodes(Texts[(runs + 1) % std::size(Texts)], otherCodes, err);
        auto other = gen::EmissionBits(otherCodes, e);
        other.resize(std::min(other.size(), sent.size()));
        pcm = BandPcm(c, sent, p, other);
      } else {
        pcm = gen::NoiseOnly(0.73, p, 1);
        const auto sig = gen::ModulateFsk(sent, p);
        pcm.insert(pcm.end(), sig.begin(), sig.end());
        const auto tail = gen::NoiseOnly(1.0, p, 2);
        pcm.insert(pcm.end(), tail.begin(), tail.end());
      }

      std::string exText;
      const auto exBits = ExactBits(pcm, c.Centre, exText);
      const std::vector<double> x(pcm.begin(), pcm.end());
      TRobustDemod kept;
      const auto soft = RobustSoft(x, c.Centre, &kept);
      if (std::getenv("VERBOSE"))
        std::printf("  seed %u: offset %+.2f Hz, %.3f Bd, Eb/N0 %.1f dB, present %d\n", p.Seed,
                    kept.FrequencyOffset(), kept.BitRate(), kept.EbN0Db(), kept.SignalPresent());
      std::vector<uint8_t> hard(soft.size());
      for (std::size_t i = 0; i < soft.size(); ++i) hard[i] = soft[i] > 0.0;

      // Skip the first 3 s of phasing (acquisition).
      const TCount a = Compare(sent, hard, 300, [&](std::size_t i, long j) {
        // Calibration: errors against the error probability the soft value claims.
        const double l = std::abs(soft[j]);
        const int bin = l < 1 ? 0 : l < 2 ? 1 : l < 4 ? 2 : l < 8 ? 3 : 4;
        calib[bin].Bits += 1;
        calib[bin].Errors += (soft[j] > 0.0) != (sent[i] != 0);
        calib[bin].Claimed += 1.0 / (1.0 + std::exp(l));
        confident += (soft[j] > 0.0) != (sent[i] != 0) && l > ConfidentLlr;
        if (const long rel = static_cast<long>(i) - static_cast<long>(sent.size() / 2); rel >= -40 && rel < 760) {
          auto& t = Timeline[static_cast<std::size_t>((rel + 40) / 40)];
          const bool wrong = (soft[j] > 0.0) != (sent[i] != 0);
          t[0] += 1, t[1] += wrong, t[2] += wrong && l > ConfidentLlr, t[3] += !sent[i], t[4] += !sent[i] && soft[j] > 0.0;
        }
      });
      const TCount b = Compare(sent, exBits, 300);
      if (std::getenv("VERBOSE"))
        std::printf("  seed %u: robust BER %.3g with %ld slips\n", p.Seed, static_cast<double>(a.Errors) / a.Bits, a.Slips);
      rob.Errors += a.Errors, rob.Bits += a.Bits, rob.Slips += a.Slips;
      ex.Errors += b.Errors, ex.Bits += b.Bits, ex.Slips += b.Slips;
      const std::string ref = Printed(text);
      cerRob += Cer(ref, FromHeader(DecodeHard(hard)));
      cerEx += Cer(ref, FromHeader(exText));
      ++runs;
    }
  const double ebn0 = std::isnan(c.Snr) ? INFINITY : std::pow(10.0, c.Snr / 10.0) * 5.0;
  std::printf("%-26s %9.2e %5ld %8.1e  %9.2e %5ld  %9.2e  %6.2f%% %6.2f%%\n", c.Name,
              static_cast<double>(rob.Errors) / std::max(1L, rob.Bits), rob.Slips,
              static_cast<double>(confident) / std::max(1L, rob.Bits),
              static_cast<double>(ex.Errors) / std::max(1L, ex.Bits), ex.Slips,
              c.Fading > 0 ? 1.0 / (2.0 + ebn0) : 0.5 * std::exp(-ebn0 / 2.0), 100.0 * cerRob / runs,
              100.0 * cerEx / runs);
  if (std::getenv("TIMELINE"))
    for (std::size_t b = 0; b < Timeline.size(); ++b)
      std::printf("    bits %+4ld: %5ld bits, %4ld wrong, %4ld sure; lower tone sent %4ld, taken for the higher %4ld\n",
                  static_cast<long>(b) * 40 - 40, Timeline[b][0], Timeline[b][1], Timeline[b][2], Timeline[b][3],
                  Timeline[b][4]);
  if (std::getenv("CALIB")) {
    std::printf("    |llr| bins 0-1, 1-2, 2-4, 4-8, 8+: share / error rate / claimed\n   ");
    for (const TCalib& k : calib)
      std::printf("  %.2f/%.3f/%.3f", k.Bits / std::max(1.0, static_cast<double>(rob.Bits)),
                  k.Errors / std::max(1.0, k.Bits), k.Claimed / std::max(1.0, k.Bits));
    std::printf("\n");
  }
  std::fflush(stdout);
}

// Sixty seconds of noise alone: how often the demodulator claims a signal,
// how confident its values are, and what a decoder prints from them.
void NoiseOnlyRun(int seeds)
{
  for (int s = 0; s < seeds; ++s) {
    gen::TFskParams p;
    p.Amplitude = 1000.0;
    p.SnrDb = 0.0;
    p.Seed = 100 + s;
    const auto pcm = gen::NoiseOnly(60.0, p, 3);
    const std::vector<double> x(pcm.begin(), pcm.end());
    TRobustDemod d;
    std::vector<double> out(TRobustDemod::MaxBitsFor(FramesPerBlock));
    std::vector<uint8_t> hard;
    double sumAbs = 0.0;
    int presentBlocks = 0, blocks = 0;
    double maxOffset = 0.0;
    for (std::size_t i = 0; i < x.size(); i += FramesPerBlock) {
      const std::size_t k = d.Process(std::span(x).subspan(i, std::min<std::size_t>(FramesPerBlock, x.size() - i)), out);
      for (std::size_t j = 0; j < k; ++j) hard.push_back(out[j] > 0.0), sumAbs += std::abs(out[j]);
      presentBlocks += d.SignalPresent();
      ++blocks;
      maxOffset = std::max(maxOffset, std::abs(d.FrequencyOffset()));
    }
    std::string exText;
    (void)ExactBits(pcm, 800.0, exText);
    std::printf("noise only, seed %d: present %.1f%% of the time, mean |llr| %.2f, max |offset| %.1f Hz, "
                "printed from hard bits %zu, exact path %zu characters\n",
                s, 100.0 * presentBlocks / blocks, sumAbs / std::max<std::size_t>(1, hard.size()), maxOffset,
                DecodeHard(hard).size(), exText.size());
  }
}

void Recording(const std::string& path, double centre)
{
  std::string error;
  auto src = OpenInput(path, error);
  if (!src) {
    std::fprintf(stderr, "robust_demod_eval: %s\n", error.c_str());
    return;
  }
  std::vector<int16_t> pcm;
  TBlock block;
  while (src->ReadBlock(block))
    for (int j = 0; j < FramesPerBlock; ++j) pcm.push_back(block[2 * j]);
  std::string exText;
  const auto exBits = ExactBits(pcm, centre, exText);
  TRobustDemod d(centre);
  std::vector<double> out(TRobustDemod::MaxBitsFor(FramesPerBlock)), x(FramesPerBlock);
  std::vector<uint8_t> hard;
  double sumAbs = 0.0;
  for (std::size_t s = 0; s + FramesPerBlock <= pcm.size(); s += FramesPerBlock) {
    std::copy_n(pcm.begin() + s, FramesPerBlock, x.begin());
    const std::size_t k = d.Process(x, out);
    for (std::size_t i = 0; i < k; ++i) {
      hard.push_back(out[i] > 0.0);
      sumAbs += std::abs(out[i]);
    }
    if ((s / FramesPerBlock) % 100 == 99)
      std::printf("t=%5.1fs  offset %+6.2f Hz  rate %7.3f Bd  Eb/N0 %5.1f dB  present %d  mean|llr| %.2f\n",
                  (s + FramesPerBlock) / 44100.0, d.FrequencyOffset(), d.BitRate(), d.EbN0Db(),
                  d.SignalPresent(), sumAbs / std::max<std::size_t>(1, hard.size()));
  }
  std::printf("\n--- exact path (%zu bits) ---\n%s\n", exBits.size(), exText.c_str());
  std::printf("\n--- robust demodulator, hard decisions, same character decoder (%zu bits) ---\n%s\n",
              hard.size(), DecodeHard(hard).c_str());
}

}  // namespace

int main(int argc, char** argv)
{
  bool quick = false;
  int seedsWanted = 0;
  std::string recording;
  double centre = 1000.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick"))
      quick = true;
    else if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc)
      seedsWanted = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--gen") && i + 1 < argc)
      SecondGenerator = !std::strcmp(argv[++i], "b");
    else if (!std::strcmp(argv[i], "--recording") && i + 1 < argc)
      recording = argv[++i];
    else if (!std::strcmp(argv[i], "--centf") && i + 1 < argc)
      centre = std::atof(argv[++i]);
    else {
      std::fprintf(stderr, "usage: robust_demod_eval [--quick | --seeds N] [--gen a|b] [--recording FILE [--centf HZ]]\n");
      return 2;
    }
  }
  if (!recording.empty()) {
    Recording(recording, centre);
    return 0;
  }
  const int seeds = seedsWanted > 0 ? seedsWanted : quick ? 1 : 3;
  std::printf("%-26s %9s %5s %8s  %9s %5s  %9s  %7s %7s\n", "condition", "BER rob", "slip", "sure err", "BER exact",
              "slip", "BER theory", "CER rob", "CER ex");
  const TCondition conditions[] = {
      {"clean", NAN},
      {"SNR 8 dB", 8.0},
      {"SNR 4 dB", 4.0},
      {"SNR 2 dB", 2.0},
      {"SNR 0 dB", 0.0},
      {"SNR -2 dB", -2.0},
      {"SNR -4 dB", -4.0},
      {"offset +30 Hz, 12 dB", 12.0, 30.0},
      {"offset -30 Hz, 12 dB", 12.0, -30.0},
      {"offset +50 Hz, 20 dB", 20.0, 50.0},
      {"offset -50 Hz, 20 dB", 20.0, -50.0},
      {"99.5 Bd, 8 dB", 8.0, 0.0, 99.5},
      {"100.5 Bd, 8 dB", 8.0, 0.0, 100.5},
      {"99.5 Bd, 0 dB", 0.0, 0.0, 99.5},
      {"99.5 Bd, 30 dB", 30.0, 0.0, 99.5},
      {"fading 1 Hz, 12 dB", 12.0, 0.0, 100.0, 1.0},
      {"fading 1 Hz, 20 dB", 20.0, 0.0, 100.0, 1.0},
      {"centre 1800 Hz, 2 dB", 2.0, 0.0, 100.0, 0.0, 1800.0},
      {"offset +40 Hz, 2 dB", 2.0, 40.0},
      {"fading+100.5Bd+20Hz, 12dB", 12.0, 20.0, 100.5, 1.0},
      {"fading 1 Hz, 6 dB", 6.0, 0.0, 100.0, 1.0},
      {"selective fading, 12 dB", 12.0, 0.0, 100.0, 1.0, 800.0, true},
      {"selective fading, 20 dB", 20.0, 0.0, 100.0, 1.0, 800.0, true},
      // The band (theory: the noise alone).
      {.Name = "crashes 1/s +30 dB, 6 dB", .Snr = 6.0, .CrashRate = 1.0},
      {.Name = "crashes 5/s +30 dB, 6 dB", .Snr = 6.0, .CrashRate = 5.0},
      {.Name = "crashes 5/s, AGC, 6 dB", .Snr = 6.0, .CrashRate = 5.0, .Agc = true},
      {.Name = "crashes 1/s +40 dB, 20 dB", .Snr = 20.0, .CrashRate = 1.0, .CrashDb = 40.0},
      {.Name = "carrier +20 Hz, 10 dB", .Snr = 10.0, .CarrierHz = 20.0},
      {.Name = "carrier +130 Hz, 10 dB", .Snr = 10.0, .CarrierHz = 130.0},
      {.Name = "carrier on -85 Hz, 10 dB", .Snr = 10.0, .CarrierHz = -85.0},
      {.Name = "carrier +85 Hz late, 10 dB", .Snr = 10.0, .CarrierHz = 85.0, .Late = true},
      {.Name = "2nd stn -3 dB +25 Hz 12 dB", .Snr = 12.0, .SecondDb = -3.0, .SecondHz = 25.0},
  };
  const char* only = std::getenv("ONLY");
  for (const auto& c : conditions)
    if (!only || std::strstr(c.Name, only)) Run(c, seeds);
  if (!only || std::strstr("noise only", only)) NoiseOnlyRun(seeds);
  return 0;
}
