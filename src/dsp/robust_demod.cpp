#include "dsp/robust_demod.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/kaiser.h"
#include "dsp/simd.h"

namespace brontel {

namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;
constexpr double ToneHz = 85.0;  // each tone's distance from the centre
// Cross-correlation of the two tones over one bit, sin(21ω)/(21·sin ω) with
// ω = 2π·85/2100: a real number; its phase is the window's position.
const double CrossTone = std::sin(21.0 * TwoPi * ToneHz / 2100.0) / (21.0 * std::sin(TwoPi * ToneHz / 2100.0));


// Kaiser window of the channel low-pass: about 60 dB beyond 450 Hz.
constexpr double FirBeta = 5.65;

// A bit instant this many complex samples or fewer after a blanked sample has
// lost part of its bit (one bit of correlator, the channel filter, half a bit
// for the timing loop's mid-bit sample).
constexpr int TouchSamples = 21 + 31 + 12;

// For the carrier canceller, a tone is heard when its correlator holds more
// than this share of the signal's recent power and this many times the noise.
constexpr double ToneShare = 0.35, CarrierToneHeard = 4.0;

// A bit is surely sent as one tone when its chance is beyond this.
constexpr double SureTone = 0.99;

// A bit whose power is this far above the mean has its confidence scaled
// down by the excess.
constexpr double OutlierPower = 6.0;


// Bits of presence before the timing loop narrows.
constexpr int AcquireBits = 400;

// The frequency correction waits this many bits after a signal appears (the
// carrier canceller has its lines by then).
constexpr int AfcAfterBits = 50;
// … and reads its error from the products two bits apart this many bits
// later (the short-lag loop has brought the error within a few hertz).
constexpr int AfcSettleBits = 100;

// A signal keys its tones: the share of bits where the tone changes,
// averaged over ChangeBits, must be at least ChangeMin (a steady carrier
// beside one tone is no signal).
constexpr double ChangeBits = 100.0, ChangeMin = 0.1;

// Weight, in bits, of the common level of both tones in each tone's own level.
constexpr double ToneLevelPrior = 6.0;

// Presence thresholds on the estimated Eb/N0 (linear): on above 3.5 dB, off below 2 dB.
constexpr double PresentOn = 2.2387, PresentOff = 1.5849;

// Complex product without the special cases of std::complex (all values here
// are finite).
inline std::complex<double> Mul(std::complex<double> a, std::complex<double> b)
{
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

inline std::complex<double> MulConj(std::complex<double> a, std::complex<double> b)  // a·conj(b)
{
  return {a.real() * b.real() + a.imag() * b.imag(), a.imag() * b.real() - a.real() * b.imag()};
}

// Input samples beyond this (or NaN) are taken as 0.
constexpr double InputLimit = 40000.0;

// Whole decimator blocks are summed this many at a time.
constexpr std::size_t FrontBatch = 32;

// The mixer and decimator's sums over whole blocks of 21 samples, in lanes:
// each position's sample times its row of the mixing table (w^r and
// (r + 1)·w^r, real and imaginary) is one 4-wide product added to the even or
// the odd positions' vector, and the raw samples go in pairs into an (even,
// odd) vector, so every lane adds exactly what the scalar accumulators add, in
// the same order. Blocks are summed side by side (independent chains in
// flight). Per block, `sums` gets the mixed sums (even + odd: plain re, im,
// ramp re, im) and the raw sum. The samples are checked on the way (a
// magnitude within InputLimit; NaN fails): the result is false when one is not,
// and the sums are then not to be used.
template <int Blocks>
__attribute__((always_inline)) inline bool SumBlocks(const double* tab, const double* x, double* sums)
{
  using simd::M2;
  using simd::V2;
  using simd::V4;
  constexpr int N = TRobustDemod::Decimation;
  const M2 magnitude = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL};
  const V2 limit = {InputLimit, InputLimit};
  V4 even[Blocks] = {}, odd[Blocks] = {};
  V2 raw[Blocks] = {};
  M2 ok = ~M2{};
  for (int r = 0; r + 1 < N; r += 2) {
    V4 t, w;
    std::memcpy(&t, tab + 4 * r, sizeof t);
    std::memcpy(&w, tab + 4 * r + 4, sizeof w);
    for (int b = 0; b < Blocks; ++b) {
      const double* xb = x + b * N;
      const double u = xb[r], v = xb[r + 1];
      even[b] += V4{u, u, u, u} * t;
      odd[b] += V4{v, v, v, v} * w;
      V2 pair;
      std::memcpy(&pair, xb + r, sizeof pair);
      raw[b] += pair;
      ok &= reinterpret_cast<V2>(reinterpret_cast<M2>(pair) & magnitude) <= limit;
    }
  }
  static_assert(N % 2 == 1, "the last position is even");
  V4 t;
  std::memcpy(&t, tab + 4 * (N - 1), sizeof t);
  for (int b = 0; b < Blocks; ++b) {
    const double u = x[b * N + N - 1];
    even[b] += V4{u, u, u, u} * t;
    // The odd lane gains +0.0, which leaves a sum begun at +0.0 as it is.
    const V2 last = {u, 0.0};
    raw[b] += last;
    ok &= reinterpret_cast<V2>(reinterpret_cast<M2>(last) & magnitude) <= limit;
    const V4 mixed = even[b] + odd[b];
    std::memcpy(sums + 5 * b, &mixed, sizeof mixed);
    sums[5 * b + 4] = raw[b][0] + raw[b][1];
  }
  return ok[0] && ok[1];
}

__attribute__((always_inline)) inline bool SumBlocksAll(const double* tab, const double* x, std::size_t blocks,
                                                        double* sums)
{
  constexpr int N = TRobustDemod::Decimation;
  bool ok = true;
  std::size_t b = 0;
  for (; b + 4 <= blocks; b += 4) ok &= SumBlocks<4>(tab, x + b * N, sums + 5 * b);
  for (; b < blocks; ++b) ok &= SumBlocks<1>(tab, x + b * N, sums + 5 * b);
  return ok;
}

bool BlockSumsBase(const double* tab, const double* x, std::size_t blocks, double* sums)
{
  return SumBlocksAll(tab, x, blocks, sums);
}

#if defined(__x86_64__)
__attribute__((target("avx"))) bool BlockSumsAvx(const double* tab, const double* x, std::size_t blocks,
                                                 double* sums)
{
  return SumBlocksAll(tab, x, blocks, sums);
}
#endif

bool BlockSums(const double* tab, const double* x, std::size_t blocks, double* sums)
{
#if defined(__x86_64__)
  if (simd::HaveAvx()) return BlockSumsAvx(tab, x, blocks, sums);
#endif
  return BlockSumsBase(tab, x, blocks, sums);
}

}  // namespace

