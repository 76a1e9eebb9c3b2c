#include "decoder/robust_decoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "decoder/character_sync.h"
#include "decoder/code_table.h"
#include "decoder/text_output.h"

namespace brontel {

namespace {

// A valid word of a service: its bits as they lie in the register (bit r is the
// bit received r bits before the newest one, in code sense), the value it
// carries and its prior probability.
struct TWord {
  uint16_t Bits;
  uint8_t Value;
  double Prior;
};

using TKind = TServiceKind;
constexpr TKind English = TKind::English, Japanese = TKind::Japanese;

// A service as the decoder sees it: its code (character length, distance and
// period of the copies, the words) with a prior probability for every word.
struct TServiceDef {
  const TServiceCode* Code = nullptr;
  int Unit = 0;    // bits per character
  int Repeat = 0;  // bits between the two copies
  int Period = 0;  // bits from one character to the next of the same kind
  std::vector<TWord> Words;
  uint16_t PhasingFirst = 0, PhasingSecond = 0;  // the phasing pair: first-transmission, repetition
  double PhasingPrior = 0.0;
  double LogPatterns = 0.0;                          // log of the number of bit patterns of both copies
  std::array<int16_t, 1 << MaxUnits> ValueOf{};      // register bits (code sense) → value, −1 if not a word
};

// Bytes of the 94 JIS X 0208 rows and cells.
bool IsJisRow(int b) { return b >= 0x21 && b <= 0x7E; }

// Prior probability of a Japanese data value: half of the bytes are JIS X 0208
// rows (mostly kana, symbols and the first level of kanji), half cells (any of
// 94); the line-end controls and the phasing values now and then; nothing else.
double JisRowShare(int d)
{
  if (d == 0x21 || d == 0x23) return 0.08;          // symbols, full-width letters and figures
  if (d == 0x22) return 0.01;                       // more symbols
  if (d == 0x24) return 0.20;                       // hiragana
  if (d == 0x25) return 0.12;                       // katakana
  if (d >= 0x26 && d <= 0x28) return 0.01 / 3;      // Greek, Cyrillic, box drawing
  if (d >= 0x30 && d <= 0x74) return d < 0x50 ? 0.45 / 32 : 0.05 / 37;  // kanji, first and second level
  return 0.0;                                       // not a row
}

constexpr double JisCells = 94.0;  // cells of a row, all alike as the second byte of a pair

// Weight of a byte as the first of a pair: its row's share, and a little for
// the rows no text uses.
double FirstByteWeight(int d) { return JisRowShare(d) + 1e-4; }

double JisPrior(int d)
{
  if (d == JisLineFeed || d == JisCarriageReturn || d == JisPhasingA || d == JisPhasingB) return 0.02;
  if (!IsJisRow(d)) return 0.0005;
  return 0.5 * JisRowShare(d) + 0.5 / JisCells;
}

// Whether a word writes no text: phasing, idle, carriage return, shifts.
bool WritesNothing(TKind service, int value)
{
  if (service == English)
    return value == CodeSync1 || value == CodeSync2 || value == CodeCarriageReturn || value == CodeLetters ||
           value == CodeFigures || CodeTable()[0][value].empty();
  return value == JisPhasingA || value == JisPhasingB || value == JisCarriageReturn;
}

TServiceDef MakeService(TKind kind)
{
  const TServiceCode& code = ServiceCode(kind);
  TServiceDef s;
  s.Code = &code;
  s.Unit = code.Units;
  s.Repeat = code.Repeat;
  s.Period = code.EvalSlot + 1;
  s.ValueOf.fill(-1);
  constexpr double Unlikely = 0.01;  // prior weight of English words the traffic does not use
  double total = 0.0;
  for (int v = 0; v < code.Values; ++v) {
    const uint16_t w = code.WordOf(v);
    if (w == NoWord) continue;
    // The idle code fills the pauses inside a message: as likely as a letter.
    const bool used = !CodeTable()[0][v].empty() || v == CodeSync2;
    const double prior = kind == English ? (used ? 1.0 : Unlikely) : JisPrior(v);
    s.Words.push_back({w, static_cast<uint8_t>(v), prior});
    s.ValueOf[w] = static_cast<int16_t>(v);
  }
  s.PhasingFirst = code.WordOf(code.PhasingFirst);
  s.PhasingSecond = code.WordOf(code.PhasingRepeat);
  s.PhasingPrior = kind == English ? 1.0 : 0.02;
  for (const TWord& w : s.Words) total += w.Prior;
  total += s.PhasingPrior;
  for (TWord& w : s.Words) w.Prior /= total;
  s.PhasingPrior /= total;
  s.LogPatterns = 2 * s.Unit * std::log(2.0);
  return s;
}

const TServiceDef& Def(TKind service)
{
  static const std::array<TServiceDef, 2> defs = {MakeService(English), MakeService(Japanese)};
  return defs[static_cast<std::size_t>(service)];
}

constexpr TKind Services[] = {English, Japanese};
constexpr TRobustDecoder::TBitSense Senses[] = {TRobustDecoder::TBitSense::AsTaken, TRobustDecoder::TBitSense::Flipped};

// table[x] = product over the n bits of x of (bit set ? m1 : m0), for bits
// start … start+n−1 of a word.
void BuildProducts(double* table, const double* m0, const double* m1, int start, int n)
{
  table[0] = 1.0;
  for (int b = 0; b < n; ++b) {
    const int size = 1 << b;
    for (int x = 0; x < size; ++x) {
      table[x | size] = table[x] * m1[start + b];
      table[x] *= m0[start + b];
    }
  }
}

// Products of both copies' bit probabilities for every pattern of one window,
// split into the four newest bits and the rest.
struct TWindow {
  double Lo[1 << 4];
  double Hi[1 << (MaxUnits - 4)];
  int Full = 0;
  double Weight(int word) const { return Lo[word & 15] * Hi[word >> 4]; }
};

// How many of the characters held back at the end of a signal were part of
// it: those up to the last one that each copy read alone and that was sure.
// The signal may end right after it, so that nothing sure could follow; the
// uncertain characters after it were most likely noise. Noise seldom gives
// two copies that each read as the same word.
template <class TSym>
bool SureInEachCopy(const TSym& s, double sureAbove)
{
  return s.Code >= 0 && s.Posterior >= sureAbove && s.CopyA == s.Code && s.CopyB == s.Code && s.Confirmed;
}

template <class THeld>
std::size_t HeldOfTheSignal(const THeld& held, double sureAbove)
{
  std::size_t n = held.size();
  while (n > 0 && !SureInEachCopy(held[n - 1], sureAbove)) --n;
  return n;
}

constexpr double Tiny = 1e-300;
// Characters after the synchronised alignment last held idle during which
// slips are judged by where the idle code lies.
constexpr int IdleSlipChars = 8;
constexpr double NoSignalOdds = 1.0;  // a window without signal against one with, for the sure test
constexpr uint8_t NoByte = 0xFF;  // a Japanese byte that could not be read
constexpr int SlipSteps[4] = {-1, 1, -2, 2};  // nearest first
constexpr double ShiftOddsLimit = 12.0;

// How often a letter A to Z occurs in letters-shift text (English-like; Z as
// often as every message's ZCZC makes it) and a character in figures-shift
// text (mostly digits, some punctuation), per thousand.
double LetterShare(char c)
{
  static const double f[26] = {80, 15, 28, 43, 120, 22, 20, 60, 70, 2, 8, 40, 24,
                               67, 75, 19, 1, 60, 63, 90, 28, 10, 24, 2, 20, 10};
  return f[c - 'A'];
}

double FigureShare(std::string_view s)
{
  if (s.size() != 1) return 1.0;  // the bell
  const char c = s[0];
  if (c >= '0' && c <= '9') return 80.0;
  if (c == '.' || c == '-') return 60.0;
  if (c == '/') return 40.0;
  if (c == ',') return 20.0;
  if (c == ':') return 10.0;
  return 4.0;
}

// Log-likelihood ratio of the figures row over the letters row given a code.
double FiguresEvidence(uint8_t code)
{
  static const std::array<double, 128> table = [] {
    std::array<double, 128> t{};
    for (int c = 0; c < 127; ++c) {
      const std::string_view l = CodeTable()[0][c], f = CodeTable()[1][c];
      if (l.empty() && f.empty()) continue;
      if (f.empty())
        t[c] = -ShiftOddsLimit;
      else if (l.empty())
        t[c] = ShiftOddsLimit;
      else if (l != f && l.size() == 1)  // a letter: the rows differ only there
        t[c] = std::log(FigureShare(f)) - std::log(LetterShare(l[0]));
    }
    return t;
  }();
  return table[code];
}

// The tone pattern of a word as it lies in the register (bit r received r
// bits before the newest, in code sense), in one bit sense: bit j the j-th
// bit received, 1 the higher tone.
uint16_t TonePattern(uint16_t word, int unit, TRobustDecoder::TBitSense sense)
{
  const unsigned w = sense == TRobustDecoder::TBitSense::Flipped ? ~word & ((1u << unit) - 1) : word;
  unsigned p = 0;
  for (int j = 0; j < unit; ++j) p |= ((w >> (unit - 1 - j)) & 1u) << j;
  return static_cast<uint16_t>(p);
}

// Every pattern the decoder looks for in a service: its words in both senses.
std::vector<uint16_t> ServicePatterns(TKind service)
{
  std::vector<uint16_t> patterns;
  const TServiceDef& d = Def(service);
  for (TRobustDecoder::TBitSense sense : Senses) {
    for (const TWord& w : d.Words) patterns.push_back(TonePattern(w.Bits, d.Unit, sense));
    patterns.push_back(TonePattern(d.PhasingFirst, d.Unit, sense));
    patterns.push_back(TonePattern(d.PhasingSecond, d.Unit, sense));
  }
  return patterns;
}

// ln Σ e^{v[i]}.
double LogSumExp(std::span<const double> v)
{
  double top = -std::numeric_limits<double>::infinity();
  for (double x : v) top = std::max(top, x);
  if (!std::isfinite(top)) return top;
  double sum = 0.0;
  for (double x : v) sum += std::exp(x - top);
  return top + std::log(sum);
}

// Keeps a decision's likeliest values and their probabilities, best first.
template <class TDecision>
void Rank(TDecision& s, int value, double p)
{
  for (std::size_t t = 0; t < s.Top.size(); ++t)
    if (p > s.TopP[t]) {
      for (std::size_t u = s.Top.size() - 1; u > t; --u) s.TopP[u] = s.TopP[u - 1], s.Top[u] = s.Top[u - 1];
      s.TopP[t] = p;
      s.Top[t] = static_cast<int16_t>(value);
      return;
    }
}

// Counts one value of a decision, `p` its unnormalised probability: what
// writes nothing, the likeliest values, the shift codes.
template <class TDecision>
void Tally(TDecision& s, TKind service, int value, double p)
{
  if (WritesNothing(service, value)) s.PNoText += p;
  Rank(s, value, p);
  if (service == English && value == CodeLetters) s.PLetters = p;
  if (service == English && value == CodeFigures) s.PFigures = p;
}

// The probabilities of a decision divided by their sum, `total`.
template <class TDecision>
void Normalise(TDecision& s, double best, double total)
{
  s.Posterior = best / total;
  s.PLetters /= total;
  s.PFigures /= total;
  s.PNoText /= total;
  for (double& t : s.TopP) t /= total;
}

}  // namespace

TRobustDecoder::TRobustDecoder(const TRobustDecoderParams& params)
    : P_(params), Chars_({Def(English).Unit, Def(Japanese).Unit}, {ServicePatterns(English), ServicePatterns(Japanese)})
{
  for (TKind service : Services) {
    const TServiceDef& d = Def(service);
    for (TBitSense sense : Senses) {
      auto& patterns = WordPattern_[Ix(service)][Ix(sense)];
      for (const TWord& w : d.Words)
        patterns.push_back(static_cast<int16_t>(Chars_.PatternIndex(static_cast<int>(service), TonePattern(w.Bits, d.Unit, sense))));
      PhasingPattern_[Ix(service)][Ix(sense)] = {
          static_cast<int16_t>(Chars_.PatternIndex(static_cast<int>(service), TonePattern(d.PhasingFirst, d.Unit, sense))),
          static_cast<int16_t>(Chars_.PatternIndex(static_cast<int>(service), TonePattern(d.PhasingSecond, d.Unit, sense)))};
    }
  }
  for (TKind service : Services) {
    Keep_[Ix(service)] = std::pow(P_.Forget, Def(service).Period);
    KeepShort_[Ix(service)] = std::pow(P_.ShortForget, Def(service).Period);
  }
  P1_.fill(0.5);
  for (auto& s : Acc_)
    for (auto& p : s) p.fill(P_.EvidenceFloor);
  for (auto& s : Short_)
    for (auto& p : s) p.fill(P_.EvidenceFloor);
}

bool TRobustDecoder::Inverted() const
{
  return (Sense_ == TBitSense::Flipped) != Def(Service_).Code->SentInverted;
}

void TRobustDecoder::ScoreBoth(TKind service, int64_t end, int64_t first, double score[2]) const
{
  const TServiceDef& d = Def(service);
  const int sv = static_cast<int>(service);
  if (Chars_.Scored(sv, end) && Chars_.Scored(sv, first)) {
    // Whole-character scores of both copies.
    const float *ve = Chars_.Values(sv, end), *vf = Chars_.Values(sv, first);
    const double offset = Chars_.Offset(sv, end) + Chars_.Offset(sv, first);
    for (TBitSense sense : Senses) {
      const auto& pattern = WordPattern_[Ix(service)][Ix(sense)];
      const auto& phasing = PhasingPattern_[Ix(service)][Ix(sense)];
      double sum = d.PhasingPrior * vf[phasing[0]] * ve[phasing[1]];
      for (std::size_t w = 0; w < d.Words.size(); ++w) {
        const auto p = static_cast<std::size_t>(pattern[w]);
        sum += d.Words[w].Prior * (static_cast<double>(ve[p]) * vf[p]);
      }
      score[Ix(sense)] = std::log(std::max(sum, Tiny)) + offset;
    }
    return;
  }
  const int u = d.Unit;
  double m0[MaxUnits], m1[MaxUnits];
  for (int i = 0; i < u; ++i) {
    const double a = Prob(first - i), b = Prob(end - i);
    m1[i] = a * b;
    m0[i] = (1.0 - a) * (1.0 - b);
  }
  TWindow w;
  BuildProducts(w.Lo, m0, m1, 0, 4);
  BuildProducts(w.Hi, m0, m1, 4, u - 4);
  const int full = (1 << u) - 1;
  double sum0 = 0.0, sum1 = 0.0;
  for (const TWord& word : d.Words) {
    sum0 += word.Prior * w.Weight(word.Bits);
    sum1 += word.Prior * w.Weight(~word.Bits & full);
  }
  double ph0 = d.PhasingPrior, ph1 = d.PhasingPrior;
  for (int i = 0; i < u; ++i) {
    const double a = Prob(first - i), b = Prob(end - i);
    const bool one = (d.PhasingFirst >> i) & 1, two = (d.PhasingSecond >> i) & 1;
    ph0 *= (one ? a : 1.0 - a) * (two ? b : 1.0 - b);
    ph1 *= (one ? 1.0 - a : a) * (two ? 1.0 - b : b);
  }
  score[0] = std::log(std::max(sum0 + ph0, Tiny)) + d.LogPatterns;
  score[1] = std::log(std::max(sum1 + ph1, Tiny)) + d.LogPatterns;
}

bool TRobustDecoder::HoldsIdle(int64_t end) const
{
  const TServiceDef& d = Def(Service_);
  const int idle = Service_ == English ? CodeSync2 : d.PhasingFirst;
  const int flip = Sense_ == TBitSense::Flipped ? (1 << d.Unit) - 1 : 0;
  for (int i = 0; i < d.Unit; ++i) {
    const int bit = ((idle ^ flip) >> i) & 1;
    if ((Llr(end - i) > 0) != (bit == 1) || (Llr(end - d.Repeat - i) > 0) != (bit == 1)) return false;
  }
  return true;
}

double TRobustDecoder::IdleScore(int64_t end, bool both) const
{
  // Log-likelihood ratio of the idle code in both copies (or in the newer
  // one alone) against random bits.
  const TServiceDef& d = Def(Service_);
  if (end - d.Repeat - d.Unit + 1 < 0 || Bit_ - (end - d.Repeat - d.Unit) >= HistLen)
    return -std::numeric_limits<double>::infinity();
  const int idle = Service_ == English ? CodeSync2 : d.PhasingFirst;
  const int flip = Sense_ == TBitSense::Flipped ? (1 << d.Unit) - 1 : 0;
  double sum = 0.0;
  for (int i = 0; i < d.Unit; ++i) {
    const bool one = ((idle ^ flip) >> i) & 1;
    for (const int64_t b : {end - i, end - d.Repeat - i}) {
      if (!both && b != end - i) continue;
      const double p = one ? Prob(b) : 1.0 - Prob(b);
      sum += std::log(2.0 * std::max(p, Tiny));
    }
  }
  return sum;
}

double TRobustDecoder::WindowScore(TKind service, int64_t end, TBitSense sense) const
{
  return PairScore(service, end, end - Def(service).Repeat, sense);
}

double TRobustDecoder::PairScore(TKind service, int64_t end, int64_t first, TBitSense sense) const
{
  double s[2];
  ScoreBoth(service, end, first, s);
  return s[Ix(sense)];
}

bool TRobustDecoder::DecideWhole(TKind service, TBitSense sense, int64_t end, int64_t first, TSymbol& s)
{
  const TServiceDef& d = Def(service);
  const int sv = static_cast<int>(service);
  TCharScores::TCopy a, b;
  if (!Chars_.Rescore(sv, first, a) || !Chars_.Rescore(sv, end, b)) return false;
  const auto& pattern = WordPattern_[Ix(service)][Ix(sense)];
  const auto& phasing = PhasingPattern_[Ix(service)][Ix(sense)];
  // Each word's log-likelihood under the mixture, and under each model alone.
  const std::size_t n = d.Words.size();
  std::vector<double>&mixed = Mixed_, &whole = Whole_, &perBit = PerBit_;
  mixed.resize(n + 1), whole.resize(n + 1), perBit.resize(n + 1);
  double topA = -std::numeric_limits<double>::infinity(), topB = topA;
  std::size_t wordA = n, wordB = n;
  for (std::size_t w = 0; w <= n; ++w) {
    const auto pa = static_cast<std::size_t>(w < n ? pattern[w] : phasing[0]);
    const auto pb = static_cast<std::size_t>(w < n ? pattern[w] : phasing[1]);
    const double prior = std::log(w < n ? d.Words[w].Prior : d.PhasingPrior);
    const double ma = Chars_.Mix(a.Char[pa], a.Bit[pa]), mb = Chars_.Mix(b.Char[pb], b.Bit[pb]);
    mixed[w] = prior + ma + mb;
    whole[w] = prior + a.Char[pa] + b.Char[pb];
    perBit[w] = prior + a.Bit[pa] + b.Bit[pb];
    // Each copy decided alone, by the same models: noise in one copy seldom
    // reads as the word the other copy carries.
    if (prior + ma > topA) topA = prior + ma, wordA = w;
    if (prior + mb > topB) topB = prior + mb, wordB = w;
  }
  s.CopyA = wordA < n ? d.Words[wordA].Value : d.ValueOf[d.PhasingFirst];
  s.CopyB = wordB < n ? d.Words[wordB].Value : d.ValueOf[d.PhasingSecond];
  const double top = *std::max_element(mixed.begin(), mixed.end());
  double total = 0.0, best = -1.0;
  int bestWord = -1;
  for (std::size_t w = 0; w <= n; ++w) {
    const double p = std::exp(mixed[w] - top);
    total += p;
    if (w == n) {
      s.PNoText += p;
      if (p > best) best = p, s.Code = d.Code->PhasingFirst, s.Phasing = true;
      break;
    }
    const int value = d.Words[w].Value;
    Tally(s, service, value, p);
    if (p > best) best = p, s.Code = value, bestWord = static_cast<int>(w);
  }
  if (!(total > 0.0) || !std::isfinite(total)) {
    s.Code = -1;
    return true;
  }
  if (s.Phasing && s.Code != d.Code->PhasingFirst) s.Phasing = false;
  Normalise(s, best, total);
  // One copy alone can make a word likely (the other lost in noise, or the
  // signal over), and noise alone now and then gives one word of the many a
  // high score against the others: a character is only sure when both
  // copies read it and it is likely against noise alone as well (at even
  // odds that the window holds no signal; the scores are against random
  // tones, noise alone scores Energy − Ref there). The signal it is weighed
  // against is the station at the level it has been received at: noise
  // after the end of an emission has a small level of its own, at which
  // one word of many now and then explains it well.
  const double noise = std::log(NoSignalOdds) - a.Ref - b.Ref + a.StationEnergy + b.StationEnergy - top;
  const double againstNoise = best / (total + std::exp(std::min(noise, 700.0)));
  s.Confirmed = wordA == wordB && wordA == (s.Phasing ? n : static_cast<std::size_t>(std::max(bestWord, 0))) &&
                againstNoise >= P_.SureAbove;
  // The decision teaches the frequency estimate and the choice of model.
  const uint16_t wa = s.Phasing ? d.PhasingFirst : d.Words[static_cast<std::size_t>(std::max(bestWord, 0))].Bits;
  const uint16_t wb = s.Phasing ? d.PhasingSecond : wa;
  Chars_.Learn(sv, first, TonePattern(wa, d.Unit, sense), end, TonePattern(wb, d.Unit, sense), s.Posterior,
               LogSumExp(whole) + a.Ref + b.Ref, LogSumExp(perBit) + a.Ref + b.Ref);
  return true;
}

TRobustDecoder::TSymbol TRobustDecoder::DecideChar(TKind service, TBitSense sense, int64_t end, int64_t first)
{
  const TServiceDef& d = Def(service);
  const int u = d.Unit;
  const int full = (1 << u) - 1;
  const int flip = sense == TBitSense::Flipped ? full : 0;
  double m0[MaxUnits], m1[MaxUnits];
  int hardA = 0, hardB = 0;
  for (int i = 0; i < u; ++i) {
    const double a = Prob(first - i), b = Prob(end - i);
    m1[i] = a * b;
    m0[i] = (1.0 - a) * (1.0 - b);
    if (Llr(first - i) > 0) hardA |= 1 << i;
    if (Llr(end - i) > 0) hardB |= 1 << i;
  }
  {
    TSymbol whole;
    if (DecideWhole(service, sense, end, first, whole)) return whole;
  }
  TWindow w;
  BuildProducts(w.Lo, m0, m1, 0, 4);
  BuildProducts(w.Hi, m0, m1, 4, u - 4);

  TSymbol s;
  double total = 0.0, best = 0.0;  // nothing likely at all: no decision
  for (const TWord& word : d.Words) {
    const double p = word.Prior * w.Weight(word.Bits ^ flip);
    total += p;
    Tally(s, service, word.Value, p);
    if (p > best) {
      best = p;
      s.Code = word.Value;
    }
  }
  double ph = d.PhasingPrior;
  for (int i = 0; i < u; ++i) {
    const double a = Prob(first - i), b = Prob(end - i);
    const bool one = ((d.PhasingFirst ^ flip) >> i) & 1, two = ((d.PhasingSecond ^ flip) >> i) & 1;
    ph *= (one ? a : 1.0 - a) * (two ? b : 1.0 - b);
  }
  total += ph;
  s.PNoText += ph;
  if (ph > best) {
    best = ph;
    s.Code = d.Code->PhasingFirst;
    s.Phasing = true;
  }
  if (total > 0.0) Normalise(s, best, total);
  s.CopyA = d.ValueOf[static_cast<std::size_t>(hardA ^ flip)];
  s.CopyB = d.ValueOf[static_cast<std::size_t>(hardB ^ flip)];
  return s;
}

void TRobustDecoder::Process(std::span<const double> soft, TTextStore& text)
{
  for (double v : soft) Step(v, nullptr, text);
}

void TRobustDecoder::Process(std::span<const TBitObservation> bits, TTextStore& text)
{
  for (const TBitObservation& b : bits) Step(b.Soft, &b, text);
}

void TRobustDecoder::Step(double v, const TBitObservation* bit, TTextStore& text)
{
  {
    const int64_t k = Bit_++;
    double l = std::isfinite(v) ? v * P_.LlrScale : 0.0;
    l = std::clamp(l, -P_.LlrClip, P_.LlrClip);
    const std::size_t slot = static_cast<std::size_t>(k) & (HistLen - 1);
    L_[slot] = l;
    P1_[slot] = 1.0 / (1.0 + std::exp(-l));
    // Whole characters: of the service followed once synchronised, of both before.
    if (P_.WholeCharacters != 0) Chars_.Push(bit ? *bit : TBitObservation{}, l, InSync_ ? 1u << Ix(Service_) : 3u);

    for (TKind service : Services) {
      const TServiceDef& d = Def(service);
      if (k < d.Repeat + d.Unit - 1) continue;
      double sc[2];
      ScoreBoth(service, k, k - d.Repeat, sc);
      const int period = d.Period;
      const int phase = static_cast<int>(k % period);
      const double keep = Keep_[Ix(service)], keepShort = KeepShort_[Ix(service)];
      if (InSync_ && service == Service_ && phase == Phase_ && HoldsIdle(k)) {
        LastIdle_ = k;
        IdleEvidence_ = Evidence({service, Sense_, Phase_});
      }
      if (service == Japanese) {
        const double diff = std::max(sc[1], -P_.ScoreClamp) - std::max(sc[0], -P_.ScoreClamp);
        double& jp = JisPolarity_[phase];
        jp = std::clamp(jp * keep + diff, -P_.PolarityClamp, P_.PolarityClamp);
      }
      for (TBitSense sense : Senses) {
        const double c = std::max(sc[Ix(sense)], -P_.ScoreClamp);
        double& a = Acc_[Ix(service)][Ix(sense)][phase];
        a = std::max(P_.EvidenceFloor, a * keep + c);
        double& sh = Short_[Ix(service)][Ix(sense)][phase];
        sh = std::max(-2.0 * P_.ScoreClamp, sh * keepShort + c);
        Last_[Ix(service)][Ix(sense)][phase] = c;
      }
      // Slip detection: how much better each neighbouring alignment has done
      // than the synchronised one, summed while it stays ahead. While idle is
      // sent, every alignment reads a valid word (the idle code's rotations
      // are words too): for a while after the synchronised alignment last
      // held idle, where either alignment clearly shows the idle code only
      // that tells where it lies, and right after idle, while neither does,
      // nothing is counted (the copies of the characters around a slip lie
      // on both sides of it).
      if (InSync_ && service == Service_ && phase == Phase_) {
        const bool idle = Bit_ - LastIdle_ <= IdleSlipChars * period;
        // A clean idle character scores 2·unit·ln 2 (unit·ln 2 in one copy):
        // half of that is clear.
        const double clear = d.Unit * std::log(2.0);
        const double idleHere = idle ? IdleScore(k, true) : 0.0, newerHere = idle ? IdleScore(k, false) : 0.0;
        for (int i = 0; i < 4; ++i) {
          const int step = SlipSteps[i];
          const int nb = (Phase_ + step + period) % period;
          const int64_t there = k + step - (step > 0 ? period : 0);  // the neighbour's newest window
          const auto& last = Last_[Ix(service)][Ix(Sense_)];
          double gain = last[nb] - last[Phase_];
          if (idle) {
            const double idleThere = IdleScore(there, true), newerThere = IdleScore(there, false);
            // The copies of the characters sent while the bits slipped lie on
            // both sides of the slip: the newer one alone shows where it went.
            if (std::max(idleHere, idleThere) > clear)
              gain = idleThere - idleHere;
            else if (std::max(newerHere, newerThere) > clear / 2)
              gain = newerThere - newerHere;
            else if (Bit_ - LastIdle_ <= 3 * period)
              continue;
          }
          // Where a neighbour starts gaining, the newer copy of its window
          // is the first sent after the slip.
          if (SlipSum_[i] <= 0.0) SlipFrom_[i] = there - d.Unit + 1;
          SlipSum_[i] = std::max(0.0, SlipSum_[i] + std::clamp(gain, -P_.SlipStepLimit, P_.SlipStepLimit));
        }
      }
    }
    UpdateSync(text);
    if (InSync_) DecideDue(k, text);
  }
}

void TRobustDecoder::UpdateSync(TTextStore& text)
{
  // The best hypothesis and the best of the other alignments. Both polarities of
  // a Japanese alignment fit the same words (the code is closed under
  // inversion): the values they carry decide between them.
  THypothesis best;
  double a1 = -std::numeric_limits<double>::infinity(), a2 = a1;
  for (TKind service : Services)
    for (int ph = 0; ph < Def(service).Period; ++ph)
      for (TBitSense sense : Senses) {
        if (service == Japanese && sense != JisSense(ph)) continue;
        const double a = Acc_[Ix(service)][Ix(sense)][ph];
        if (a > a1) {
          a2 = a1;
          a1 = a;
          best = {service, sense, ph};
        } else if (a > a2) {
          a2 = a;
        }
      }
  if (!InSync_) {
    const bool polarityKnown = best.Service == English || std::abs(JisPolarity_[best.Phase]) >= P_.PolarityMargin;
    if (a1 >= P_.AcquireLevel && a1 - a2 >= P_.AcquireMargin && Recent(best) > 0.0 && polarityKnown)
      Acquire(best, true, text);
    return;
  }
  if (Service_ == Japanese && JisSense(Phase_) != Sense_ && std::abs(JisPolarity_[Phase_]) >= P_.PolarityMargin) {
    Switch({Japanese, JisSense(Phase_), Phase_}, false, text);
    return;
  }
  // A neighbouring alignment that has kept doing better: a bit slip. (While
  // the idle signal is sent, counted from where the idle code lies: its
  // repetitions of one code fit every alignment.)
  const THypothesis cur{Service_, Sense_, Phase_};
  const int period = Def(Service_).Period;
  // The one that gathered the most wins; the nearer one when two gathered as much.
  int slip = -1;
  for (int i = 0; i < 4; ++i) {
    const int nb = (Phase_ + SlipSteps[i] + period) % period;
    if (SlipSum_[i] >= P_.SlipMargin && Last_[Ix(Service_)][Ix(Sense_)][nb] > 0.0 &&
        (slip < 0 || SlipSum_[i] > SlipSum_[slip]))
      slip = i;
  }
  if (slip >= 0) {
    const int64_t from = SlipFrom_[static_cast<std::size_t>(slip)];
    const THypothesis to{Service_, Sense_, (Phase_ + SlipSteps[slip] + period) % period};
    Switch(to, true, text);
    // Amid idle, the evidence the alignment lost since it last held idle (the
    // copies lay across the slip) belongs to the new one.
    if (Bit_ - LastIdle_ <= IdleSlipChars * period) Evidence(to) = std::max(Evidence(to), IdleEvidence_);
    // The copies sent before the slip, not decided yet, lie on the old grid.
    SlipStep_ = SlipSteps[slip];
    SlipAt_ = from;
    return;
  }
  // While a neighbour is gaining on the alignment, the characters that went
  // wrong may be those of a slip: it gets one more character to show.
  const bool slipping = *std::max_element(SlipSum_.begin(), SlipSum_.end()) >= P_.SlipMargin / 2;
  const double lossRecent = slipping ? P_.LossRecent - P_.ScoreClamp / 2 : P_.LossRecent;
  // Right after idle, a slip shows only once both copies of a character lie
  // after it (up to two bits later than on the grid): until then the
  // evidence is not taken to have run out.
  const bool afterIdle = Bit_ - LastIdle_ <= 4 * period + 3;
  if ((!afterIdle && (Evidence(cur) < P_.LossLevel || Recent(cur) < lossRecent)) ||
      UncertainInARow() >= P_.LossHeld) {
    Lose(text);
    return;
  }
  // Another service, polarity or alignment that has taken over.
  if (!(best == cur) && a1 >= Evidence(cur) + P_.SwitchMargin && Recent(best) > 0.0) {
    int dist = (best.Phase - cur.Phase + period) % period;
    dist = std::min(dist, period - dist);
    Switch(best, best.Service == cur.Service && best.Sense == cur.Sense && dist <= 2, text);
  }
}

int TRobustDecoder::UncertainInARow() const
{
  // A likely character held only because its copies read differently shows
  // that the signal goes on.
  int n = 0;
  for (auto it = Held_.rbegin(); it != Held_.rend() && (it->Confirmed || it->Posterior < P_.SureAbove); ++it) ++n;
  return n;
}

void TRobustDecoder::Acquire(const THypothesis& h, bool preRoll, TTextStore& text)
{
  InSync_ = true;
  Service_ = h.Service;
  Sense_ = h.Sense;
  Phase_ = h.Phase;
  ++SyncChanges_;
  LastOffGrid_ = 0;
  SlipSum_.fill(0.0);
  SlipStep_ = 0;
  IdleBefore_ = false;
  ResetText();
  // Decode the characters that built the evidence, back to where it began.
  const TServiceDef& d = Def(Service_);
  const int period = d.Period;
  const int64_t newest = Bit_ - 1 - static_cast<int64_t>(P_.DelayChars) * period;
  int64_t e = newest - ((newest - Phase_) % period + period) % period;
  // Walking back, the evidence summed from here grows while the signal lasts and
  // falls before it began: the characters back to its highest point are decoded.
  std::vector<int64_t> ends;
  double sum = 0.0, top = 0.0;
  std::size_t keep = 0;
  // Never back into characters already decided under an earlier synchronisation.
  for (int64_t x = e; preRoll && x > LastEnd_ + d.Unit && x >= d.Repeat + d.Unit - 1 &&
                      static_cast<int>(ends.size()) < P_.MaxPreRoll &&
                      Bit_ - (x - d.Repeat - d.Unit) < HistLen;
       x -= period) {
    sum += WindowScore(Service_, x, Sense_) - P_.PreRollBias;
    ends.push_back(x);
    if (sum > top) top = sum, keep = ends.size();
    if (sum < top - P_.AcquireMargin) break;
  }
  ends.resize(keep);
  bool started = false;  // from the first sure character on
  for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
    const TSymbol s = DecideChar(Service_, Sense_, *it, *it - d.Repeat);
    started = started || (s.Code >= 0 && s.Posterior >= P_.SureAbove && s.Confirmed);
    if (started) Take(s, text, 0.0);
  }
  LastEnd_ = e;
}

