#include "signal/navtex_signal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <random>

#include "decoder/cp932.h"

namespace brontel::gen {

namespace {

constexpr uint8_t Letters = 0x2D, Figures = 0x36, CarriageReturn = 0x0F, LineFeed = 0x1B;
constexpr uint8_t Space = 0x1D;
constexpr uint8_t EngPhasingDx = 0x33, EngPhasingRx = 0x78;
constexpr uint8_t JisPhasingDx = 0x19, JisPhasingRx = 0x04;
constexpr uint8_t JisCr = 0x0D, JisLf = 0x0A;

// Characters of the 7-unit code: letters row and figures row.
const std::map<char, uint8_t>& LetterCodes()
{
  static const std::map<char, uint8_t> m = {
      {'A', 0x71}, {'B', 0x27}, {'C', 0x5C}, {'D', 0x65}, {'E', 0x35}, {'F', 0x6C}, {'G', 0x56},
      {'H', 0x4B}, {'I', 0x59}, {'J', 0x74}, {'K', 0x3C}, {'L', 0x53}, {'M', 0x4E}, {'N', 0x4D},
      {'O', 0x47}, {'P', 0x5A}, {'Q', 0x3A}, {'R', 0x55}, {'S', 0x69}, {'T', 0x17}, {'U', 0x39},
      {'V', 0x1E}, {'W', 0x72}, {'X', 0x2E}, {'Y', 0x6A}, {'Z', 0x63}};
  return m;
}

const std::map<char, uint8_t>& FigureCodes()
{
  static const std::map<char, uint8_t> m = {
      {'5', 0x17}, {'=', 0x1E}, {'?', 0x27}, {'/', 0x2E}, {'3', 0x35}, {'7', 0x39}, {'1', 0x3A},
      {'(', 0x3C}, {'9', 0x47}, {',', 0x4D}, {'.', 0x4E}, {')', 0x53}, {'4', 0x55}, {'8', 0x59},
      {'0', 0x5A}, {':', 0x5C}, {'+', 0x63}, {'6', 0x6A}, {'-', 0x71}, {'2', 0x72}};
  return m;
}

double NoiseSigma(const TFskParams& p)
{
  if (!p.SnrDb) return 0.0;
  // White noise over 0 … fs/2 with power σ²; the part in NoiseBandwidth is
  // σ²·B/(fs/2). Tone power is A²/2.
  const double tonePower = p.Amplitude * p.Amplitude / 2.0;
  const double inBand = tonePower / std::pow(10.0, *p.SnrDb / 10.0);
  return std::sqrt(inBand * (p.SampleRate / 2.0) / p.NoiseBandwidth);
}

int16_t ToPcm(double v)
{
  const double r = std::nearbyint(v);
  return static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
}

// Flat Rayleigh fading: a sum of equal-power complex sinusoids whose Doppler
// shifts fd·cos(α) come from random arrival angles α, which approximates the
// classical Doppler spectrum; unit mean power. The gain is evaluated exactly
// every Step samples and interpolated linearly in between.
class TFading {
public:
  TFading(double doppler, uint32_t seed, int sampleRate) : rate_(sampleRate)
  {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi);
    for (int n = 0; n < Paths; ++n) {
      freq_[n] = 2.0 * std::numbers::pi * doppler * std::cos(angle(rng));
      phase_[n] = angle(rng);
    }
  }

  std::complex<double> At(std::size_t n)
  {
    const std::size_t k = n / Step;
    if (k != cachedStep_ || !cached_) {
      a_ = Exact(k * Step);
      b_ = Exact((k + 1) * Step);
      cachedStep_ = k;
      cached_ = true;
    }
    const double f = static_cast<double>(n - k * Step) / Step;
    return a_ + f * (b_ - a_);
  }

private:
  static constexpr int Paths = 32;
  static constexpr std::size_t Step = 16;

  std::complex<double> Exact(std::size_t n) const
  {
    const double t = static_cast<double>(n) / rate_;
    std::complex<double> g;
    for (int i = 0; i < Paths; ++i) g += std::polar(1.0, freq_[i] * t + phase_[i]);
    return g / std::sqrt(static_cast<double>(Paths));
  }

  double rate_;
  std::array<double, Paths> freq_{}, phase_{};
  std::complex<double> a_, b_;
  std::size_t cachedStep_ = 0;
  bool cached_ = false;
};

void AppendChar(std::vector<uint8_t>& bits, const std::vector<uint8_t>& c)
{
  bits.insert(bits.end(), c.begin(), c.end());
}

}  // namespace