TRobustDemod::TRobustDemod(double centreHz)
{
  for (int n = 0; n < RotPeriod; ++n) toneRot_[n] = std::polar(1.0, -TwoPi * ToneHz * n / Rate);
  // Channel low-pass: windowed sinc, cut-off 325 Hz, Kaiser window β = 5.65
  // (about 60 dB beyond 450 Hz), unit gain at 0 Hz.
  const int mid = FirTaps / 2;
  double sum = 0.0;
  for (int k = 0; k < FirTaps; ++k) {
    const double t = k - mid, fc = 325.0 / Rate;
    const double sinc = t == 0 ? 2.0 * fc : std::sin(TwoPi * fc * t) / (std::numbers::pi * t);
    fir_[k] = sinc * KaiserWindow(k, mid, FirBeta);
    sum += fir_[k];
  }
  for (double& h : fir_) h /= sum;
  SetCentre(centreHz);
  Reset();
}

void TRobustDemod::SetCentre(double hz)
{
  const double centre = std::isnan(hz) ? 800.0 : std::clamp(hz, MinCentre, MaxCentre);
  if (centre == centre_) return;  // the same tuning: the frequency tracking carries on
  centre_ = centre;
  offset_ = 0.0;
  afcStep_ = {1.0, 0.0};
  afc_.Reset();
  levels_.Reset();  // what was heard at the old centre is not the new one's level
  canceller_.Reset();
  SetOscillator();
}

