// The robust decoder fed with bit observations made where the truth is
// known, to tell which estimate costs how much of the whole-character gain.
//
//   brontel_char_genie_eval [--snr DB]... [--seeds N] [--jpn] [--offset HZ] [--timing SAMPLES]
//                           [--jitter SAMPLES] [--pin] [--no-timing] [--soft] [--amp-error DB] [--show] [--set NAME=VALUE]
//
// The emission is keyed as continuous-phase FSK directly in the complex
// baseband the decoder's tone correlations come from (2100 samples per
// second, tones at ±85 Hz plus --offset), with white noise at the SNR of the
// tone pair in 500 Hz, 0.7 s of noise before and 1.5 s after, as in
// brontel_robust_eval. Each bit is observed on the true bit grid (shifted by
// --timing samples, and by a Gaussian error of --jitter samples per bit), with
// the true signal amplitude and noise power (--amp-error scales the amplitude
// the decoder is told) and the per-bit non-coherent log-likelihood ratio as
// its soft value. --pin scores every window with the true tone frequencies
// instead of the decision-directed estimate; --soft switches whole characters
// off; --no-timing leaves out the moved windows the decoder's own fine
// timing needs (the bits are then scored where they were placed). What is left between this and brontel_robust_eval at the same SNR is
// the cost of the demodulator's own estimates (bit timing, levels, soft values).
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "decoder/cp932.h"
#include "decoder/robust_decoder.h"
#include "decoder/text_output.h"
#include "dsp/char_detector.h"
#include "signal/navtex_signal.h"
#include "eval_texts.h"
#include "support/cer.h"

namespace {

using namespace brontel;
using cplx = std::complex<double>;

using eval::EnglishTexts;
using eval::JapaneseTexts;

struct TOptions {
  std::vector<double> Snrs;
  int Seeds = 4;
  bool Japanese = false;
  double Offset = 0.0, Timing = 0.0, Jitter = 0.0, AmpErrorDb = 0.0;
  bool Pin = false, Show = false, NoMoved = false;
  TRobustDecoderParams Params;
};

class TLines final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float>) override { Text.append(line).push_back('\n'); }
  std::string Text;
};

constexpr double Rate = chardet::Rate;
constexpr int BitLen = 21;

// One emission in noise, decoded from observations on the true grid.
std::string Decode(const std::vector<uint8_t>& bits, double snrDb, uint32_t seed, const TOptions& o)
{
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss;
  const int lead = 1470, tail = 3150;
  const std::size_t total = static_cast<std::size_t>(lead) + bits.size() * BitLen + tail;
  // Unit tone amplitude; complex noise of power 2100/500 per sample over the SNR.
  const double sigma = std::sqrt(Rate / 500.0 * std::pow(10.0, -snrDb / 10.0) / 2.0);
  std::vector<cplx> x(total);
  double phase = std::uniform_real_distribution<double>(0.0, 2.0 * std::numbers::pi)(rng);
  for (std::size_t n = 0; n < total; ++n) {
    cplx s{};
    if (n >= static_cast<std::size_t>(lead) && n < lead + bits.size() * BitLen) {
      s = std::polar(1.0, phase);
      const double f = (bits[(n - lead) / BitLen] ? chardet::ToneHz : -chardet::ToneHz) + o.Offset;
      phase += 2.0 * std::numbers::pi * f / Rate;
    }
    x[n] = s + cplx{sigma * gauss(rng), sigma * gauss(rng)};
  }
  const double amplitude = BitLen, noise = BitLen * 2.0 * sigma * sigma;
  const double told = amplitude * std::pow(10.0, o.AmpErrorDb / 20.0);
  TCharChannel ch;
  ch.Amplitude = told, ch.Noise = noise;
  const double scale = ch.Scale();
  std::vector<TBitObservation> obs(total / BitLen);
  for (std::size_t k = 0; k < obs.size(); ++k) {
    TBitObservation& b = obs[k];
    const double start = static_cast<double>(k * BitLen) + o.Timing + o.Jitter * gauss(rng);
    ToneCorrelations(x, start, BitLen, std::span<TToneCorr>(&b.Tones, 1));
    if (!o.NoMoved) {
      b.Early = ShiftedToneCorrelation(x, start, BitLen, -TCharTiming::Step);
      b.Late = ShiftedToneCorrelation(x, start, BitLen, TCharTiming::Step);
    }
    b.Amplitude = told, b.Noise = noise, b.Period = BitLen;
    b.Soft = chardet::LogI0(scale * std::abs(b.Tones.High)) - chardet::LogI0(scale * std::abs(b.Tones.Low));
  }
  TRobustDecoder dec(o.Params);
  if (o.Pin) dec.CharScores().PinTones(chardet::ToneHz + o.Offset, -chardet::ToneHz + o.Offset);
  TTextStore store;
  TLines sink;
  store.Sink = &sink;
  dec.Process(obs, store);
  dec.Finish(store);
  return Cp932ToUtf8(sink.Text + dec.LineText());
}