void TRobustDecoder::Switch(const THypothesis& h, bool slip, TTextStore& text)
{
  if (!slip) {
    ReleaseHeld(text);
    FlushAhead(text);
    FlushLine(text, Line_, LineConf_);
    Acquire(h, false, text);
    return;
  }
  ++SyncChanges_;
  const THypothesis cur{Service_, Sense_, Phase_};
  // The evidence gathered so far belongs to the new alignment now.
  Evidence(h) = std::max(Evidence(h), Evidence(cur));
  Evidence(cur) = P_.EvidenceFloor;
  Phase_ = h.Phase;
  LastOffGrid_ = 0;
  SlipSum_.fill(0.0);
  SlipStep_ = 0;
}

void TRobustDecoder::Lose(TTextStore& text)
{
  // Unless uncertain characters were held, those whose copies have both
  // arrived are decided first, as far as they are sure: the signal may have
  // gone wrong only after them.
  const TServiceDef& d = Def(Service_);
  const bool doubtful = std::any_of(Held_.begin(), Held_.end(), [&](const TSymbol& s) { return s.Code < 0 || s.Posterior < P_.SureAbove; });
  for (int64_t x = LastEnd_ + d.Period; !doubtful && x <= Bit_ - 1; x += d.Period) {
    const TSymbol s = DecideChar(Service_, Sense_, x, x - d.Repeat);
    if (!SureInEachCopy(s, P_.SureAbove)) break;
    Take(s, text, 0.0);
    LastEnd_ = x;
  }
  InSync_ = false;
  ++SyncChanges_;
  Held_.resize(HeldOfTheSignal(Held_, P_.SureAbove));
  ReleaseHeld(text);
  FlushAhead(text);
  FlushLine(text, Line_, LineConf_);
  Kanji_.KanjiCount = 0;
}