void TRobustDemod::SetOscillator()
{
  const double f = centre_;
  const cplx w = std::polar(1.0, -TwoPi * f / InputRate);
  cplx r = 1.0;
  front_.DcPlain = front_.DcRamp = {};
  for (int k = 0; k < Decimation; ++k) {
    const double ramp = k + 1;
    mixTab_[k] = {r.real(), r.imag(), ramp * r.real(), ramp * r.imag()};
    front_.DcPlain += r;
    front_.DcRamp += ramp * r;
    r = Mul(r, w);
  }
  front_.RotBlock = r;
}

void TRobustDemod::Reset()
{
  offset_ = 0.0;
  SetOscillator();
  front_.Phasor = afcPhasor_ = afcStep_ = {1.0, 0.0};
  acc_ = {};
  front_.PrevRamp = {};
  front_.Dc = 0.0;
  fir2_.fill(simd::V2{});
  firPos_ = 0;
  inBlock_ = 0;
  front_.Blocks = 0;
  lineHigh_.fill({});
  lineLow_.fill({});
  accHigh_ = accLow_ = {};
  line_ = rotIndex_ = 0;
  histHigh_.fill({});
  histLow_.fill({});
  hist_ = 0;
  timing_.Reset();
  levels_.Reset();
  present_ = false;
  afc_.Reset();
  rateLine_.Reset();
  absentBits_ = presentBits_ = 0;
  changes_ = prevChance_ = 0.0;
  ampHigh_.fill(0.0);
  ampLow_.fill(0.0);
  ampWeight_.fill(0.0);
  ampValid_.fill(false);
  ampTone_.fill({});
  ampOffLog_.fill(0.0);
  ampPlace_.fill({});
  samples_ = 0;
  ampPos_ = ampFill_ = 0;
  interference_.Reset();
  toneNoise_ = {1.0, 1.0};
  blanker_.Reset();
  sinceBlank_ = TouchSamples;
  canceller_.Reset();
  pendingHead_ = pendingCount_ = 0;
  bitsOut_ = badSamples_ = droppedBits_ = 0;
}

double TRobustDemod::EbN0Db() const
{
  const double signal = levels_.ReportedSignal();
  return signal > 0.0 ? 10.0 * std::log10(signal / levels_.ReportedNoise()) : -99.0;
}

double TRobustDemod::SnrDb() const
{
  // Eb/N0 = SNR · 500 Hz / 100 Bd.
  return levels_.ReportedSignal() > 0.0 ? EbN0Db() - 10.0 * std::log10(5.0) : -99.0;
}

std::size_t TRobustDemod::Process(std::span<const double> in, std::span<double> out)
{
  out_ = out;
  written_ = 0;
  while (pendingCount_ > 0 && written_ < out_.size()) {
    out_[written_++] = pending_[pendingHead_];
    pendingHead_ = (pendingHead_ + 1) % PendingLimit;
    --pendingCount_;
  }

  const std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    if (inBlock_ > 0 || n - i < static_cast<std::size_t>(Decimation)) {
      // A block begun in an earlier call, or the start of one that ends in a later call.
      i += PartBlock(in.data() + i, n - i);
      continue;
    }
    // Whole blocks, a batch at a time. A batch holding a bad sample is summed
    // again from a copy with the bad samples made 0.
    const std::size_t blocks = std::min((n - i) / Decimation, FrontBatch);
    const std::size_t len = blocks * Decimation;
    const double* x = in.data() + i;
    std::array<double, FrontBatch * 5> sums;
    if (!BlockSums(mixTab_[0].data(), x, blocks, sums.data())) {
      std::array<double, FrontBatch * Decimation> cleaned;
      for (std::size_t k = 0; k < len; ++k) {
        const bool good = x[k] >= -InputLimit && x[k] <= InputLimit;
        cleaned[k] = good ? x[k] : 0.0;
        badSamples_ += !good;
      }
      BlockSums(mixTab_[0].data(), cleaned.data(), blocks, sums.data());
    }
    // The oscillator and the running mean stay in a local copy over the
    // batch (the stages after the decimator never touch them).
    TFrontEnd front = front_;
    for (std::size_t b = 0; b < blocks; ++b) {
      const double* v = sums.data() + 5 * b;
      Decimated(front.Output(v[0], v[1], v[2], v[3], v[4]));
    }
    front_ = front;
    i += len;
  }
  out_ = {};
  return written_;
}

