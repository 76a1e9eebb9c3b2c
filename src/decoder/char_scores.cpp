#include "decoder/char_scores.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace brontel {

namespace {

// e^x for x ≤ 0 (relative error below 1e-7; 0 below −700): 2^(x·log2 e)
// split into its integer part, set in the exponent, and the fraction, from
// a polynomial. Plain arithmetic, so loops over patterns vectorise.
inline double ExpNonPositive(double x)
{
  const double y = std::max(x, -700.0) * 1.4426950408889634;  // log2 e
  const double n = std::floor(y);
  const double f = (y - n) * 0.6931471805599453;  // in [0, ln 2)
  const double p = 1.0 + f * (1.0 + f * (0.5 + f * (1.0 / 6 + f * (1.0 / 24 + f * (1.0 / 120 + f * (1.0 / 720 + f * (1.0 / 5040)))))));
  const auto bits = static_cast<uint64_t>(static_cast<int64_t>(n) + 1023) << 52;
  return x < -700.0 ? 0.0 : p * std::bit_cast<double>(bits);
}

// ln(1 + e^{−x}) for x ≥ 0, tabulated every 1/64 up to 40 and interpolated
// linearly (error below 1e-5); beyond, below 5e-18, it is 0.
constexpr int SoftSteps = 64, SoftTop = 40;
const std::array<double, SoftTop * SoftSteps + 2>& SoftTable()
{
  static const auto table = [] {
    std::array<double, SoftTop * SoftSteps + 2> t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = std::log1p(std::exp(-static_cast<double>(i) / SoftSteps));
    return t;
  }();
  return table;
}

// ln(e^a + e^b).
inline double LogAdd(double a, double b)
{
  const double top = std::max(a, b);
  if (!std::isfinite(top)) return top;
  const double x = std::abs(a - b) * SoftSteps;
  if (!(x < SoftTop * SoftSteps)) return top;
  const auto i = static_cast<std::size_t>(x);
  const double frac = x - static_cast<double>(i);
  const auto& t = SoftTable();
  return top + t[i] + frac * (t[i + 1] - t[i]);
}

}  // namespace

TCharScores::TCharScores(const std::array<int, Services>& units, const std::array<std::vector<uint16_t>, Services>& patterns)
    : unit_(units), det_{TCharDetector(units[0], patterns[0]), TCharDetector(units[1], patterns[1])}, hist_(HistLen)
{
  for (int s = 0; s < Services; ++s) {
    const auto i = static_cast<std::size_t>(s);
    unit_[i] = det_[i].Bits();
    index_[i].assign(std::size_t{1} << unit_[i], -1);
    const int count = std::min(det_[i].WordCount(), MaxPatterns);
    for (int p = 0; p < count; ++p) index_[i][det_[i].Word(p)] = static_cast<int16_t>(p);
    scored_[i].assign(HistLen, 0);
    offset_[i].assign(HistLen, 0.0);
    values_[i].assign(static_cast<std::size_t>(HistLen) * MaxPatterns, 0.0f);
  }
  Share();
}

int TCharScores::PatternIndex(int service, uint16_t pattern) const
{
  const auto& index = index_[static_cast<std::size_t>(service)];
  return pattern < index.size() ? index[pattern] : -1;
}

bool TCharScores::Scored(int service, int64_t end) const
{
  return end >= 0 && end < bits_ && bits_ - end <= HistLen &&
         scored_[static_cast<std::size_t>(service)][static_cast<std::size_t>(end) & (HistLen - 1)] != 0;
}

const float* TCharScores::Values(int service, int64_t end) const
{
  return values_[static_cast<std::size_t>(service)].data() + (static_cast<std::size_t>(end) & (HistLen - 1)) * MaxPatterns;
}

double TCharScores::Offset(int service, int64_t end) const
{
  return offset_[static_cast<std::size_t>(service)][static_cast<std::size_t>(end) & (HistLen - 1)];
}

double TCharScores::LogShare(int model) const { return logShare_[static_cast<std::size_t>(model)]; }

void TCharScores::Share()
{
  for (std::size_t m = 0; m < logShare_.size(); ++m)
    logShare_[m] = std::log(std::max(MinShare, choice_.Weight(static_cast<int>(m))));
}

double TCharScores::Mix(double c, double b) const
{
  return LogAdd(c + LogShare(0), b + LogShare(1));
}