void TRobustDecoder::DecideDue(int64_t newest, TTextStore& text)
{
  const TServiceDef& d = Def(Service_);
  const int period = d.Period;
  const int64_t e = newest - static_cast<int64_t>(P_.DelayChars) * period;
  if (e < d.Repeat + d.Unit - 1 || ((e - Phase_) % period + period) % period != 0) return;
  if (e - LastEnd_ < period - 3) return;  // the last character again, seen after a slip
  // Characters passed over since the last one (a slip of more than a character).
  int64_t first = e;
  while (first - period - LastEnd_ >= period - 3 && Bit_ - (first - period - d.Repeat - d.Unit) < HistLen)
    first -= period;
  for (int64_t x = first; x <= e; x += period) DecideLocally(x, text);
}

void TRobustDecoder::Finish(TTextStore& text)
{
  if (!InSync_) return;
  const TServiceDef& d = Def(Service_);
  const int period = d.Period;
  for (int64_t x = LastEnd_ + period; x <= Bit_ - 1; x += period)
    if (x >= d.Repeat + d.Unit - 1) {
      DecideLocally(x, text);
    }
  Held_.resize(HeldOfTheSignal(Held_, P_.SureAbove));
  ReleaseHeld(text);
  FlushAhead(text);
}

void TRobustDecoder::Interrupt(TTextStore& text)
{
  Finish(text);
  FlushLine(text, Line_, LineConf_);
  *this = TRobustDecoder(P_);
}

