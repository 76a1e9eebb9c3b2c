#include "decoder/robust_decoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

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

struct TServiceDef {
  int Unit = 0;    // bits per character
  int Repeat = 0;  // bits between the two copies
  std::vector<TWord> Words;
  uint16_t PhasingFirst = 0, PhasingSecond = 0;  // the phasing pair: first-transmission, repetition
  double PhasingPrior = 0.0;
  double LogPatterns = 0.0;               // log of the number of bit patterns of both copies
  std::array<int16_t, 1024> ValueOf{};    // register bits (code sense) → value, −1 if not a word
};

// Register bits of a 10-unit character: the check field (the count of zero
// data bits, most significant bit received first) is newest, the data bits
// were received least significant first.
uint16_t JisWord(int data)
{
  const int zeros = 7 - std::popcount(static_cast<unsigned>(data));
  uint16_t w = static_cast<uint16_t>(zeros);
  for (int j = 0; j < 7; ++j)
    if (data & (1 << j)) w |= static_cast<uint16_t>(1 << (9 - j));
  return w;
}

// Whether a data value occurs in Japanese traffic: the JIS X 0208 byte range,
// the line-end controls and the phasing values.
bool JisExpected(int d)
{
  return (d >= 0x21 && d <= 0x7E) || d == JisLineFeed || d == JisCarriageReturn || d == JisPhasingA ||
         d == JisPhasingB;
}

TServiceDef MakeService(bool english)
{
  TServiceDef s;
  s.Unit = english ? 7 : 10;
  s.Repeat = english ? 35 : 50;
  s.ValueOf.fill(-1);
  constexpr double Unlikely = 0.01;  // prior weight of words the traffic does not use
  double total = 0.0;
  if (english) {
    for (int c = 0; c < 128; ++c) {
      if (std::popcount(static_cast<unsigned>(c)) != 4) continue;
      const bool used = !CodeTable()[0][c].empty();
      s.Words.push_back({static_cast<uint16_t>(c), static_cast<uint8_t>(c), used ? 1.0 : Unlikely});
      s.ValueOf[c] = static_cast<int16_t>(c);
    }
    s.PhasingFirst = CodeSync2;
    s.PhasingSecond = CodeSync1;
  } else {
    for (int d = 0; d < 128; ++d) {
      const uint16_t w = JisWord(d);
      s.Words.push_back({w, static_cast<uint8_t>(d), JisExpected(d) ? 1.0 : Unlikely});
      s.ValueOf[w] = static_cast<int16_t>(d);
    }
    s.PhasingFirst = JisWord(JisPhasingB);
    s.PhasingSecond = JisWord(JisPhasingA);
  }
  s.PhasingPrior = 1.0;
  for (const TWord& w : s.Words) total += w.Prior;
  total += s.PhasingPrior;
  for (TWord& w : s.Words) w.Prior /= total;
  s.PhasingPrior /= total;
  s.LogPatterns = 2 * s.Unit * std::log(2.0);
  return s;
}

const TServiceDef& Def(int service)
{
  static const std::array<TServiceDef, 2> defs = {MakeService(true), MakeService(false)};
  return defs[service];
}

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
  double Lo[16];
  double Hi[64];
  int Full = 0;
  double Weight(int word) const { return Lo[word & 15] * Hi[word >> 4]; }
};

constexpr double Tiny = 1e-300;

}  // namespace

TRobustDecoder::TRobustDecoder(const TRobustDecoderParams& params) : P_(params)
{
  P1_.fill(0.5);
  for (auto& s : Acc_)
    for (auto& p : s) p.fill(P_.EvidenceFloor);
  for (auto& s : Short_)
    for (auto& p : s) p.fill(P_.EvidenceFloor);
}

bool TRobustDecoder::Inverted() const { return Service_ == 0 ? Polarity_ == 1 : Polarity_ == 0; }