std::size_t TRobustDemod::PartBlock(const double* x, std::size_t n)
{
  // Up to the end of the current decimator block: the plain and the
  // ramp-weighted sums of the mixed samples and the plain sum of the raw
  // ones, kept in two sets of accumulators for the even and the odd
  // positions of the block (so the result does not depend on where a call
  // starts or ends; whole blocks are summed in the same order).
  const int take = static_cast<int>(std::min<std::size_t>(Decimation - inBlock_, n));
  const int start = inBlock_;  // x[r - start] is position r of the block
  double e0 = acc_[0], e1 = acc_[1], e2 = acc_[2], e3 = acc_[3], e4 = acc_[4];
  double o0 = acc_[5], o1 = acc_[6], o2 = acc_[7], o3 = acc_[8], o4 = acc_[9];
  int bad = 0;
  auto clean = [&bad](double v) {
    if (v >= -InputLimit && v <= InputLimit) return v;
    ++bad;
    return 0.0;
  };
  int r = inBlock_;
  const int end = inBlock_ + take;
  if (r & 1) {
    const double v = clean(x[r - start]);
    const auto& w = mixTab_[r];
    o0 += v * w[0], o1 += v * w[1], o2 += v * w[2], o3 += v * w[3], o4 += v;
    ++r;
  }
  for (; r + 1 < end; r += 2) {
    const double u = clean(x[r - start]), v = clean(x[r + 1 - start]);
    const auto &t = mixTab_[r], &w = mixTab_[r + 1];
    e0 += u * t[0], e1 += u * t[1], e2 += u * t[2], e3 += u * t[3], e4 += u;
    o0 += v * w[0], o1 += v * w[1], o2 += v * w[2], o3 += v * w[3], o4 += v;
  }
  if (r < end) {
    const double u = clean(x[r - start]);
    const auto& t = mixTab_[r];
    e0 += u * t[0], e1 += u * t[1], e2 += u * t[2], e3 += u * t[3], e4 += u;
  }
  badSamples_ += bad;
  inBlock_ += take;
  if (inBlock_ < Decimation) {
    acc_ = {e0, e1, e2, e3, e4, o0, o1, o2, o3, o4};
    return take;
  }
  acc_ = {};
  inBlock_ = 0;
  Decimated(front_.Output(e0 + o0, e1 + o1, e2 + o2, e3 + o3, e4 + o4));
  return take;
}

TRobustDemod::cplx TRobustDemod::TFrontEnd::Output(double plainRe, double plainIm, double rampRe, double rampIm,
                                                   double raw)
{
  // Remove the input's running mean (its share of both sums is known),
  // then one output of the triangular window: the previous block weighted
  // 1 … 21, this block 20 … 0; unit gain at 0 Hz.
  if (Blocks < 4096) ++Blocks;  // only the start-up weighting needs the count
  const cplx plainSum = cplx{plainRe, plainIm} - Dc * DcPlain;
  const cplx rampSum = cplx{rampRe, rampIm} - Dc * DcRamp;
  Dc += std::max(1.0 / Blocks, 1.0 / 1024) * (raw / Decimation - Dc);
  const cplx plain = Mul(Phasor, plainSum), ramp = Mul(Phasor, rampSum);
  const cplx y = (PrevRamp + static_cast<double>(Decimation) * plain - ramp) * (1.0 / (Decimation * Decimation));
  PrevRamp = ramp;
  Phasor = Mul(Phasor, RotBlock);
  Phasor *= 1.5 - 0.5 * std::norm(Phasor);  // keeps |phasor| at 1
  return y;
}