std::vector<double> FskWaveform(const std::vector<uint8_t>& bits, const TFskParams& p)
{
  const double samplesPerBit = p.SampleRate / p.Baud;
  const std::size_t total = bits.empty() ? 0 : static_cast<std::size_t>(std::ceil(bits.size() * samplesPerBit));
  std::vector<double> out(total);
  const double high = p.CentF + p.Shift / 2.0 + p.Offset;
  const double low = p.CentF - p.Shift / 2.0 + p.Offset;
  std::optional<TFading> fading, fadingLow;
  if (p.FadingDoppler > 0.0) {
    const uint32_t seed = p.FadingSeed ? p.FadingSeed : p.Seed * 2654435761u + 0x9E3779B9u;
    fading.emplace(p.FadingDoppler, seed, p.SampleRate);
    if (p.FadingSelective) fadingLow.emplace(p.FadingDoppler, seed ^ 0x5A5A5A5Au, p.SampleRate);
  }
  double phase = 0.0;
  for (std::size_t n = 0; n < total; ++n) {
    const std::size_t bit = std::min(bits.size() - 1, static_cast<std::size_t>(n / samplesPerBit));
    const double f = bits[bit] ? high : low;
    double v = p.Amplitude * std::sin(phase);
    if (fading) {
      // A·Im{g·e^{jφ}}: the faded tone keeps its phase continuity.
      const std::complex<double> g = fadingLow && !bits[bit] ? fadingLow->At(n) : fading->At(n);
      v = p.Amplitude * (g.real() * std::sin(phase) + g.imag() * std::cos(phase));
    }
    out[n] = v;
    phase += 2.0 * std::numbers::pi * f / p.SampleRate;
    if (phase >= 2.0 * std::numbers::pi) phase -= 2.0 * std::numbers::pi;
  }
  return out;
}