void TRobustDecoder::ScoreBoth(int service, int64_t end, double score[2]) const
{
  const TServiceDef& d = Def(service);
  const int u = d.Unit, r = d.Repeat;
  double m0[10], m1[10];
  for (int i = 0; i < u; ++i) {
    const double a = Prob(end - r - i), b = Prob(end - i);
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
    const double a = Prob(end - r - i), b = Prob(end - i);
    const bool first = (d.PhasingFirst >> i) & 1, second = (d.PhasingSecond >> i) & 1;
    ph0 *= (first ? a : 1.0 - a) * (second ? b : 1.0 - b);
    ph1 *= (first ? 1.0 - a : a) * (second ? 1.0 - b : b);
  }
  score[0] = std::log(std::max(sum0 + ph0, Tiny)) + d.LogPatterns;
  score[1] = std::log(std::max(sum1 + ph1, Tiny)) + d.LogPatterns;
}

bool TRobustDecoder::HoldsIdle(int64_t end) const
{
  const TServiceDef& d = Def(Service_);
  const int idle = Service_ == 0 ? CodeSync2 : d.PhasingFirst;
  const int flip = Polarity_ ? (1 << d.Unit) - 1 : 0;
  for (int i = 0; i < d.Unit; ++i) {
    const int bit = ((idle ^ flip) >> i) & 1;
    if ((Llr(end - i) > 0) != (bit == 1) || (Llr(end - d.Repeat - i) > 0) != (bit == 1)) return false;
  }
  return true;
}

double TRobustDecoder::WindowScore(int service, int64_t end, int polarity) const
{
  double s[2];
  ScoreBoth(service, end, s);
  return s[polarity];
}

TRobustDecoder::TSymbol TRobustDecoder::DecideChar(int service, int polarity, int64_t end) const
{
  const TServiceDef& d = Def(service);
  const int u = d.Unit, r = d.Repeat;
  const int full = (1 << u) - 1;
  const int flip = polarity ? full : 0;
  double m0[10], m1[10];
  int hardA = 0, hardB = 0;
  for (int i = 0; i < u; ++i) {
    const double a = Prob(end - r - i), b = Prob(end - i);
    m1[i] = a * b;
    m0[i] = (1.0 - a) * (1.0 - b);
    if (Llr(end - r - i) > 0) hardA |= 1 << i;
    if (Llr(end - i) > 0) hardB |= 1 << i;
  }
  TWindow w;
  BuildProducts(w.Lo, m0, m1, 0, 4);
  BuildProducts(w.Hi, m0, m1, 4, u - 4);

  TSymbol s;
  double total = 0.0, best = -1.0;
  for (const TWord& word : d.Words) {
    const double p = word.Prior * w.Weight(word.Bits ^ flip);
    total += p;
    if (p > best) {
      best = p;
      s.Code = word.Value;
    }
    if (service == 0 && word.Value == CodeLetters) s.PLetters = p;
    if (service == 0 && word.Value == CodeFigures) s.PFigures = p;
  }
  double ph = d.PhasingPrior;
  for (int i = 0; i < u; ++i) {
    const double a = Prob(end - r - i), b = Prob(end - i);
    const bool first = ((d.PhasingFirst ^ flip) >> i) & 1, second = ((d.PhasingSecond ^ flip) >> i) & 1;
    ph *= (first ? a : 1.0 - a) * (second ? b : 1.0 - b);
  }
  total += ph;
  if (ph > best) {
    best = ph;
    s.Code = service == 0 ? CodeSync2 : JisPhasingB;
  }
  if (total > 0.0) {
    s.Posterior = best / total;
    s.PLetters /= total;
    s.PFigures /= total;
  } else {
    s.Code = -1;
  }
  s.CopyA = d.ValueOf[static_cast<std::size_t>(hardA ^ flip)];
  s.CopyB = d.ValueOf[static_cast<std::size_t>(hardB ^ flip)];
  return s;
}

