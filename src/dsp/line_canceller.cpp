#include "dsp/line_canceller.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/kaiser.h"
#include "dsp/simd.h"

namespace brontel {

namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;
constexpr double WindowBeta = 8.0;  // Kaiser window of each look: side lobes below −80 dB

inline std::complex<double> Mul(std::complex<double> a, std::complex<double> b)
{
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Index k with its bits reversed, for each k below a power of two N.
template <std::size_t N>
constexpr std::array<std::uint16_t, N> BitReversed()
{
  static_assert((N & (N - 1)) == 0 && N <= 65536);
  std::array<std::uint16_t, N> r{};
  for (std::size_t i = 1, j = 0; i < N; ++i) {
    std::size_t bit = N >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    r[i] = static_cast<std::uint16_t>(j);
  }
  return r;
}

// In-place radix-2 FFT of a power-of-two length N on (re, im) vectors. The
// twiddle factor e^{-j2πk/N} = wr + j·wi, k < N/2, is given as (wr, wi) in
// `turn` and (−wi, wr) in `turnSwapped`, so that a product takes two lane
// products and a sum, each lane the same arithmetic as the scalar product
// (x − y is x + (−y) exactly). The input is in bit-reversed order (sample k
// at BitReversed<N>()[k]); the output in natural order.
template <std::size_t N>
void FftOfReversed(std::array<simd::V2, N>& x, const std::array<simd::V2, N / 2>& turn,
                   const std::array<simd::V2, N / 2>& turnSwapped)
{
  static_assert((N & (N - 1)) == 0);
  for (std::size_t len = 2, stride = N / 2; len <= N; len <<= 1, stride >>= 1)
    for (std::size_t i = 0; i < N; i += len)
      for (std::size_t k = 0; k < len / 2; ++k) {
        const simd::V2 a = x[i + k + len / 2], u = x[i + k];
        const simd::V2 v = a[0] * turn[k * stride] + a[1] * turnSwapped[k * stride];
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
      }
}

inline std::complex<double> MulConj(std::complex<double> a, std::complex<double> b)  // a·conj(b)
{
  return {a.real() * b.real() + a.imag() * b.imag(), a.imag() * b.real() - a.real() * b.imag()};
}

}  // namespace

TLineCanceller::TLineCanceller(double rate) : rate_(rate)
{
  for (int k = 0; k < FftSize; ++k) window_[k] = KaiserWindow(k, FftSize / 2, WindowBeta);
  for (int k = 0; k < FftSize / 2; ++k) {
    const cplx w = std::polar(1.0, -TwoPi * k / FftSize);
    turn_[k] = simd::V2{w.real(), w.imag()};
    turnSwapped_[k] = simd::V2{-w.imag(), w.real()};
  }
  lines_.reserve(MaxLines);
  Reset();
}

void TLineCanceller::Reset()
{
  lines_.clear();
  barred_.clear();
  buffer_.fill({});
  historyRe_.fill(0.0);
  historyIm_.fill(0.0);
  power_.fill(0.0);
  candidate_.fill(0.0);
  fill_ = pos_ = sinceTrack_ = skip_ = sinceLook_ = 0;
  signalOmega_ = 0.0;
  averaged_ = false;
  inPower_ = inSum_ = 0.0;
}

void TLineCanceller::SetOmega(TLine& line, double omega)
{
  line.Omega = omega;
  line.Step = std::polar(1.0, omega);
  line.Back = std::polar(1.0, -omega * Delay);
  line.Above = omega > signalOmega_;
}

void TLineCanceller::SetSignalOffset(double hz)
{
  signalOmega_ = TwoPi * hz / rate_;
  for (TLine& line : lines_) SetOmega(line, line.Omega);
}

double TLineCanceller::LineHz(int i) const { return lines_[static_cast<std::size_t>(i)].Omega * rate_ / TwoPi; }

double TLineCanceller::LinePower(int i) const { return std::norm(lines_[static_cast<std::size_t>(i)].Amplitude); }

TLineCanceller::cplx TLineCanceller::Step(double inRe, double inIm, bool highSent, bool lowSent)
{
  // The input Delay samples back, for the averages; it is turned down by each
  // line's oscillator as it stood then (its phasor now, turned back).
  // The oldest is read before the newest is stored: a load that spans a
  // store just made waits for it.
  const int oldest = fill_ == Delay ? 0 : fill_ + 1;
  const double backRe = historyRe_[static_cast<std::size_t>(oldest)];
  const double backIm = historyIm_[static_cast<std::size_t>(oldest)];
  historyRe_[static_cast<std::size_t>(fill_)] = inRe;
  historyIm_[static_cast<std::size_t>(fill_)] = inIm;
  fill_ = oldest;
  double outRe = inRe, outIm = inIm;
  for (TLine& line : lines_) {
    if (line.Above ? lowSent : highSent) {
      const cplx turned = MulConj(cplx{backRe, backIm}, Mul(line.Phasor, line.Back));
      // A new line's amplitude is the mean of its samples as if it had
      // started with AmplitudeStart samples of zero (weight 1/n, n growing
      // up to AmplitudeSamples), then the running average: a carrier that appears is removed at nearly its
      // full level within a few bits of being found, not after a quarter
      // second of climbing.
      if (line.Averaged < AmplitudeSamples) ++line.Averaged;
      // Once the mean is full the weight is a power of two: a product, off
      // the chain of divisions, gives the same bits.
      static_assert((AmplitudeSamples & (AmplitudeSamples - 1)) == 0);
      const cplx change = turned - line.Amplitude;
      line.Amplitude += line.Averaged == AmplitudeSamples ? change * (1.0 / AmplitudeSamples)
                                                          : change / static_cast<double>(line.Averaged);
      line.Block += turned;
      if (++line.InBlock == SteadyBlock) {
        const double power = std::norm(line.Block) + std::norm(line.LastBlock);
        if (power > 0.0 && std::norm(line.LastBlock) > 0.0)
          line.Wobble += WobbleSmooth * (std::norm(line.Block - line.LastBlock) / power - line.Wobble);
        line.LastBlock = line.Block;
        line.Block = {};
        line.InBlock = 0;
      }
      ++line.Updates;
    }
    // Only a steady line is a carrier: another station's keyed tones make
    // lines too, but ones that come and go with its bits.
    if (line.Wobble < SteadyShare) {
      const cplx l = Mul(line.Amplitude, line.Phasor);
      outRe -= l.real();
      outIm -= l.imag();
    }
    line.Phasor = Mul(line.Phasor, line.Step);
  }

  if (++sinceTrack_ == TrackSamples) {
    // The amplitude turns as fast as the oscillator is off the line.
    sinceTrack_ = 0;
    for (TLine& line : lines_) {
      if (std::norm(line.Checked) > 0.0 && std::norm(line.Amplitude) > 0.0)
        SetOmega(line, line.Omega + TrackGain * std::arg(MulConj(line.Amplitude, line.Checked)) / TrackSamples);
      line.Checked = line.Amplitude;
      line.Phasor /= std::abs(line.Phasor);
    }
  }

  inSum_ += inRe * inRe + inIm * inIm;
  if (++skip_ == LookEvery) {
    skip_ = 0;
    buffer_[pos_] = {outRe, outIm};
    if (++pos_ == FftSize) pos_ = 0;
    if (++sinceLook_ == LookHop) {
      sinceLook_ = 0;
      inPower_ = inSum_ / (LookHop * LookEvery);
      inSum_ = 0.0;
      Look();
    }
  }
  return {outRe, outIm};
}

void TLineCanceller::Look()
{
  // The windowed samples, oldest first, go straight to their bit-reversed places.
  static constexpr auto Reversed = BitReversed<FftSize>();
  std::array<simd::V2, FftSize> x;
  const int older = FftSize - pos_;  // samples from pos_ to the end of the ring are the oldest
  const auto sample = [this](int i) { return simd::V2{buffer_[i].real(), buffer_[i].imag()}; };
  for (int k = 0; k < older; ++k) x[Reversed[k]] = sample(pos_ + k) * window_[k];
  for (int k = older; k < FftSize; ++k) x[Reversed[k]] = sample(k - older) * window_[k];
  FftOfReversed(x, turn_, turnSwapped_);
  for (int k = 0; k < FftSize; ++k) {
    const double bin = x[k][0] * x[k][0] + x[k][1] * x[k][1];
    power_[k] = averaged_ ? 0.5 * (power_[k] + bin) : bin;
  }
  averaged_ = true;

  // Lines that have faded away go, and their frequencies rest for a while.
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (it->Updates >= MinUpdates) it->Weak = std::norm(it->Amplitude) < DropBelow * inPower_ ? it->Weak + 1 : 0;
    // A weak line (a keyed signal's own, almost nothing once averaged where
    // its tone is off) follows a carrier that comes onto it as fast as a
    // new line would.
    if (it->Weak > 0) it->Averaged = AmplitudeStart;
    it->Updates = 0;
    if (it->Weak >= DropLooks) {
      const int bin = static_cast<int>(std::lround(it->Omega * FftSize * LookEvery / TwoPi));
      barred_.push_back({it->Omega, BarLooks, power_[static_cast<std::size_t>((bin % FftSize + FftSize) % FftSize)]});
      it = lines_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = barred_.begin(); it != barred_.end();) it = --it->Looks <= 0 ? barred_.erase(it) : it + 1;

  const double binHz = rate_ / (FftSize * LookEvery);
  const int reach = std::min(static_cast<int>(SearchHz / binHz), FftSize / 2 - FloorBins - 1);
  auto at = [this](int b) { return power_[static_cast<std::size_t>((b + FftSize) % FftSize)]; };
  // Running sums of the log powers over the bins searched and around them:
  // the floor under a bin is the geometric mean of the bins on both sides.
  const int from = -reach - FloorBins;  // to reach + FloorBins, fewer than FftSize bins
  // Each bin's logarithm is taken once and serves the sums, the test of a
  // peak against its floor and the placing of a peak between bins. They are
  // taken only as far as a bin that may be a line needs them (one that
  // stands above its neighbours and holds its share of the power): a look
  // with no such bin takes none.
  std::array<double, FftSize> logs;
  std::array<double, FftSize + 1> sums{};
  int logged = from;  // bins below this have their logarithms and sums
  auto logTo = [&](int last) {
    for (; logged <= last; ++logged) {
      const auto i = static_cast<std::size_t>(logged - from);
      logs[i] = std::log(at(logged) + 1e-300);
      sums[i + 1] = sums[i] + logs[i];
    }
  };
  auto logAt = [&](int b) { return logs[static_cast<std::size_t>(b - from)]; };
  auto sum = [&](int a, int b) { return sums[static_cast<std::size_t>(b - from + 1)] - sums[static_cast<std::size_t>(a - from)]; };
  const double spread = 2.0 * (FloorBins - LineBins), threshold = std::log(LineOverFloor);
  double total = 0.0;
  for (double p : power_) total += p;
  std::array<double, FftSize> seen{};
  for (int b = -reach; b <= reach; ++b) {
    const double p = at(b);
    if (!(p > at(b - 1) && p >= at(b + 1)) || !(p > MinShare * total)) continue;
    logTo(b + FloorBins);
    const double floor = (sum(b - FloorBins, b - LineBins - 1) + sum(b + LineBins + 1, b + FloorBins)) / spread;
    if (!(logAt(b) - floor > threshold)) continue;
    const auto i = static_cast<std::size_t>((b + FftSize) % FftSize);
    seen[i] = 1.0 + std::max({candidate_[(i + FftSize - 1) % FftSize], candidate_[i], candidate_[(i + 1) % FftSize]});
    if (seen[i] < 2.0 || static_cast<int>(lines_.size()) >= MaxLines) continue;

    // Where the peak lies between the bins, from the logarithms of three.
    const double l0 = logAt(b - 1), l1 = logAt(b), l2 = logAt(b + 1);
    const double den = l0 - 2.0 * l1 + l2;
    const double frac = den < 0.0 ? std::clamp(0.5 * (l0 - l2) / den, -0.5, 0.5) : 0.0;
    const double omega = TwoPi * (b + frac) / (FftSize * LookEvery);
    const double bin = TwoPi / (FftSize * LookEvery), near = 2.5 * bin;
    const auto close = [&](double o) { return std::abs(o - omega) < near; };
    const auto known = std::find_if(lines_.begin(), lines_.end(), [&](const TLine& l) { return close(l.Omega); });
    if (known != lines_.end()) {
      // A weak line more than a bin from a peak that stands out here is not
      // what stands there (a keyed tone's own line, followed off its place;
      // a carrier come on beside it): it moves to the peak and starts afresh.
      if (known->Weak > 0 && std::abs(known->Omega - omega) > bin) {
        SetOmega(*known, omega);
        known->Amplitude = known->Checked = known->Block = known->LastBlock = {};
        known->InBlock = 0;
        known->Averaged = AmplitudeStart;
      }
      continue;
    }
    if (std::any_of(barred_.begin(), barred_.end(),
                    [&](const TBarred& l) { return close(l.Omega) && p < BarredRise * l.Power; }))
      continue;
    TLine& line = lines_.emplace_back();
    SetOmega(line, omega);
  }
  candidate_ = seen;
}

}  // namespace brontel