void TRobustDecoder::DecideLocally(int64_t end, TTextStore& text)
{
  // Each copy may lie a bit off the grid when a bit slip happened near it: the
  // most likely placement, a slip costing SlipPenalty, decides the character.
  // A copy sent before the last slip found lies on the grid as it was before,
  // at no cost: a character sent across the slip has its first copy there and
  // its repetition on the new grid.
  const TServiceDef& d = Def(Service_);
  const int old = -SlipStep_;  // the old grid, as an offset
  const auto onGrid = [&](int offset, int64_t copyEnd) { return offset == 0 || (offset == old && copyEnd - old < SlipAt_); };
  int best2 = 0, best1 = 0;
  double bestScore = -std::numeric_limits<double>::infinity();
  // Offsets of the second copy from the grid, and of the first: a bit either
  // way, or on the old grid.
  const int second[4] = {-1, 0, 1, old};
  for (int j = 0; j < (std::abs(old) > 1 ? 4 : 3); ++j) {
    const int a2 = second[j];
    const int first[4] = {a2 - 1, a2, a2 + 1, old};
    for (int i = 0; i < (std::abs(old - a2) > 1 ? 4 : 3); ++i) {
      const int a1 = first[i];
      const int64_t e = end + a2, f = end - d.Repeat + a1;
      if (e > Bit_ - 1 || f - d.Unit + 1 < 0 || Bit_ - (f - d.Unit) >= HistLen) continue;
      // A slip costs where the second copy is off the grid, and where the
      // first lies apart from it other than across the slip found.
      const int slips = !onGrid(a2, e) + (a1 != a2 && !(a2 == 0 && onGrid(a1, f)));
      const double sc = PairScore(Service_, e, f, Sense_) - P_.SlipPenalty * slips;
      if (sc > bestScore) bestScore = sc, best2 = a2, best1 = a1 - a2;
    }
  }
  const int64_t e = end + best2;
  TSymbol s = DecideChar(Service_, Sense_, e, e - d.Repeat + best1);
  // After idle, an uncertain character one copy of which reads idle was
  // idle where idle came again after it: a slip broke the other copy. The
  // copy broken by the slip found last lies in the two before the first one
  // sent after it: a character sent across it was idle where its first copy
  // holds idle on the old grid or its repetition on the new one.
  const int idle = d.Code->PhasingFirst;
  const double clear = d.Unit * std::log(2.0) / 2;  // half of what a clean idle copy scores
  const bool acrossSlip = SlipStep_ != 0 && end - d.Repeat < SlipAt_ && end >= SlipAt_ - 2 * d.Unit;
  const bool idleBetween = s.Posterior < P_.SureAbove && LastIdle_ > e && (s.CopyA == idle || s.CopyB == idle);
  const bool idleAcross = acrossSlip && (IdleScore(end, false) > clear || IdleScore(end - d.Repeat + old, false) > clear);
  if (IdleBefore_ && (idleBetween || idleAcross)) {
    s.Code = idle;
    s.Top = {static_cast<int16_t>(idle), -1, -1, -1};
    s.TopP = {s.Posterior, 0.0, 0.0, 0.0};
  }
  IdleBefore_ = s.Code == idle;
  Take(s, text, EvidenceAfter(e));
  LastEnd_ = e;
  // The newer copies keep lying off the grid: the alignment has slipped.
  const int off = onGrid(best2, e) ? 0 : best2;
  if (off != 0 && off == LastOffGrid_) {
    const int period = d.Period;
    Switch({Service_, Sense_, (Phase_ + off + period) % period}, true, text);
    return;
  }
  LastOffGrid_ = off;
}