void TRobustDecoder::Process(std::span<const double> soft, TTextStore& text)
{
  for (double v : soft) {
    const int64_t k = Bit_++;
    double l = std::isfinite(v) ? v * P_.LlrScale : 0.0;
    l = std::clamp(l, -P_.LlrClip, P_.LlrClip);
    const std::size_t slot = static_cast<std::size_t>(k) & (HistLen - 1);
    L_[slot] = l;
    P1_[slot] = 1.0 / (1.0 + std::exp(-l));

    for (int service = 0; service < ServiceCount; ++service) {
      const TServiceDef& d = Def(service);
      if (k < d.Repeat + d.Unit - 1) continue;
      double sc[2];
      ScoreBoth(service, k, sc);
      const int period = 2 * d.Unit;
      const int phase = static_cast<int>(k % period);
      const double keep = std::pow(P_.Forget, period), keepShort = std::pow(P_.ShortForget, period);
      if (InSync_ && service == Service_ && phase == Phase_ && HoldsIdle(k)) LastIdle_ = k;
      for (int pol = 0; pol < 2; ++pol) {
        const double c = std::max(sc[pol], -P_.ScoreClamp);
        double& a = Acc_[service][pol][phase];
        a = std::max(P_.EvidenceFloor, a * keep + c);
        double& sh = Short_[service][pol][phase];
        sh = std::max(-2.0 * P_.ScoreClamp, sh * keepShort + c);
      }
    }
    UpdateSync(text);
    if (InSync_) DecideDue(k, text);
  }
}

void TRobustDecoder::UpdateSync(TTextStore& text)
{
  THypothesis best;
  double a1 = -std::numeric_limits<double>::infinity(), a2 = a1;
  for (int service = 0; service < ServiceCount; ++service)
    for (int pol = 0; pol < 2; ++pol)
      for (int ph = 0; ph < 2 * Def(service).Unit; ++ph) {
        const double a = Acc_[service][pol][ph];
        if (a > a1) {
          a2 = a1;
          a1 = a;
          best = {service, pol, ph};
        } else if (a > a2) {
          a2 = a;
        }
      }
  if (!InSync_) {
    if (a1 >= P_.AcquireLevel && a1 - a2 >= P_.AcquireMargin && Recent(best) > 0.0)
      Acquire(best, true, text);
    return;
  }
  // A neighbouring alignment that has clearly done better on the last characters: a bit slip.
  // Not while the idle signal is sent: its repetitions of one code fit every alignment.
  const THypothesis cur{Service_, Polarity_, Phase_};
  const int period = 2 * Def(Service_).Unit;
  for (int step : {-2, -1, 1, 2}) {
    if (Bit_ - LastIdle_ <= 3 * period) break;
    THypothesis h = cur;
    h.Phase = (cur.Phase + step + period) % period;
    const double r = Recent(h);
    if (r >= P_.SlipLevel && r >= Recent(cur) + P_.SlipMargin) {
      Switch(h, true, text);
      return;
    }
  }
  if (Evidence(cur) < P_.LossLevel || Recent(cur) < P_.LossRecent ||
      static_cast<int>(Held_.size()) >= P_.LossHeld) {
    Lose(text);
    return;
  }
  // Another service, polarity or alignment that has taken over.
  if (!(best == cur) && a1 >= Evidence(cur) + P_.SwitchMargin && Recent(best) > 0.0) {
    int dist = (best.Phase - cur.Phase + period) % period;
    dist = std::min(dist, period - dist);
    Switch(best, best.Service == cur.Service && best.Polarity == cur.Polarity && dist <= 2, text);
  }
}