std::vector<int16_t> ModulateFsk(const std::vector<uint8_t>& bits, const TFskParams& p)
{
  const std::vector<double> wave = FskWaveform(bits, p);
  std::vector<int16_t> out(wave.size());
  std::mt19937 rng(p.Seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double sigma = NoiseSigma(p);
  for (std::size_t n = 0; n < wave.size(); ++n) {
    double v = wave[n];
    if (sigma > 0.0) v += sigma * gauss(rng);
    out[n] = ToPcm(v);
  }
  return out;
}

std::vector<int16_t> BandRecording(const std::vector<uint8_t>& bits, const TFskParams& p, const TBand& band,
                                   double lead, double tail)
{
  const double fs = p.SampleRate;
  const auto leadSamples = static_cast<std::size_t>(std::max(0.0, lead) * fs);
  const std::vector<double> wanted = FskWaveform(bits, p);
  std::vector<double> x(leadSamples + wanted.size() + static_cast<std::size_t>(std::max(0.0, tail) * fs));
  auto addAt = [&x](const std::vector<double>& w, long at, double gain) {
    for (std::size_t n = 0; n < w.size(); ++n) {
      const long k = at + static_cast<long>(n);
      if (k >= 0 && k < static_cast<long>(x.size())) x[static_cast<std::size_t>(k)] += gain * w[n];
    }
  };
  addAt(wanted, static_cast<long>(leadSamples), 1.0);

  if (band.TwoPath.DelayMs > 0.0) {
    TFskParams q = p;
    q.FadingDoppler = band.TwoPath.FadingDoppler;
    q.FadingSeed = p.Seed * 40503u + 17u;
    const long delay = std::lround(band.TwoPath.DelayMs * fs / 1000.0);
    addAt(FskWaveform(bits, q), static_cast<long>(leadSamples) + delay, std::pow(10.0, band.TwoPath.RatioDb / 20.0));
  }
  if (band.Second && !band.Second->Bits.empty()) {
    TFskParams q = p;
    q.Offset = band.Second->Offset;
    q.Baud = band.Second->Baud;
    q.FadingDoppler = 0.0;
    addAt(FskWaveform(band.Second->Bits, q), std::lround(band.Second->Start * fs),
          std::pow(10.0, band.Second->LevelDb / 20.0));
  }
  for (const TCarrier& c : band.Carriers) {
    const double a = p.Amplitude * std::pow(10.0, c.LevelDb / 20.0);
    const double w = 2.0 * std::numbers::pi * (p.CentF + c.Offset) / fs;
    for (auto n = static_cast<std::size_t>(std::max(0.0, c.Start) * fs); n < x.size(); ++n)
      x[n] += a * std::sin(w * static_cast<double>(n) + 0.3);
  }

  // Noise, then crashes over it.
  const double sigma = NoiseSigma(p);
  std::mt19937 rng(p.Seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  if (sigma > 0.0)
    for (double& v : x) v += sigma * gauss(rng);
  if (band.Crashes.PerSecond > 0.0) {
    std::mt19937 crng(p.Seed * 2246822519u + 3u);
    std::exponential_distribution<double> gap(band.Crashes.PerSecond);
    std::uniform_real_distribution<double> length(band.Crashes.MinMs, std::max(band.Crashes.MinMs, band.Crashes.MaxMs));
    const double reference = sigma > 0.0 ? sigma : p.Amplitude / std::sqrt(2.0);
    const double peak = reference * std::pow(10.0, band.Crashes.LevelDb / 20.0);
    for (double t = gap(crng); t * fs < static_cast<double>(x.size()); t += gap(crng)) {
      // Onset over 0.2 ms, then a decay of 20 dB over the crash's length.
      const double len = length(crng) * fs / 1000.0, rise = 0.0002 * fs, tau = len / std::log(10.0);
      const auto start = static_cast<std::size_t>(t * fs);
      for (std::size_t k = 0; k < static_cast<std::size_t>(len) && start + k < x.size(); ++k) {
        const double env = k < rise ? k / rise : std::exp(-(k - rise) / tau);
        x[start + k] += peak * env * gauss(crng);
      }
    }
  }

  std::vector<int16_t> out(x.size());
  const double attack = band.Agc.AttackMs > 0.0 ? 1.0 - std::exp(-1000.0 / (band.Agc.AttackMs * fs)) : 1.0;
  const double release = band.Agc.ReleaseMs > 0.0 ? 1.0 - std::exp(-1000.0 / (band.Agc.ReleaseMs * fs)) : 0.0;
  const double target = p.Amplitude > 0.0 ? p.Amplitude : 1.0;
  double env = target + 2.0 * sigma;
  for (std::size_t n = 0; n < x.size(); ++n) {
    double v = x[n];
    if (release > 0.0) {
      const double m = std::abs(v);
      env += (m > env ? attack : release) * (m - env);
      v *= target / std::max(env, 0.01 * target);
    }
    out[n] = ToPcm(v);
  }
  return out;
}

std::vector<int16_t> NoiseOnly(double seconds, const TFskParams& p, uint32_t stream)
{
  std::vector<int16_t> out(static_cast<std::size_t>(seconds * p.SampleRate));
  const double sigma = NoiseSigma(p);
  if (sigma == 0.0) return out;
  std::mt19937 rng(p.Seed * 7919u + stream);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (int16_t& s : out) s = ToPcm(sigma * gauss(rng));
  return out;
}

bool EnglishCodes(std::string_view text, std::vector<uint8_t>& codes, std::string& error)
{
  codes.clear();
  codes.push_back(Letters);
  int shift = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '\n') {
      codes.push_back(CarriageReturn);
      codes.push_back(LineFeed);
      continue;
    }
    if (c == '\r') continue;  // a CR LF pair in the input is one line end
    if (c == ' ') {
      codes.push_back(Space);
      continue;
    }
    if (auto l = LetterCodes().find(c); l != LetterCodes().end()) {
      if (shift != 0) codes.push_back(Letters);
      shift = 0;
      codes.push_back(l->second);
      continue;
    }
    if (auto f = FigureCodes().find(c); f != FigureCodes().end()) {
      if (shift != 1) codes.push_back(Figures);
      shift = 1;
      codes.push_back(f->second);
      continue;
    }
    const unsigned char u = static_cast<unsigned char>(c);
    error = (u >= 0x20 && u < 0x7F) ? "English NAVTEX cannot send the character '" + std::string(1, c) + "'"
                                    : "English NAVTEX cannot send the byte 0x" +
                                          std::string(1, "0123456789ABCDEF"[u >> 4]) +
                                          std::string(1, "0123456789ABCDEF"[u & 15]) +
                                          " (only ASCII letters, figures and punctuation)";
    return false;
  }
  return true;
}