double TRobustDecoder::EvidenceAfter(int64_t end) const
{
  const int period = Def(Service_).Period;
  double sum = 0.0;
  for (int64_t x = end; x <= Bit_ - 1; x += period) sum += WindowScore(Service_, x, Sense_);
  return sum;
}

void TRobustDecoder::Take(const TSymbol& s, TTextStore& text, double after)
{
  // A character is sure when it is likely and the signal went on after it.
  if (s.Code >= 0 && s.Posterior >= P_.SureAbove && after >= 0.0 && s.Confirmed) {
    ReleaseHeld(text);
    Emit(s, text);
    return;
  }
  Held_.push_back(s);
  if (static_cast<int>(Held_.size()) > P_.MaxHeld) {
    Emit(Held_.front(), text);
    Held_.pop_front();
  }
}

void TRobustDecoder::ReleaseHeld(TTextStore& text)
{
  for (const TSymbol& h : Held_) Emit(h, text);
  Held_.clear();
}

void TRobustDecoder::ResetText()
{
  Held_.clear();
  FigOdds_ = -1.0;  // joining a message: most likely letters, not sure
  Ahead_.clear();
  Kanji_.KanjiCount = 0;
  PairEvidence_ = 0.0;
  PairPeak_ = 0.0;
  PairPeakAt_ = LineConf_.size();
  AfterIdle_ = false;
  NoneLost_ = 1.0;
}