void Row(double snr, const TOptions& o)
{
  std::size_t sent = 0, errors = 0;
  const int texts = o.Japanese ? std::size(JapaneseTexts) : std::size(EnglishTexts);
  for (int seed = 0; seed < o.Seeds; ++seed)
    for (int k = 0; k < texts; ++k) {
      std::string text = o.Japanese ? JapaneseTexts[k] : EnglishTexts[k];
      std::vector<uint8_t> codes;
      std::string err;
      if (!(o.Japanese ? gen::JapaneseCodes(text, codes, err) : gen::EnglishCodes(text, codes, err))) continue;
      gen::TEmission e;
      e.Service = o.Japanese ? gen::TService::Japanese : gen::TService::English;
      e.PhasingSeconds = 3.0;
      e.IdleSeconds = 1.0;
      const std::string got = Decode(gen::EmissionBits(codes, e), snr, static_cast<uint32_t>(7919 * seed + 31 * k + 5), o);
      const std::u32string want = test::CodePoints(text), have = test::CodePoints(got);
      const std::size_t d = test::EditDistance(have, want);
      if (o.Show && d > 0) std::printf("--- text %d seed %d (%zu):\n%s\n", k, seed, d, got.c_str());
      sent += want.size();
      errors += d;
    }
  std::printf("%-8s SNR %5.1f dB  offset %+5.1f Hz  timing %+4.1f jitter %3.1f  amp %+4.1f dB  %s %s %s  CER %6.2f%%  (%zu/%zu)\n",
              o.Japanese ? "Japanese" : "English", snr, o.Offset, o.Timing, o.Jitter, o.AmpErrorDb,
              o.Params.WholeCharacters ? "whole" : "soft ", o.Pin ? "pinned" : "est.  ", o.NoMoved ? "placed" : "timed ", 100.0 * errors / std::max<std::size_t>(1, sent),
              errors, sent);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
  TOptions o;
  o.Params.WholeCharacters = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--snr" && more) o.Snrs.push_back(std::atof(argv[++i]));
    else if (a == "--seeds" && more) o.Seeds = std::atoi(argv[++i]);
    else if (a == "--jpn") o.Japanese = true;
    else if (a == "--offset" && more) o.Offset = std::atof(argv[++i]);
    else if (a == "--timing" && more) o.Timing = std::atof(argv[++i]);
    else if (a == "--jitter" && more) o.Jitter = std::atof(argv[++i]);
    else if (a == "--amp-error" && more) o.AmpErrorDb = std::atof(argv[++i]);
    else if (a == "--pin") o.Pin = true;
    else if (a == "--no-timing") o.NoMoved = true;
    else if (a == "--soft") o.Params.WholeCharacters = 0;
    else if (a == "--show") o.Show = true;
    else if (a == "--set" && more) {
      const std::string kv = argv[++i];
      const auto eq = kv.find('=');
      const std::string name = kv.substr(0, eq);
      const double v = eq == std::string::npos ? 0.0 : std::atof(kv.c_str() + eq + 1);
      if (name == "SureAbove") o.Params.SureAbove = v;
      else if (name == "EraseBelow") o.Params.EraseBelow = v;
      else if (name == "DelayChars") o.Params.DelayChars = static_cast<int>(v);
      else {
        std::fprintf(stderr, "brontel_char_genie_eval: unknown setting %s\n", name.c_str());
        return 2;
      }
    } else {
      std::fprintf(stderr,
                   "usage: brontel_char_genie_eval [--snr DB]... [--seeds N] [--jpn] [--offset HZ] [--timing SAMPLES] "
                   "[--jitter SAMPLES] [--pin] [--no-timing] [--soft] [--amp-error DB] [--show] [--set NAME=VALUE]\n");
      return 2;
    }
  }
  if (o.Snrs.empty()) o.Snrs = {-2.0, -4.0};
  for (double snr : o.Snrs) Row(snr, o);
  return 0;
}