bool JapaneseCodes(std::string_view text, std::vector<uint8_t>& codes, std::string& error)
{
  codes.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    // One UTF-8 character.
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > text.size()) {
      error = "the text is not valid UTF-8";
      return false;
    }
    std::string ch(text.substr(i, len));
    i += len;
    if (ch == "\n") {
      codes.push_back(JisCr);
      codes.push_back(JisLf);
      continue;
    }
    if (ch == "\r") continue;
    if (len == 1 && lead >= 0x20 && lead < 0x7F) {
      // Printable ASCII goes as its full-width form (U+3000 for a space).
      const unsigned cp = lead == ' ' ? 0x3000 : 0xFF01 + (lead - 0x21);
      ch = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
            static_cast<char>(0x80 | (cp & 0x3F))};
    }
    std::string sjis;
    if (!Utf8ToCp932(ch, sjis) || sjis.size() != 2) {
      error = "Japanese NAVTEX cannot send the character '" + std::string(text.substr(i - len, len)) + "'";
      return false;
    }
    // Shift_JIS back to the JIS X 0208 row and cell.
    int s1 = static_cast<unsigned char>(sjis[0]), s2 = static_cast<unsigned char>(sjis[1]);
    if (s1 >= 0xE0) s1 -= 0x40;
    int j1, j2;
    if (s2 >= 0x9F) {
      j1 = (s1 - 0x70) * 2;
      j2 = s2 - 0x7E;
    } else {
      j1 = (s1 - 0x70) * 2 - 1;
      j2 = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
    }
    if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) {
      error = "Japanese NAVTEX cannot send the character '" + std::string(text.substr(i - len, len)) +
              "' (not in JIS X 0208)";
      return false;
    }
    codes.push_back(static_cast<uint8_t>(j1));
    codes.push_back(static_cast<uint8_t>(j2));
  }
  return true;
}

std::vector<uint8_t> EnglishCharBits(uint8_t code)
{
  std::vector<uint8_t> b(7);
  for (int i = 0; i < 7; ++i) b[i] = (code >> (6 - i)) & 1;
  return b;
}

std::vector<uint8_t> JapaneseCharBits(uint8_t data)
{
  std::vector<uint8_t> b(10);
  int zeros = 0;
  for (int i = 0; i < 7; ++i) {
    b[i] = (data >> i) & 1;
    zeros += b[i] ? 0 : 1;
  }
  b[7] = (zeros >> 2) & 1;
  b[8] = (zeros >> 1) & 1;
  b[9] = zeros & 1;
  return b;
}

std::vector<uint8_t> EmissionBits(const std::vector<uint8_t>& codes, const TEmission& e, bool inverted)
{
  const bool english = e.Service == TService::English;
  const int unit = english ? 7 : 10;
  const uint8_t phasingDx = english ? EngPhasingDx : JisPhasingDx;
  const uint8_t phasingRx = english ? EngPhasingRx : JisPhasingRx;
  auto charBits = [&](uint8_t c) { return english ? EnglishCharBits(c) : JapaneseCharBits(c); };

  // Slot pairs: first-transmission slot 2k carries character k, repetition
  // slot 2k + 5 repeats it. Phasing fills both kinds of slot before the
  // message; the idle after it is sent with its repetitions like text.
  const double slotSeconds = unit / 100.0;
  const int phasingPairs = std::max(1, static_cast<int>(std::lround(e.PhasingSeconds / (2 * slotSeconds))));
  const int idlePairs = std::max(3, static_cast<int>(std::lround(e.IdleSeconds / (2 * slotSeconds))));

  std::vector<uint8_t> dx;  // first-transmission slot contents, in order
  dx.insert(dx.end(), phasingPairs, phasingDx);
  const int firstMessage = phasingPairs;
  dx.insert(dx.end(), codes.begin(), codes.end());
  dx.insert(dx.end(), idlePairs, phasingDx);

  std::vector<uint8_t> bits;
  for (std::size_t k = 0; k < dx.size(); ++k) {
    AppendChar(bits, charBits(dx[k]));
    // Repetition slot 2k + 1 repeats first-transmission slot 2k − 4, i.e. k − 2.
    const long rep = static_cast<long>(k) - 2;
    const uint8_t r = rep < firstMessage ? phasingRx : dx[rep];
    AppendChar(bits, charBits(r));
  }

  // Japanese characters are received in the opposite sense: upright
  // polarity sends a data 1 as the lower tone.
  const uint8_t flip = (english ? 0 : 1) ^ (inverted ? 1 : 0);
  if (flip)
    for (uint8_t& b : bits) b ^= 1;
  return bits;
}

}  // namespace brontel::gen