void TRobustDecoder::Acquire(const THypothesis& h, bool preRoll, TTextStore& text)
{
  InSync_ = true;
  Service_ = h.Service;
  Polarity_ = h.Polarity;
  Phase_ = h.Phase;
  ++SyncChanges_;
  ResetText();
  // Decode the characters that built the evidence, back to where it began.
  const TServiceDef& d = Def(Service_);
  const int period = 2 * d.Unit;
  const int64_t newest = Bit_ - 1 - static_cast<int64_t>(P_.DelayChars) * period;
  int64_t e = newest - ((newest - Phase_) % period + period) % period;
  std::vector<int64_t> ends;
  for (int64_t x = e; preRoll && x >= d.Repeat + d.Unit - 1 && static_cast<int>(ends.size()) < P_.MaxPreRoll &&
                      Bit_ - (x - d.Repeat - d.Unit) < HistLen;
       x -= period) {
    if (WindowScore(Service_, x, Polarity_) < 0.0) break;
    ends.push_back(x);
  }
  // The oldest characters decoded are where the signal began: start at the first sure one.
  bool started = false;
  for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
    const TSymbol s = DecideChar(Service_, Polarity_, *it);
    started = started || (s.Code >= 0 && s.Posterior >= P_.SureAbove);
    if (started) Take(s, text, 0.0);
  }
  LastEnd_ = e;
}

void TRobustDecoder::Switch(const THypothesis& h, bool slip, TTextStore& text)
{
  if (!slip) {
    ReleaseHeld(text);
    FlushLine(text, Line_);
    Acquire(h, false, text);
    return;
  }
  ++SyncChanges_;
  const THypothesis cur{Service_, Polarity_, Phase_};
  // The evidence gathered so far belongs to the new alignment now.
  Evidence(h) = std::max(Evidence(h), Evidence(cur));
  Evidence(cur) = P_.EvidenceFloor;
  Phase_ = h.Phase;
}

void TRobustDecoder::Lose(TTextStore& text)
{
  InSync_ = false;
  ++SyncChanges_;
  Held_.clear();  // the uncertain characters at the end were most likely noise
  FlushLine(text, Line_);
  KanjiCount_ = 0;
}

void TRobustDecoder::DecideDue(int64_t newest, TTextStore& text)
{
  const TServiceDef& d = Def(Service_);
  const int period = 2 * d.Unit;
  const int64_t e = newest - static_cast<int64_t>(P_.DelayChars) * period;
  if (e < d.Repeat + d.Unit - 1 || ((e - Phase_) % period + period) % period != 0) return;
  if (e - LastEnd_ < period - 3) return;  // the last character again, seen after a slip
  // Characters passed over since the last one (a slip of more than a character).
  int64_t first = e;
  while (first - period - LastEnd_ >= period - 3 && Bit_ - (first - period - d.Repeat - d.Unit) < HistLen)
    first -= period;
  for (int64_t x = first; x <= e; x += period) Take(DecideChar(Service_, Polarity_, x), text, EvidenceAfter(x));
  LastEnd_ = e;
}

void TRobustDecoder::Finish(TTextStore& text)
{
  if (!InSync_) return;
  const TServiceDef& d = Def(Service_);
  const int period = 2 * d.Unit;
  for (int64_t x = LastEnd_ + period; x <= Bit_ - 1; x += period)
    if (x >= d.Repeat + d.Unit - 1) {
      Take(DecideChar(Service_, Polarity_, x), text, EvidenceAfter(x));
      LastEnd_ = x;
    }
  Held_.clear();  // nothing sure came after them
}

double TRobustDecoder::EvidenceAfter(int64_t end) const
{
  const int period = 2 * Def(Service_).Unit;
  double sum = 0.0;
  for (int64_t x = end; x <= Bit_ - 1; x += period) sum += WindowScore(Service_, x, Polarity_);
  return sum;
}