void TRobustDecoder::Emit(const TSymbol& s, TTextStore& text)
{
  // English characters wait for a few more, whose meanings help to tell
  // letters from figures.
  if (Service_ != English) {
    EmitNow(s, text);
    return;
  }
  Ahead_.push_back(s);
  while (static_cast<int>(Ahead_.size()) > P_.ShiftLookahead) {
    const TSymbol front = Ahead_.front();
    Ahead_.pop_front();
    EmitNow(front, text);
  }
}

void TRobustDecoder::FlushAhead(TTextStore& text)
{
  while (!Ahead_.empty()) {
    const TSymbol front = Ahead_.front();
    Ahead_.pop_front();
    EmitNow(front, text);
  }
}

void TRobustDecoder::EmitNow(const TSymbol& s, TTextStore& text)
{
  const bool erased = s.Code < 0 || s.Posterior < P_.EraseBelow;
  if (!erased) AfterIdle_ = WritesNothing(Service_, s.Code) && s.Code != CodeCarriageReturn &&
                            s.Code != JisCarriageReturn && s.Code != CodeLetters && s.Code != CodeFigures;
  // An uncertain word that most likely wrote nothing (or comes amid phasing or idle) leaves no mark.
  if (erased && (s.PNoText >= 0.5 || (AfterIdle_ && s.PNoText >= 0.2))) {
    if (Service_ == English) ErasedShift(s);
    WroteNothing(s);
    return;
  }
  const bool phasing = s.Code == Def(Service_).Code->PhasingFirst && s.CopyA != s.CopyB;
  if (s.Code >= 0 && !phasing && (s.CopyA != s.Code || s.CopyB != s.Code)) ++Corrections_;
  if (Service_ == English)
    EmitEnglish(s, text);
  else
    EmitJapanese(s, text);
}

