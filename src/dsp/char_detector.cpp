#include "dsp/char_detector.h"

#include "dsp/kaiser.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

namespace brontel {

namespace {

using cplx = std::complex<double>;
constexpr double TwoPi = 2.0 * std::numbers::pi;

// Complex products without the special cases of std::complex (all values
// here are finite).
inline cplx Mul(cplx a, cplx b)
{
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// |a| without the care of std::abs for overflow (all values here are far from it).
inline double Abs(cplx a) { return std::sqrt(a.real() * a.real() + a.imag() * a.imag()); }

// ln I0(x) − x, smooth and bounded, tabulated every 1/32 up to 128 (built
// on first use).
constexpr int PerUnit = 32, Top = 128;
const std::vector<float>& LogI0Table()
{
  static const std::vector<float> table = [] {
    std::vector<float> t(Top * PerUnit + 2);
    for (std::size_t i = 0; i < t.size(); ++i) {
      const double v = static_cast<double>(i) / PerUnit;
      t[i] = static_cast<float>(LogBesselI0Precise(v) - v);
    }
    return t;
  }();
  return table;
}

// ln I0(x) from the table, interpolated linearly (error below 1e-4), and
// beyond it from the asymptotic series ln I0(x) = x − ½·ln(2πx) + ln(1 + 1/(8x) + 9/(128x²) + …).
inline double LogI0With(const float* table, double x)
{
  if (x < Top) {
    if (!(x >= 0.0)) return x < 0.0 ? LogI0With(table, -x) : x;  // even; NaN stays NaN
    const double pos = x * PerUnit;
    const auto i = static_cast<std::size_t>(pos);
    const double frac = pos - static_cast<double>(i);
    return x + table[i] + frac * (table[i + 1] - table[i]);
  }
  if (!std::isfinite(x)) return x;
  const double inv = 1.0 / x;
  const double s = inv * (0.125 + inv * (9.0 / 128));  // ln(1 + s) ≈ s − s²/2 for s < 0.001
  return x - 0.5 * std::log(TwoPi * x) + s * (1.0 - 0.5 * s);
}

}  // namespace

namespace chardet {

double LogI0(double x) { return LogI0With(LogI0Table().data(), x); }

double LogEvidence(std::span<const double> ll, std::span<const double> logPrior)
{
  double top = -std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < ll.size(); ++i) top = std::max(top, ll[i] + (logPrior.empty() ? 0.0 : logPrior[i]));
  if (!std::isfinite(top)) return top;
  double sum = 0.0;
  for (std::size_t i = 0; i < ll.size(); ++i) sum += std::exp(ll[i] + (logPrior.empty() ? 0.0 : logPrior[i]) - top);
  return top + std::log(sum);
}

}  // namespace chardet

double TCharChannel::Scale() const
{
  const double amplitude = std::abs(Amplitude);
  const double noise = std::max(Noise, amplitude * amplitude / MaxEbN0);
  return Noise > 0.0 && std::isfinite(noise) ? 2.0 * amplitude / noise : 0.0;
}

void ToneCorrelations(std::span<const cplx> x, double start, double period, std::span<TToneCorr> out)
{
  const double w = TwoPi * chardet::ToneHz / chardet::Rate;
  const cplx step = std::polar(1.0, -w);
  const auto size = static_cast<long>(x.size());
  const double limit = static_cast<double>(size) + 1.0;
  for (std::size_t k = 0; k < out.size(); ++k) {
    const double t0 = start + static_cast<double>(k) * period, t1 = t0 + period;
    if (!(period > 0.0) || !(t1 > -1.0 && t0 < limit)) {  // outside x (or no bit at all)
      out[k] = {};
      continue;
    }
    // Samples whose interval [n − ½, n + ½) meets [t0, t1).
    const auto first = static_cast<long>(std::max(0.0, std::floor(t0 + 0.5)));
    const auto last = static_cast<long>(std::min(static_cast<double>(size - 1), std::ceil(t1 + 0.5) - 1.0));
    cplx high{}, low{};
    // e^{−jω(n − t0)}: the higher tone's reference; the lower tone's is its conjugate.
    cplx ref = std::polar(1.0, -w * (static_cast<double>(first) - t0));
    for (long n = first; n <= last; ++n) {
      const double nd = static_cast<double>(n);
      const double weight = std::min(nd + 0.5, t1) - std::max(nd - 0.5, t0);
      if (weight > 0.0) {
        const cplx v = x[static_cast<std::size_t>(n)] * weight;
        // v·ref and v·conj(ref) share their four products.
        const double rr = v.real() * ref.real(), ii = v.imag() * ref.imag();
        const double ri = v.real() * ref.imag(), ir = v.imag() * ref.real();
        high += cplx{rr - ii, ri + ir};
        low += cplx{rr + ii, ir - ri};
      }
      ref = Mul(ref, step);
    }
    out[k] = {high, low};
  }
}

TToneCorr ShiftedToneCorrelation(std::span<const cplx> x, double start, double period, double shift)
{
  TToneCorr c;
  ToneCorrelations(x, start + shift, period, std::span<TToneCorr>(&c, 1));
  if (!std::isfinite(shift)) return {};
  const cplx back = std::polar(1.0, -TwoPi * chardet::ToneHz / chardet::Rate * shift);
  return {Mul(c.High, back), Mul(c.Low, std::conj(back))};
}

cplx TimingTurn(double tau) { return std::polar(1.0, TwoPi * chardet::ToneHz / chardet::Rate * tau); }

TToneCorr ToneCorrelationAt(const TToneCorr& early, const TToneCorr& centre, const TToneCorr& late, double step,
                            double tau, cplx turn)
{
  if (early.High == cplx{} && early.Low == cplx{} && late.High == cplx{} && late.Low == cplx{}) return centre;
  if (!(step > 0.0) || !std::isfinite(tau) || !std::isfinite(std::norm(turn))) return centre;
  const double a = tau / (2.0 * step), b = tau * tau / (2.0 * step * step);
  auto at = [&](cplx e, cplx c, cplx l) { return c + a * (l - e) + b * (l - 2.0 * c + e); };
  return {Mul(at(early.High, centre.High, late.High), turn), Mul(at(early.Low, centre.Low, late.Low), std::conj(turn))};
}

TToneCorr ToneCorrelationAt(const TToneCorr& early, const TToneCorr& centre, const TToneCorr& late, double step,
                            double tau)
{
  return ToneCorrelationAt(early, centre, late, step, tau, TimingTurn(std::isfinite(tau) ? tau : 0.0));
}

TCharDetector::TCharDetector(int bits, std::span<const uint16_t> words) : bits_(std::clamp(bits, 1, chardet::MaxBits))
{
  const uint32_t mask = (1u << bits_) - 1;
  std::vector<bool> seen(std::size_t{1} << bits_);
  for (uint16_t w : words) {
    const auto m = static_cast<uint16_t>(w & mask);
    if (!seen[m]) words_.push_back(m);
    seen[m] = true;
  }
  const int half = bits_ / 2;  // the second half starts at this bit
  parent_ = {0};
  term_ = {0};
  // Adds a node for bit `depth` after `parent` (high bits before it: `ones`)
  // unless `made` already holds one for that key.
  auto node = [this](std::vector<int32_t>& made, std::size_t key, int32_t parent, int depth, int ones, int bit) {
    int32_t& n = made[key];
    if (n < 0) {
      parent_.push_back(parent);
      term_.push_back(static_cast<int16_t>((depth * chardet::MaxBits + ones) * 2 + bit));
      n = static_cast<int32_t>(parent_.size() - 1);
    }
    return n;
  };
  // The first halves, level by level (so every parent comes before its children).
  first_.assign(words_.size(), 0);
  std::vector<int32_t> made;
  for (int depth = 0; depth < half; ++depth) {
    made.assign(std::size_t{2} << depth, -1);  // prefix (bits 0 … depth) → node
    for (std::size_t i = 0; i < words_.size(); ++i) {
      const uint32_t prefix = words_[i] & ((2u << depth) - 1);
      first_[i] = node(made, prefix, first_[i], depth, std::popcount(prefix & ((1u << depth) - 1)), (prefix >> depth) & 1);
    }
  }
  // The second halves, keyed by the first half's high bits and their own bits so far.
  second_.assign(words_.size(), 0);
  for (int depth = half; depth < bits_; ++depth) {
    const int len = depth - half + 1;
    made.assign(static_cast<std::size_t>(half + 1) << len, -1);
    for (std::size_t i = 0; i < words_.size(); ++i) {
      const int before = std::popcount(static_cast<unsigned>(words_[i] & ((1u << half) - 1)));
      const uint32_t tail = (words_[i] >> half) & ((1u << len) - 1);
      const int ones = before + std::popcount(tail & ((1u << (len - 1)) - 1));
      second_[i] = node(made, (static_cast<std::size_t>(before) << len) | tail, second_[i], depth, ones, (tail >> (len - 1)) & 1);
    }
  }
  for (auto* v : {&zRe_, &zIm_, &sumL_}) v->assign(parent_.size(), 0.0);
  leafZ_.resize(words_.size());
}

cplx TCharDetector::EndTurn(uint16_t w, int bits, const TCharChannel& ch)
{
  const int ones = std::popcount(static_cast<unsigned>(w & ((1u << bits) - 1)));
  const double turn = TwoPi * ch.Period / chardet::Rate * (ones * ch.HighHz + (bits - ones) * ch.LowHz);
  return std::polar(1.0, turn);
}

TCharDetector::TTurns TCharDetector::Turns(const TCharChannel& ch)
{
  const double period = ch.Period > 0.0 && std::isfinite(ch.Period) ? ch.Period : 21.0;
  const double highHz = std::isfinite(ch.HighHz) ? ch.HighHz : chardet::ToneHz;
  const double lowHz = std::isfinite(ch.LowHz) ? ch.LowHz : -chardet::ToneHz;
  const double step = TwoPi * period / chardet::Rate;
  return {std::polar(1.0, -0.5 * step * (highHz - chardet::ToneHz)), std::polar(1.0, -0.5 * step * (lowHz + chardet::ToneHz)),
          std::polar(1.0, -step * highHz), std::polar(1.0, -step * lowHz)};
}

cplx TCharDetector::WordCorrelation(std::span<const TToneCorr> tones, uint16_t w, int bits, const TCharChannel& ch)
{
  return WordCorrelation(tones, w, bits, Turns(ch));
}

cplx TCharDetector::WordCorrelation(std::span<const TToneCorr> tones, uint16_t w, int bits, const TTurns& t)
{
  const cplx halfHigh = t.HalfHigh, halfLow = t.HalfLow, backHigh = t.BackHigh, backLow = t.BackLow;
  cplx turn = 1.0, z{};
  for (int k = 0; k < std::clamp(bits, 0, chardet::MaxBits); ++k) {
    TToneCorr c = static_cast<std::size_t>(k) < tones.size() ? tones[static_cast<std::size_t>(k)] : TToneCorr{};
    if (!std::isfinite(std::norm(c.High) + std::norm(c.Low))) c = {};
    const bool high = (w >> k) & 1;
    z += Mul(high ? Mul(c.High, halfHigh) : Mul(c.Low, halfLow), turn);
    turn = Mul(turn, high ? backHigh : backLow);
  }
  return z;
}

TCharTiming::TCharTiming(double memory) : keep_(1.0 - 1.0 / std::max(1.0, memory)) {}

void TCharTiming::Reset()
{
  score_.fill(0.0);
  offset_ = 0.0;
}

void TCharTiming::Add(std::span<const TToneCorr> early, std::span<const TToneCorr> centre,
                      std::span<const TToneCorr> late, uint16_t word, const TCharChannel& ch, double weight)
{
  const std::size_t n = std::min({early.size(), centre.size(), late.size(), std::size_t{chardet::MaxBits}});
  const double scale = ch.Scale();
  if (n == 0 || !(scale > 0.0) || !(weight > 0.0) || !std::isfinite(weight)) return;
  std::array<TToneCorr, chardet::MaxBits> tones;
  constexpr double Spacing = 2.0 * Limit / (Grid - 1);
  static const std::array<cplx, Grid> turns = [] {
    std::array<cplx, Grid> t;
    for (int g = 0; g < Grid; ++g) t[static_cast<std::size_t>(g)] = TimingTurn(-Limit + Spacing * g);
    return t;
  }();
  const TCharDetector::TTurns wordTurns = TCharDetector::Turns(ch);
  for (int g = 0; g < Grid; ++g) {
    const double tau = -Limit + Spacing * g;
    for (std::size_t k = 0; k < n; ++k)
      tones[k] = ToneCorrelationAt(early[k], centre[k], late[k], Step, tau, turns[static_cast<std::size_t>(g)]);
    const cplx z = TCharDetector::WordCorrelation(std::span<const TToneCorr>(tones.data(), n), word, static_cast<int>(n), wordTurns);
    const double l = chardet::LogI0(scale * Abs(z));
    auto& s = score_[static_cast<std::size_t>(g)];
    s = keep_ * s + std::min(weight, 1.0) * (std::isfinite(l) ? l : 0.0);
  }
  // The best offset, drawn slightly towards the demodulator's own (0), and
  // refined by a parabola through it and its neighbours.
  auto at = [this](int g) {
    const double tau = -Limit + Spacing * g;
    return score_[static_cast<std::size_t>(g)] - (tau / Limit) * (tau / Limit);
  };
  int best = Grid / 2;
  for (int g = 0; g < Grid; ++g)
    if (at(g) > at(best)) best = g;
  double frac = 0.0;
  if (best > 0 && best < Grid - 1) {
    const double l = at(best - 1), c = at(best), r = at(best + 1), den = l - 2.0 * c + r;
    if (den < 0.0) frac = std::clamp(0.5 * (l - r) / den, -0.5, 0.5);
  }
  offset_ = -Limit + Spacing * (best + frac);
}

void TCharDetector::Score(std::span<const TToneCorr> tones, const TCharChannel& ch, const TOut& out, cplx phasePrior)
{
  const int n = bits_;
  const float* table = LogI0Table().data();
  auto logI0 = [table](double x) { return LogI0With(table, x); };
  // Without a usable noise power nothing can be told apart: every word scores 0.
  const double scale = ch.Scale();
  // A timing or tone frequencies that are not numbers: the nominal ones.
  const double period = ch.Period > 0.0 && std::isfinite(ch.Period) ? ch.Period : 21.0;
  const double highHz = std::isfinite(ch.HighHz) ? ch.HighHz : chardet::ToneHz;
  const double lowHz = std::isfinite(ch.LowHz) ? ch.LowHz : -chardet::ToneHz;
  if (!std::isfinite(std::norm(phasePrior))) phasePrior = {};
  // turned[(k·MaxBits + j)·2 + b]: bit k's correlation with tone b, turned
  // back by the phase the waveform has reached after k bits of which j were
  // high; bitL[k·2 + b] its per-bit log-likelihood. (Plain doubles: arrays of
  // std::complex would be zeroed on every call.)
  constexpr int Terms = chardet::MaxBits * chardet::MaxBits * 2;
  static_assert(chardet::MaxBits * 2 == 32, "a term's bit is its index over 32");
  double turnedRe[Terms], turnedIm[Terms], bitL[chardet::MaxBits * 2];
  const double step = TwoPi * period / chardet::Rate;
  const cplx backHigh = std::polar(1.0, -step * highHz), backLow = std::polar(1.0, -step * lowHz);
  // A tone away from its nominal place turns each correlation by half the
  // bit's turn at the difference, on average over the bit.
  const cplx halfHigh = std::polar(1.0, -0.5 * step * (highHz - chardet::ToneHz));
  const cplx halfLow = std::polar(1.0, -0.5 * step * (lowHz + chardet::ToneHz));
  cplx row[chardet::MaxBits + 1];  // e^{−jφ(k, j)} for the current k
  row[0] = 1.0;
  for (int k = 0; k < n; ++k) {
    // Bits missing from `tones`, or broken ones, count as silence.
    TToneCorr c = static_cast<std::size_t>(k) < tones.size() ? tones[static_cast<std::size_t>(k)] : TToneCorr{};
    if (!std::isfinite(std::norm(c.High) + std::norm(c.Low))) c = {};
    const cplx high = Mul(c.High, halfHigh), low = Mul(c.Low, halfLow);
    for (int j = 0; j <= k; ++j) {
      const int at = (k * chardet::MaxBits + j) * 2;
      const cplx h = Mul(high, row[j]), l = Mul(low, row[j]);
      turnedRe[at + 1] = h.real(), turnedIm[at + 1] = h.imag();
      turnedRe[at] = l.real(), turnedIm[at] = l.imag();
    }
    if (!out.PerBit.empty()) {
      bitL[2 * k + 1] = logI0(scale * Abs(c.High));
      bitL[2 * k] = logI0(scale * Abs(c.Low));
    }
    // The phases after one more bit: φ(k + 1, j) = φ(k, j) + low turn = φ(k, j − 1) + high turn.
    row[k + 1] = Mul(row[k], backHigh);
    for (int j = 0; j <= k; ++j) row[j] = Mul(row[j], backLow);
  }
  // Along the trees: every node adds its turned bit correlation to its parent's sum
  // (and its bit's log-likelihood, when the per-bit model is wanted).
  const std::size_t nodes = parent_.size();
  for (std::size_t i = 1; i < nodes; ++i) {
    const auto p = static_cast<std::size_t>(parent_[i]);
    const int t = term_[i];
    zRe_[i] = zRe_[p] + turnedRe[t];
    zIm_[i] = zIm_[p] + turnedIm[t];
  }
  if (!out.PerBit.empty())
    for (std::size_t i = 1; i < nodes; ++i) {
      const int t = term_[i];
      sumL_[i] = sumL_[static_cast<std::size_t>(parent_[i])] + bitL[2 * (t >> 5) + (t & 1)];  // t >> 5 is the bit, t & 1 the tone
    }
  // The words' likelihoods, in loops of their own (independent table look-ups).
  const std::size_t words = words_.size();
  const double priorL = logI0(Abs(phasePrior));
  for (std::size_t w = 0; w < words; ++w) {
    const auto a = static_cast<std::size_t>(first_[w]), b = static_cast<std::size_t>(second_[w]);
    leafZ_[w] = {zRe_[a] + zRe_[b], zIm_[a] + zIm_[b]};
  }
  for (std::size_t w = 0; w < std::min(words, out.Continuous.size()); ++w)
    out.Continuous[w] = logI0(Abs(scale * leafZ_[w] + phasePrior)) - priorL;
  for (std::size_t w = 0; w < std::min(words, out.Halves.size()); ++w) {
    const auto a = static_cast<std::size_t>(first_[w]), b = static_cast<std::size_t>(second_[w]);
    out.Halves[w] = logI0(scale * Abs({zRe_[a], zIm_[a]})) + logI0(scale * Abs({zRe_[b], zIm_[b]}));
  }
  for (std::size_t w = 0; w < std::min(words, out.PerBit.size()); ++w)
    out.PerBit[w] = sumL_[static_cast<std::size_t>(first_[w])] + sumL_[static_cast<std::size_t>(second_[w])];
}

}  // namespace brontel