void TRobustDemod::Decimated(cplx raw)
{
  // Crashes are blanked before the channel filter spreads them.
  const cplx in = blanker_.Step(raw);
  if (blanker_.LastBlanked())
    sinceBlank_ = 0;
  else if (sinceBlank_ < TouchSamples)
    ++sinceBlank_;

  // Channel low-pass (symmetric taps: pairs summed first), on the real and
  // imaginary parts side by side in the two lanes of one vector: each lane
  // does what a scalar loop does, in the same order.
  // The newest sample is taken from the register, not read back from the
  // delay line just written.
  using simd::V2;
  const V2 newest = simd::Pair(in.real(), in.imag());
  fir2_[firPos_] = fir2_[firPos_ + FirTaps] = newest;
  if (++firPos_ == FirTaps) firPos_ = 0;
  const V2* z = fir2_.data() + firPos_;  // oldest first
  constexpr int Mid = FirTaps / 2;
  V2 acc = fir_[Mid] * z[Mid];
  acc += fir_[0] * (z[0] + newest);
  for (int k = 1; k < Mid; ++k) acc += fir_[k] * (z[k] + z[FirTaps - 1 - k]);
  const double yr = acc[0], yi = acc[1];

  // Steady carriers out. A tone counts as heard where its correlator holds a
  // fair share of the signal's recent power and stands above the noise, once
  // what sits on that tone while it is off (a carrier not yet removed) is
  // taken away: otherwise a carrier on one tone makes that tone count as
  // sent throughout, and the lines on its side of the centre are averaged
  // over the signal's own other tone (and remove it).
  const double u = levels_.LocalNoise();
  const double heard = std::max(CarrierToneHeard * u, ToneShare * (levels_.FastPower() - 2.0 * u));
  const double hp = std::norm(accHigh_) - (toneNoise_[0] - 1.0) * u, lp = std::norm(accLow_) - (toneNoise_[1] - 1.0) * u;
  const cplx clean = canceller_.Step(yr, yi, hp > heard, lp > heard);

  // The frequency correction: the tone pair's centre moved to 0 Hz.
  const cplx y = Mul(clean, afcPhasor_);
  afcPhasor_ = Mul(afcPhasor_, afcStep_);
  afcPhasor_ *= 1.5 - 0.5 * std::norm(afcPhasor_);
  ++samples_;
  if (baseband_) baseband_->Baseband(y);

  // Sliding one-bit sums of the signal shifted down by 85 Hz (higher tone)
  // and up by 85 Hz (lower tone).
  const cplx high = Mul(y, toneRot_[rotIndex_]), low = MulConj(y, toneRot_[rotIndex_]);
  accHigh_ += high - lineHigh_[line_];
  accLow_ += low - lineLow_[line_];
  lineHigh_[line_] = high;
  lineLow_[line_] = low;
  if (++line_ == NominalBitLen) line_ = 0;
  if (++rotIndex_ == RotPeriod) {
    // Recompute the sums now and then so that rounding cannot build up.
    rotIndex_ = 0;
    accHigh_ = accLow_ = {};
    for (int k = 0; k < NominalBitLen; ++k) {
      accHigh_ += lineHigh_[k];
      accLow_ += lineLow_[k];
    }
  }
  hist_ = (hist_ + 1) % HistLen;
  histHigh_[hist_] = accHigh_;
  histLow_[hist_] = accLow_;

  // Lag product of each correlator with itself LagAfc samples earlier: its
  // angle is the frequency error of the tones.
  const int lagged = (hist_ + HistLen - LagAfc) % HistLen;
  const int far = (hist_ + HistLen - TFrequencyControl::LongLag) % HistLen;
  afc_.Add(accHigh_, histHigh_[lagged], accLow_, histLow_[lagged], histHigh_[far], histLow_[far]);

  // The squared tone difference for the bit-rate line, divided by the sum of
  // both tone powers (and the noise), so that a strong bit counts in
  // proportion to its power, not its square: neither a fade nor a receiver's
  // AGC can make a few bits outweigh the rest. Blanked stretches count nothing.
  const double h2 = std::norm(accHigh_), l2 = std::norm(accLow_);
  const double diff = h2 - l2;
  const double v = sinceBlank_ < TouchSamples ? 0.0 : diff * diff / (h2 + l2 + 2.0 * levels_.LocalNoise());
  if (rateLine_.Step(v)) timing_.SetPeriod(rateLine_.EndWindow(timing_.Period(), present_));

  if (timing_.Step()) BitInstant(timing_.Late());
}