bool TRobustDecoder::ErasedShift(const TSymbol& s)
{
  // A lost shift code: one copy may still show it …
  const bool copyLetters = s.CopyA == CodeLetters || s.CopyB == CodeLetters;
  const bool copyFigures = s.CopyA == CodeFigures || s.CopyB == CodeFigures;
  if (copyLetters != copyFigures) {
    FigOdds_ = copyFigures ? ShiftOddsLimit : -ShiftOddsLimit;
    return true;
  }
  // … or the chance that it was one moves the figures probability.
  AllowShift(s);
  return s.PLetters + s.PFigures >= 0.5;
}

void TRobustDecoder::AllowShift(const TSymbol& s)
{
  const double pf = s.PFigures + (1.0 - s.PLetters - s.PFigures) / (1.0 + std::exp(-FigOdds_));
  FigOdds_ = std::clamp(std::log(std::max(pf, 1e-9) / std::max(1.0 - pf, 1e-9)), -ShiftOddsLimit, ShiftOddsLimit);
}

void TRobustDecoder::EmitEnglish(const TSymbol& s, TTextStore& text)
{
  const bool erased = s.Code < 0 || s.Posterior < P_.EraseBelow;
  if (erased) {
    if (ErasedShift(s)) {
      WroteNothing(s);
      return;
    }
    ++Characters_;
    ++Erasures_;
    Print(EnglishErasure, 1, 0.0, text);
    return;
  }
  const auto code = static_cast<uint8_t>(s.Code);
  // A shift code sets the state as far as it is itself sure.
  const double sure = std::clamp(std::log(s.Posterior / std::max(1.0 - s.Posterior, 1e-9)), 0.0, ShiftOddsLimit);
  switch (code) {
    case CodeLetters:
      FigOdds_ = -sure;
      WroteNothing(s);
      return;
    case CodeFigures:
      FigOdds_ = sure;
      WroteNothing(s);
      return;
    case CodeSync1:
    case CodeSync2:
      // After phasing a message starts in letters, even when its letters shift is lost.
      if (s.Phasing) FigOdds_ = std::min(FigOdds_, -3.0);
      WroteNothing(s);
      return;
    case CodeCarriageReturn:
      WroteNothing(s);
      return;
    case CodeLineFeed:
      FlushLine(text, Line_, LineConf_);
      return;
    default:
      break;
  }
  // Every character tells which row is more likely: a code without a meaning
  // in one row, or the usual frequencies of letters and of figures. The row
  // of this one is chosen with the characters waiting after it, up to the
  // next shift or uncertain character. The character itself may have been a
  // shift code read wrongly.
  AllowShift(s);
  FigOdds_ = std::clamp(FigOdds_ + FiguresEvidence(code), -ShiftOddsLimit, ShiftOddsLimit);
  double ahead = 0.0;
  for (const TSymbol& next : Ahead_) {
    if (next.Code < 0 || next.Posterior < P_.EraseBelow || next.Code == CodeLetters || next.Code == CodeFigures)
      break;
    ahead += FiguresEvidence(static_cast<uint8_t>(next.Code));
  }
  const double odds = FigOdds_ + std::clamp(ahead, -ShiftOddsLimit, ShiftOddsLimit);
  const int row = odds > 0.0 ? 1 : 0;
  const std::string_view t = CodeTable()[row][code];
  if (t.empty()) return;
  ++Characters_;
  // The printed text is right when the code is one that prints it in this
  // row (two codes print a space) and, unless both rows print the same, the
  // row is right.
  double pCode = s.Posterior;
  for (std::size_t i = 0; i < s.Top.size(); ++i)
    if (s.Top[i] != code && s.Top[i] >= 0 && CodeTable()[row][s.Top[i]] == t) pCode += s.TopP[i];
  const bool bothRows = CodeTable()[0][code] == CodeTable()[1][code];
  const double pRow = bothRows ? 1.0 : 1.0 / (1.0 + std::exp(-std::abs(odds)));
  Print(t, t.size(), pCode * pRow, text);
}