void TCharScores::Push(const TBitObservation& bit, double llr, unsigned services)
{
  const int64_t k = bits_++;
  TBit& h = hist_[static_cast<std::size_t>(k) & (HistLen - 1)];
  h.Obs = bit;
  // ln(2σ(±L)) = ln 2 − ln(1 + e^{∓L}).
  const double l = std::isfinite(llr) ? llr : 0.0;
  h.Lp1 = std::log(2.0) - std::log1p(std::exp(-l));
  h.Lp0 = std::log(2.0) - std::log1p(std::exp(l));
  TBitObservation& o = h.Obs;
  const bool known = o.Noise > 0.0 && std::isfinite(o.Noise) && std::isfinite(o.Amplitude) && std::isfinite(o.Period) &&
                     std::isfinite(std::norm(o.Tones.High) + std::norm(o.Tones.Low));
  if (!known) {
    o.Noise = 0.0;  // marks the bit's tones as unknown
  } else {
    // A bit far stronger than signal and noise together is cut down to them.
    const double usual = OutlierPower * (o.Amplitude * o.Amplitude + 2.0 * o.Noise);
    // (Each window on its own: a crash may hit the moved ones alone.)
    for (TToneCorr* t : {&o.Tones, &o.Early, &o.Late}) {
      const double power = std::norm(t->High) + std::norm(t->Low);
      if (power > usual) {
        const double cut = std::sqrt(usual / power);
        t->High *= cut, t->Low *= cut;
      }
    }
    if (!std::isfinite(std::norm(o.Early.High) + std::norm(o.Early.Low) + std::norm(o.Late.High) + std::norm(o.Late.Low)))
      o.Early = o.Late = {};  // the moved windows are not known: the bit is taken where it was placed
    // The tones move with the demodulator's frequency correction.
    if (std::isfinite(o.OffsetHz) && o.OffsetHz != lastOffset_) {
      fine_.Moved(o.OffsetHz - lastOffset_);
      lastOffset_ = o.OffsetHz;
    }
  }
  for (int s = 0; s < Services; ++s) {
    const auto i = static_cast<std::size_t>(s);
    const std::size_t slot = static_cast<std::size_t>(k) & (HistLen - 1);
    TCharChannel ch;
    scored_[i][slot] = 0;
    if (!((services >> s) & 1) || !Channel(s, k, ch)) continue;
    const double ref = Compute(s, k, ch, c_.data(), b_.data());
    (void)ref;
    const double lqc = LogShare(0), lqb = LogShare(1);
    const int n = det_[i].WordCount();
    double top = -std::numeric_limits<double>::infinity();
    for (int p = 0; p < n; ++p) top = std::max(top, std::max(c_[static_cast<std::size_t>(p)] + lqc, b_[static_cast<std::size_t>(p)] + lqb));
    if (!std::isfinite(top)) continue;
    // e^{b(p)} factors into the sums over the first four bits and over the
    // rest: their exponentials are formed once, not once per pattern.
    const std::size_t nLo = std::size_t{1} << std::min(unit_[i], 4), nHi = std::size_t{1} << std::max(unit_[i] - 4, 0);
    const double topLo = *std::max_element(lo_.begin(), lo_.begin() + static_cast<long>(nLo));
    const double topHi = *std::max_element(hi_.begin(), hi_.begin() + static_cast<long>(nHi));
    const double scale = std::exp(topLo + topHi + lqb - top);  // topLo + topHi ≥ every b(p)
    std::array<double, 16> eLo;
    std::array<double, std::tuple_size_v<decltype(hi_)>> eHi;
    for (std::size_t x = 0; x < nLo; ++x) eLo[x] = ExpNonPositive(lo_[x] - topLo);
    for (std::size_t x = 0; x < nHi; ++x) eHi[x] = ExpNonPositive(hi_[x] - topHi) * scale;
    float* v = values_[i].data() + slot * MaxPatterns;
    for (int p = 0; p < n; ++p) {
      const unsigned w = det_[i].Word(p);
      v[p] = static_cast<float>(ExpNonPositive(c_[static_cast<std::size_t>(p)] + lqc - top) + eLo[w & 15] * eHi[w >> 4]);
    }
    offset_[i][slot] = top;
    scored_[i][slot] = 1;
  }
}

bool TCharScores::Channel(int service, int64_t end, TCharChannel& ch) const
{
  const int u = unit_[static_cast<std::size_t>(service)];
  if (end + 1 < u || bits_ - (end - u + 1) > HistLen || end >= bits_) return false;
  double amplitude = 0.0, noise = 0.0, period = 0.0, offset = 0.0;
  for (int64_t k = end - u + 1; k <= end; ++k) {
    const TBitObservation& o = At(k).Obs;
    if (!(o.Noise > 0.0)) return false;
    amplitude += o.Amplitude;
    noise += o.Noise;
    period += o.Period;
    offset += std::isfinite(o.OffsetHz) ? o.OffsetHz : lastOffset_;
  }
  ch.Amplitude = amplitude / u;
  ch.Noise = noise / u;
  ch.Period = period / u;
  ch = fine_.Apply(ch);
  // The estimate holds for the newest bit; the window's tones lay higher by
  // what the correction has moved since its bits were received.
  const double moved = lastOffset_ - offset / u;
  ch.HighHz += moved;
  ch.LowHz += moved;
  if (std::isfinite(pinHigh_) && std::isfinite(pinLow_)) ch.HighHz = pinHigh_, ch.LowHz = pinLow_;
  return true;
}