TRobustDemod::cplx TRobustDemod::HistAt(const std::array<cplx, HistLen>& h, double back) const
{
  const int i = static_cast<int>(back);
  const double g = back - i;
  const cplx a = h[(hist_ + HistLen - i) % HistLen], b = h[(hist_ + 2 * HistLen - i - 1) % HistLen];
  return a + g * (b - a);
}

void TRobustDemod::BitInstant(double frac)
{
  // Correlator outputs at the bit instant and half a bit before it.
  const cplx zh = HistAt(histHigh_, frac), zl = HistAt(histLow_, frac);
  const double half = frac + 0.5 * timing_.Period();
  const cplx mh = HistAt(histHigh_, half), ml = HistAt(histLow_, half);

  // Each correlator also sees the other tone (one bit of a tone 170 Hz away
  // leaves 15 % of its amplitude): with ρ the cross-correlation of the two
  // tones over the window, zh = A + ρ̄·B and zl = ρ·A + B for tone amplitudes
  // A (high) and B (low). Solving for A and B removes that leak, which would
  // otherwise count as noise and, under fading, swamp the noise estimate.
  const double centreIndex = (rotIndex_ + RotPeriod - 1) % RotPeriod - frac - 0.5 * (NominalBitLen - 1);
  const cplx rho = std::polar(CrossTone, 2.0 * TwoPi * ToneHz / Rate * centreIndex);
  const double inv = 1.0 / (1.0 - CrossTone * CrossTone);
  const cplx toneHigh = (zh - std::conj(rho) * zl) * inv, toneLow = (zl - rho * zh) * inv;
  const double rh2 = std::norm(toneHigh), rl2 = std::norm(toneLow);

  // Noise power from moments that need no decision: with signal power a²
  // and noise power u in each correlator, E[rh² + rl²] = a² + 2u and
  // E[4·rh²·rl²] = 4u(a² + u), whichever tone is sent and however a² fades.
  // A bit that lost samples to the blanker tells nothing about the levels.
  const bool touched = sinceBlank_ < TouchSamples;
  if (!touched) levels_.Step(rh2, rl2);
  const double noise = levels_.LocalNoise();

  // Log-likelihood ratio of the two tones for a non-coherent detector with
  // the current amplitude estimate (for the timing loop, which cannot wait),
  // each tone with its own noise: a tone that holds a carrier says little.
  const double llr = Llr(rh2, rl2, levels_.FastPower(), noise * toneNoise_[0], noise * toneNoise_[1]);

  // The value put out is that of the bit AmpLead bits back, with the tone
  // levels taken from the bits on both sides of it: a fade is seen without lag.
  ampHigh_[ampPos_] = rh2;
  ampTone_[ampPos_] = llr > 0.0 ? toneHigh : toneLow;
  ampLow_[ampPos_] = rl2;
  ampWeight_[ampPos_] = 1.0 / (1.0 + std::exp(-llr));
  ampValid_[ampPos_] = !touched;
  ampOffLog_[ampPos_] = TToneLevels::OffLog(rh2, rl2);
  ampPlace_[ampPos_] = {static_cast<double>(samples_) - 0.5 - frac, timing_.Period(), 0.0, 0.0, 0.0, offset_};
  ampPos_ = (ampPos_ + 1) % AmpSpan;
  if (ampFill_ < AmpSpan) ++ampFill_;
  double outLlr = 0.0;
  const bool emit = ampFill_ > AmpLead;
  if (emit) {
    double sum = 0.0, off = 0.0;
    int valid = 0;
    for (int j = 0; j < ampFill_; ++j)
      if (ampValid_[j]) sum += ampHigh_[j] + ampLow_[j], off += ampOffLog_[j], ++valid;
    const int mid = (ampPos_ + AmpSpan - 1 - AmpLead) % AmpSpan;
    // Two bits of the same tone between others of that tone: the tone's
    // amplitude is the same in both, so the difference of their magnitudes
    // is noise alone (its part along the tone's phase, whatever a small
    // frequency error does to the phase).
    const int before = (mid + AmpSpan - 1) % AmpSpan, after = (mid + 1) % AmpSpan, next = (mid + 2) % AmpSpan;
    if (ampFill_ == AmpSpan && ampValid_[before] && ampValid_[mid] && ampValid_[after] && ampValid_[next]) {
      const double lo = std::min({ampWeight_[before], ampWeight_[mid], ampWeight_[after], ampWeight_[next]});
      const double hi = std::max({ampWeight_[before], ampWeight_[mid], ampWeight_[after], ampWeight_[next]});
      if (lo > SureTone || hi < 1.0 - SureTone) {
        const double d = std::abs(ampTone_[after]) - std::abs(ampTone_[mid]);
        levels_.StepQuiet(d * d);
      }
    }
    // The noise at the receiver's gain around this bit.
    const double bitNoise = valid ? levels_.NoiseAt(off / valid) : levels_.LocalNoise();
    // Each tone's own level from the neighbours where it was (softly) the
    // one sent, drawn towards the common level: when one tone fades alone,
    // the decision leans to the other in proportion.
    // Each correlator's own noise: more than the common one where something
    // else sits on that tone.
    const double uh = bitNoise * toneNoise_[0], ul = bitNoise * toneNoise_[1];
    const double flat = std::max(0.1 * bitNoise, (valid ? sum / valid : levels_.MeanPower() * levels_.Gain()) - uh - ul);
    double sh = ToneLevelPrior * flat, nh = ToneLevelPrior, sl = sh, nl = nh;
    for (int q = 0; q < ampFill_; ++q) {
      const int j = (ampPos_ + AmpSpan - 1 - q) % AmpSpan;  // the latest ampFill_ bits
      if (j == mid || !ampValid_[j]) continue;
      const double w = ampWeight_[j];
      sh += w * (ampHigh_[j] - uh);
      nh += w;
      sl += (1.0 - w) * (ampLow_[j] - ul);
      nl += 1.0 - w;
    }
    const double ah2 = std::max(0.1 * bitNoise, sh / nh), al2 = std::max(0.1 * bitNoise, sl / nl);
    const double lh = LogBesselI0(2.0 * std::sqrt(ah2 * ampHigh_[mid]) / uh) - ah2 / uh;
    const double ll = LogBesselI0(2.0 * std::sqrt(al2 * ampLow_[mid]) / ul) - al2 / ul;
    outLlr = std::clamp(lh - ll, -MaxLlr, MaxLlr);
    if (ampValid_[mid]) {
      interference_.Step(1.0 / (1.0 + std::exp(-outLlr)), ampHigh_[mid] / bitNoise, ampLow_[mid] / bitNoise);
      toneNoise_ = {interference_.HighNoise(), interference_.LowNoise()};
    }
    TBitPlace& place = ampPlace_[mid];
    place.Noise = bitNoise;
    place.LevelHigh = ah2;
    place.LevelLow = al2;
    // A bit far stronger than the signal and noise together was hit by
    // something else: its confidence falls with the excess.
    const double midPower = ampHigh_[mid] + ampLow_[mid];
    const double usual = OutlierPower * levels_.MeanPower() * bitNoise / levels_.Noise();
    if (levels_.Bits() > TToneLevels::SettledBits && midPower > usual) outLlr *= usual / midPower;
  }

  // Presence with hysteresis on the mean Eb/N0, and both tones in use.
  const double ebn0 = levels_.Signal() / levels_.Noise();
  const double highChance = 1.0 / (1.0 + std::exp(-llr));
  if (!touched) changes_ += (std::abs(highChance - prevChance_) - changes_) / ChangeBits;
  prevChance_ = highChance;
  const bool keyed = changes_ > ChangeMin;
  if (levels_.Bits() > 30) present_ = keyed && (present_ ? ebn0 > PresentOff : ebn0 > PresentOn);
  absentBits_ = present_ ? 0 : absentBits_ + 1;
  if (present_)
    ++presentBits_;
  else if (absentBits_ > 200)
    presentBits_ = 0;  // a new signal: acquire again

  // Timing.
  timing_.Bit(std::norm(mh), std::norm(ml), levels_.FastPower() + TToneLevels::NoiseFloor, llr, touched, ebn0,
              presentBits_ < AcquireBits, present_ || absentBits_ < 200);

  // Frequency.
  const double before = offset_;
  offset_ = afc_.Bit(highChance, present_ && presentBits_ > AfcAfterBits, presentBits_ > AfcAfterBits + AfcSettleBits,
                     presentBits_ >= AcquireBits, touched, absentBits_);
  if (offset_ != before) {
    afcStep_ = std::polar(1.0, -TwoPi * offset_ / Rate);
    canceller_.SetSignalOffset(offset_);
  }

  if (emit) {
    if (baseband_) baseband_->Bit(ampPlace_[(ampPos_ + AmpSpan - 1 - AmpLead) % AmpSpan]);
    Emit(outLlr);
  }
}

