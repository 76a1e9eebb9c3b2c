#include "decoder/character_sync.h"

#include <algorithm>
#include <bit>

namespace brontel {

namespace {

// Register contents of the phasing patterns, positions in increasing order.
constexpr uint8_t EngPhasingNew[7] = {0, 0, 0, 1, 1, 1, 1};  // 0x78 at positions 0 … 6
constexpr uint8_t EngPhasingOld[7] = {1, 1, 0, 0, 1, 1, 0};  // 0x33 at positions 35 … 41
constexpr uint8_t JisPhasingNew[10] = {0, 1, 1, 0, 0, 0, 0, 1, 0, 0};  // data 4
constexpr uint8_t JisPhasingOld[10] = {0, 0, 1, 0, 0, 1, 1, 0, 0, 1};  // data 25

bool CopiesAgree(const TCharDecoder& d, int length, int distance)
{
  return std::equal(d.BitReg.begin(), d.BitReg.begin() + length, d.BitReg.begin() + distance);
}

// Whether positions 0 … n−1 hold `fresh` and positions dist … dist+n−1 hold
// `old`, each bit inverted when `inverted`.
bool HoldsPattern(const TCharDecoder& d, const uint8_t* fresh, const uint8_t* old, int n, int dist,
                  bool inverted)
{
  const uint8_t flip = inverted ? 1 : 0;
  for (int i = 0; i < n; ++i)
    if (d.BitReg[i] != (fresh[i] ^ flip) || d.BitReg[dist + i] != (old[i] ^ flip)) return false;
  return true;
}

void InvertRegister(TCharDecoder& d)
{
  for (uint8_t& b : d.BitReg) b = 1 - b;
}

// English: the five newest characters (one repetition distance) all have
// four ones, the newest agreeing with its copy.
bool EnglishJoinable(const TCharDecoder& d)
{
  for (int p = 0; p < EnglishCode().Repeat; p += EnglishCode().Units)
    if (EngWeight(d, p) != 4) return false;
  return true;
}
int EnglishRead(const TCharDecoder& d) { return EngCode(d, 0); }
bool EnglishValid(const TCharDecoder& d, int code)
{
  return EngWeight(d, 0) == 4 && !CodeTable()[d.Shift][code].empty();
}

// Japanese: one agreeing valid character is enough.
bool JapaneseJoinable(const TCharDecoder& d) { return JisValid(d, 0); }
int JapaneseRead(const TCharDecoder& d) { return JisData(d, 0); }
bool JapaneseValid(const TCharDecoder& d, int) { return JisValid(d, 0); }

// A character's repetition starts five character slots after its first
// transmission, and a character of the same kind is due every second slot.
constexpr int RepeatChars = 5;
constexpr int SlotsPerChar = 2;

constexpr TServiceCode English{
    .Kind = TServiceKind::English, .Units = 7, .Repeat = RepeatChars * 7, .EvalSlot = SlotsPerChar * 7 - 1,
    .SentInverted = false, .Upright = TPhasing::English, .Upside = TPhasing::EnglishInverted,
    .Joinable = EnglishJoinable, .Read = EnglishRead, .Valid = EnglishValid, .Handle = HandleEngCode,
    .Values = 128, .WordOf = EnglishWord, .PhasingFirst = CodeSync2, .PhasingRepeat = CodeSync1};

constexpr TServiceCode Japanese{
    .Kind = TServiceKind::Japanese, .Units = 10, .Repeat = RepeatChars * 10, .EvalSlot = SlotsPerChar * 10 - 1,
    .SentInverted = true, .Upright = TPhasing::Japanese, .Upside = TPhasing::JapaneseInverted,
    .Joinable = JapaneseJoinable, .Read = JapaneseRead, .Valid = JapaneseValid, .Handle = HandleJisByte,
    .Values = 128, .WordOf = JapaneseWord, .PhasingFirst = JisPhasingB, .PhasingRepeat = JisPhasingA};

static_assert(English.Units <= MaxUnits && Japanese.Units <= MaxUnits);

// Leaving synchronisation writes the line; a Japanese pair is never held
// across it (outside Japanese synchronisation no pair is ever half held).
void LoseSync(TCharDecoder& d, TTextStore& text)
{
  d.Sync = TSync::Hunting;
  d.KanjiCount = 0;
  FlushLine(text, d.LineText);
}

void Accept(TCharDecoder& d, const TServiceCode& svc, TTextStore& text, int value)
{
  d.SlotCount = 0;
  svc.Handle(d, text, static_cast<uint8_t>(value));
}

// In synchronisation: one character is due every character period. Agreeing
// copies must form a valid character; disagreeing ones are only allowed while
// the service's phasing is received.
void LockedStep(TCharDecoder& d, const TServiceCode& svc, TTextStore& text)
{
  if (d.SlotCount != svc.EvalSlot) {
    d.SlotCount = d.SlotCount + 1;
    return;
  }
  if (CopiesAgree(d, svc.Units, svc.Repeat)) {
    const int value = svc.Read(d);
    if (!svc.Valid(d, value)) {
      LoseSync(d, text);
      return;
    }
    Accept(d, svc, text, value);
    return;
  }
  if (FindPhasing(d) == svc.Upright) {
    d.SlotCount = 0;
    d.KanjiCount = 0;
    return;
  }
  LoseSync(d, text);
}

// Out of synchronisation: join traffic already under way when the copies
// agree, or synchronise on the phasing (either polarity) of the current
// service; the other service's phasing switches the mode.
void HuntingStep(TCharDecoder& d, const TServiceCode& svc, TTextStore& text)
{
  if (CopiesAgree(d, svc.Units, svc.Repeat)) {
    if (!svc.Joinable(d)) return;
    const int value = svc.Read(d);
    if (!svc.Valid(d, value)) {
      FlushLine(text, d.LineText);
      return;
    }
    d.Sync = TSync::Locked;
    d.KanjiCount = 0;
    Accept(d, svc, text, value);
    return;
  }

  const TPhasing phasing = FindPhasing(d);
  if (phasing == TPhasing::None) return;
  ClearLine(text, d.LineText);
  if (phasing != svc.Upright && phasing != svc.Upside) {
    d.EngMode = svc.Kind != TServiceKind::English;
    return;
  }
  if (phasing == svc.Upside) {
    d.Inverted = !d.Inverted;
    InvertRegister(d);
  }
  d.Sync = TSync::Locked;
  d.SlotCount = 0;
}

}  // namespace

const TServiceCode& EnglishCode() { return English; }
const TServiceCode& JapaneseCode() { return Japanese; }
const TServiceCode& ServiceCode(TServiceKind kind) { return kind == TServiceKind::English ? English : Japanese; }

uint16_t EnglishWord(int code)
{
  if (code < 0 || code >= English.Values || std::popcount(static_cast<unsigned>(code)) != 4) return NoWord;
  return static_cast<uint16_t>(code);
}

uint16_t JapaneseWord(int data)
{
  if (data < 0 || data >= Japanese.Values) return NoWord;
  const int zeros = 7 - std::popcount(static_cast<unsigned>(data));
  uint16_t w = static_cast<uint16_t>(zeros);
  for (int j = 0; j < 7; ++j)
    if (data & (1 << j)) w |= static_cast<uint16_t>(1 << (9 - j));
  return w;
}

int EngCode(const TCharDecoder& d, int p)
{
  int code = 0;
  for (int i = 0; i < 7; ++i) code += d.BitReg[p + i] << i;
  return code;
}

int EngWeight(const TCharDecoder& d, int p)
{
  int ones = 0;
  for (int i = 0; i < 7; ++i) ones += d.BitReg[p + i];
  return ones;
}

int JisData(const TCharDecoder& d, int p)
{
  int data = 0;
  for (int i = 0; i < 7; ++i) data += d.BitReg[p + 3 + i] << (6 - i);
  return data;
}

bool JisValid(const TCharDecoder& d, int p)
{
  int ones = 0;
  for (int i = 0; i < 7; ++i) ones += d.BitReg[p + 3 + i];
  const int check = d.BitReg[p] + 2 * d.BitReg[p + 1] + 4 * d.BitReg[p + 2];
  return ones + check == 7;
}

TPhasing FindPhasing(const TCharDecoder& d)
{
  if (HoldsPattern(d, JisPhasingNew, JisPhasingOld, 10, Japanese.Repeat, true)) return TPhasing::JapaneseInverted;
  if (HoldsPattern(d, JisPhasingNew, JisPhasingOld, 10, Japanese.Repeat, false)) return TPhasing::Japanese;
  if (HoldsPattern(d, EngPhasingNew, EngPhasingOld, 7, English.Repeat, true)) return TPhasing::EnglishInverted;
  if (HoldsPattern(d, EngPhasingNew, EngPhasingOld, 7, English.Repeat, false)) return TPhasing::English;
  return TPhasing::None;
}

void DecodeBits(TCharDecoder& d, std::span<const uint8_t> bits, TTextStore& text)
{
  for (const uint8_t b : bits) {
    const TServiceCode& svc = d.EngMode ? English : Japanese;
    std::copy_backward(d.BitReg.begin(), d.BitReg.end() - 1, d.BitReg.end());
    const bool flip = svc.SentInverted != d.Inverted;
    d.BitReg[0] = flip ? static_cast<uint8_t>(1 - b) : b;
    if (d.InSync())
      LockedStep(d, svc, text);
    else
      HuntingStep(d, svc, text);
  }
}

}  // namespace brontel