double TCharScores::Compute(int service, int64_t end, const TCharChannel& ch, double* c, double* b)
{
  const auto i = static_cast<std::size_t>(service);
  const int u = unit_[i];
  std::array<TToneCorr, chardet::MaxBits> tones;
  // Per-bit sums over the first four bits and over the rest, indexed by
  // those bits of the pattern.
  double* lo = lo_.data();
  double* hi = hi_.data();
  lo[0] = hi[0] = 0.0;
  double ref = 0.0;
  const double scale = ch.Scale();
  for (int j = 0; j < u; ++j) {
    const TBit& bit = At(end - u + 1 + j);
    const TToneCorr t = Tones(end - u + 1 + j);
    tones[static_cast<std::size_t>(j)] = t;
    // The reference: either tone equally likely on every bit.
    ref += LogAdd(chardet::LogI0(scale * std::sqrt(std::norm(t.High))), chardet::LogI0(scale * std::sqrt(std::norm(t.Low)))) -
           std::log(2.0);
    double* part = j < 4 ? lo : hi;
    const int b0 = j < 4 ? j : j - 4, size = 1 << b0;
    for (int x = 0; x < size; ++x) {
      part[x | size] = part[x] + bit.Lp1;
      part[x] += bit.Lp0;
    }
  }
  const int n = det_[i].WordCount();
  det_[i].Score(std::span<const TToneCorr>(tones.data(), static_cast<std::size_t>(u)), ch,
                {std::span<double>(c, static_cast<std::size_t>(n)), {}, {}});
  for (int p = 0; p < n; ++p) {
    const unsigned w = det_[i].Word(p);
    c[p] -= ref;
    b[p] = lo[w & 15] + hi[w >> 4];
  }
  return ref;
}

bool TCharScores::Rescore(int service, int64_t end, TCopy& out)
{
  TCharChannel ch;
  if (!Channel(service, end, ch)) return false;
  out.Ref = Compute(service, end, ch, out.Char.data(), out.Bit.data());
  const double bits = unit_[static_cast<std::size_t>(service)];
  out.Energy = bits * 0.5 * ch.Scale() * std::abs(ch.Amplitude);
  out.StationEnergy = std::max(out.Energy, bits * level_);
  return true;
}

void TCharScores::Learn(int service, int64_t first, uint16_t pa, int64_t end, uint16_t pb, double posterior,
                        double evidenceChar, double evidenceBit)
{
  const double evidence[2] = {evidenceChar, evidenceBit};
  choice_.Add(evidence);
  Share();
  // The decision, as sure as it is, teaches the frequency estimate; less
  // where the per-bit model explains the signal (the phase may not run on
  // there, but the estimate must still find its way back after a jump).
  const double weight = posterior * std::max(0.25, 1.0 - choice_.Weight(1));
  const int u = unit_[static_cast<std::size_t>(service)];
  for (const auto& [e, pattern] : {std::pair{first, pa}, std::pair{end, pb}}) {
    TCharChannel ch;
    if (!Channel(service, e, ch)) continue;
    const double level = 0.5 * ch.Scale() * std::abs(ch.Amplitude);
    if (std::isfinite(level)) level_ += std::clamp(posterior, 0.0, 1.0) / LevelMemory * (level - level_);
    std::array<TToneCorr, chardet::MaxBits> tones, early, centre, late;
    for (int j = 0; j < u; ++j) {
      const auto i = static_cast<std::size_t>(j);
      const TBitObservation& o = At(e - u + 1 + j).Obs;
      tones[i] = Tones(e - u + 1 + j);
      early[i] = o.Early, centre[i] = o.Tones, late[i] = o.Late;
    }
    const auto bits = static_cast<std::size_t>(u);
    // (Less where the per-bit model explains the signal: without a running
    // phase the correlations' energy says little of the timing; but it must
    // be learnt from the first characters on, before the choice has turned.)
    timing_.Add(std::span(early).first(bits), std::span(centre).first(bits), std::span(late).first(bits), pattern, ch,
                posterior * std::max(0.25, choice_.Weight(0)));
    timingTurn_ = TimingTurn(timing_.Offset());
    // The estimate is kept for the newest bits: for these, as the
    // correction was then.
    const double moved = lastOffset_ - At(e).Obs.OffsetHz;
    fine_.Moved(-moved);
    fine_.Add(std::span<const TToneCorr>(tones.data(), static_cast<std::size_t>(u)), pattern, ch.Period, weight);
    fine_.Moved(moved);
  }
}

}  // namespace brontel