void TRobustDecoder::EmitJapanese(const TSymbol& symbol, TTextStore& text)
{
  // The decision took any byte as a row or a cell alike; here the place in the
  // pair is known, so the likeliest values are weighed again with the prior of
  // a row (first byte) or of a cell (second byte).
  TSymbol s = symbol;
  if (!s.Phasing && s.Code >= 0) {
    double kept = 1.0, best = -1.0;
    for (std::size_t t = 0; t < s.Top.size(); ++t) {
      const int v = s.Top[t];
      kept -= s.TopP[t];
      if (IsJisRow(v)) s.TopP[t] *= (Kanji_.KanjiCount == 0 ? FirstByteWeight(v) : 1.0 / JisCells) / JisPrior(v);
    }
    double total = std::max(kept, 0.0);
    for (std::size_t t = 0; t < s.Top.size(); ++t) {
      total += s.TopP[t];
      if (s.TopP[t] > best) best = s.TopP[t], s.Code = s.Top[t];
    }
    s.Posterior = total > 0.0 ? best / total : 0.0;
  }
  const bool erased = s.Code < 0 || s.Posterior < P_.EraseBelow;
  const int d = erased ? -1 : s.Code;
  switch (d) {
    case JisLineFeed:
      FlushLine(text, Line_, LineConf_);
      SetPairing(P_.PairMargin);
      return;
    case JisCarriageReturn:
    case JisPhasingA:
    case JisPhasingB:
      SetPairing(P_.PairMargin);
      WroteNothing(s);
      return;
    default:
      break;
  }
  // Rows and cells have different values: a pairing that no longer fits is moved by a byte.
  if (d >= 0) {
    const double rowness = std::log(FirstByteWeight(d)) + std::log(JisCells);
    PairEvidence_ = 0.9 * PairEvidence_ + (Kanji_.KanjiCount == 0 ? rowness : -rowness);
    if (PairEvidence_ >= PairPeak_) {
      // The pairing fits up to the character this byte is part of.
      PairPeak_ = PairEvidence_;
      PairPeakAt_ = LineConf_.size() + 1;
    }
  }
  if (PairEvidence_ < -P_.PairMargin) {
    // The characters printed since the pairing last fitted were most likely
    // made of bytes of two characters.
    for (std::size_t i = std::min(PairPeakAt_, LineConf_.size()); i < LineConf_.size(); ++i) LineConf_[i] = 0.0f;
    const bool held = Kanji_.KanjiCount == 1;
    SetPairing(-PairEvidence_);
    // The byte held (or this one) was the second of a pair whose first is gone.
    ++Characters_;
    ++Erasures_;
    Print(JapaneseErasure, 1, 0.0, text);
    if (!held) return;
  }
  KanjiSure_[Kanji_.KanjiCount] = d < 0 ? 0.0 : s.Posterior;
  if (!Kanji_.TakeByte(d < 0 ? NoByte : static_cast<uint8_t>(d))) return;
  ++Characters_;
  if (IsJisRow(Kanji_.KanjiBuf[0]) && IsJisRow(Kanji_.KanjiBuf[1])) {
    std::string sj;
    AppendShiftJis(sj, Kanji_.KanjiBuf);
    Print(sj, 1, KanjiSure_[0] * KanjiSure_[1], text);
  } else {
    ++Erasures_;
    Print(JapaneseErasure, 1, 0.0, text);
  }
}

void TRobustDecoder::WroteNothing(const TSymbol& s)
{
  // Unless it was a character that writes nothing, the next character
  // printed comes after a lost one.
  NoneLost_ *= std::clamp(s.PNoText, 0.0, 1.0);
}

void TRobustDecoder::SetPairing(double evidence)
{
  Kanji_.KanjiCount = 0;
  PairEvidence_ = PairPeak_ = evidence;
  PairPeakAt_ = LineConf_.size();
}

void TRobustDecoder::Print(std::string_view t, std::size_t chars, double p, TTextStore& text)
{
  // The odds against the character, as the soft values give them, are
  // sharpened or softened by the calibration of their scale.
  p = std::clamp(p * NoneLost_, 0.0, 1.0);
  NoneLost_ = 1.0;
  if (p > 0.0 && p < 1.0) p = 1.0 / (1.0 + std::pow((1.0 - p) / p, P_.ConfidenceScale));
  Line_.append(t);
  LineConf_.insert(LineConf_.end(), chars, static_cast<float>(p));
  LineGrew(text, Line_, LineConf_);
}

}  // namespace brontel