void TRobustDecoder::Take(const TSymbol& s, TTextStore& text, double after)
{
  // A character is sure when it is likely and the signal went on after it.
  if (s.Code >= 0 && s.Posterior >= P_.SureAbove && after >= 0.0) {
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
  Shift_ = 0;
  ShiftUnsure_ = true;  // joining a message: the shift state is not known yet
  KanjiCount_ = 0;
}

void TRobustDecoder::Emit(const TSymbol& s, TTextStore& text)
{
  const bool phasing = s.Code == (Service_ == 0 ? CodeSync2 : JisPhasingB) && s.CopyA != s.CopyB;
  if (s.Code >= 0 && !phasing && (s.CopyA != s.Code || s.CopyB != s.Code)) ++Corrections_;
  if (Service_ == 0)
    EmitEnglish(s, text);
  else
    EmitJapanese(s, text);
}

void TRobustDecoder::EmitEnglish(const TSymbol& s, TTextStore& text)
{
  const bool erased = s.Code < 0 || s.Posterior < P_.EraseBelow;
  if (erased) {
    // A lost shift code: one copy may still show it, or it may be likely enough.
    const bool copyLetters = s.CopyA == CodeLetters || s.CopyB == CodeLetters;
    const bool copyFigures = s.CopyA == CodeFigures || s.CopyB == CodeFigures;
    if (copyLetters != copyFigures) {
      Shift_ = copyFigures ? 1 : 0;
      ShiftUnsure_ = false;
      return;
    }
    if (s.PLetters + s.PFigures >= 0.5) {
      Shift_ = s.PFigures > s.PLetters ? 1 : 0;
      ShiftUnsure_ = true;
      return;
    }
    if (s.PLetters + s.PFigures >= 0.1) ShiftUnsure_ = true;
    ++Characters_;
    ++Erasures_;
    Line_.push_back('*');
    ShowEditLine(text, Line_);
    return;
  }
  const auto code = static_cast<uint8_t>(s.Code);
  switch (code) {
    case CodeLetters:
      Shift_ = 0;
      ShiftUnsure_ = false;
      return;
    case CodeFigures:
      Shift_ = 1;
      ShiftUnsure_ = false;
      return;
    case CodeSync1:
    case CodeSync2:
    case CodeCarriageReturn:
      return;
    case CodeLineFeed:
      FlushLine(text, Line_);
      return;
    default:
      break;
  }
  std::string_view t = CodeTable()[Shift_][code];
  if (t.empty()) {
    // A code without a meaning in this row: the other row it must be.
    const std::string_view other = CodeTable()[1 - Shift_][code];
    if (other.empty()) return;
    Shift_ = 1 - Shift_;
    ShiftUnsure_ = false;
    t = other;
  }
  ++Characters_;
  Line_.append(t);
  ShowEditLine(text, Line_);
}

void TRobustDecoder::EmitJapanese(const TSymbol& s, TTextStore& text)
{
  const bool erased = s.Code < 0 || s.Posterior < P_.EraseBelow;
  const int d = erased ? -1 : s.Code;
  switch (d) {
    case JisLineFeed:
      FlushLine(text, Line_);
      KanjiCount_ = 0;
      return;
    case JisCarriageReturn:
    case JisPhasingA:
    case JisPhasingB:
      KanjiCount_ = 0;
      return;
    default:
      break;
  }
  Kanji_[KanjiCount_++] = d;
  if (KanjiCount_ < 2) return;
  KanjiCount_ = 0;
  ++Characters_;
  auto inRange = [](int b) { return b >= 0x21 && b <= 0x7E; };
  if (inRange(Kanji_[0]) && inRange(Kanji_[1])) {
    const auto sj = JisToShiftJis(static_cast<uint8_t>(Kanji_[0]), static_cast<uint8_t>(Kanji_[1]));
    Line_.push_back(static_cast<char>(sj[0]));
    Line_.push_back(static_cast<char>(sj[1]));
  } else {
    ++Erasures_;
    Line_.append("\x81\xAC");  // the geta mark stands for a character that could not be read
  }
  ShowEditLine(text, Line_);
}

}  // namespace brontel