double TRobustDemod::Llr(double rh2, double rl2, double power, double noiseHigh, double noiseLow)
{
  // Both tones faded alike, amplitude a = √(power − uh − ul). A small floor
  // on a keeps the sign of the decision when the estimate says fade.
  if (noiseHigh == noiseLow) {
    const double noise = noiseHigh;
    const double a = std::sqrt(std::max(0.1 * noise, power - 2.0 * noise));
    const double scale = 2.0 * a / noise;
    const double llr = LogBesselI0(scale * std::sqrt(rh2)) - LogBesselI0(scale * std::sqrt(rl2));
    return std::clamp(llr, -MaxLlr, MaxLlr);
  }
  // Rician likelihoods with each tone's own noise: the terms in a² no longer cancel.
  const double a2 = std::max(0.1 * std::min(noiseHigh, noiseLow), power - noiseHigh - noiseLow), a = std::sqrt(a2);
  const double llr = LogBesselI0(2.0 * a * std::sqrt(rh2) / noiseHigh) - a2 / noiseHigh -
                     LogBesselI0(2.0 * a * std::sqrt(rl2) / noiseLow) + a2 / noiseLow;
  return std::clamp(llr, -MaxLlr, MaxLlr);
}

void TRobustDemod::Emit(double v)
{
  ++bitsOut_;
  if (pendingCount_ == 0 && written_ < out_.size()) {
    out_[written_++] = v;
    return;
  }
  if (pendingCount_ == PendingLimit) {
    pendingHead_ = (pendingHead_ + 1) % PendingLimit;
    --pendingCount_;
    ++droppedBits_;
  }
  pending_[(pendingHead_ + pendingCount_) % PendingLimit] = v;
  ++pendingCount_;
}

}  // namespace brontel
