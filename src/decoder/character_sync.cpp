#include "decoder/character_sync.h"

#include <algorithm>

#include "decoder/code_table.h"
#include "decoder/text_output.h"

namespace brontel {

namespace {

constexpr int EngRepeat = 35;  // bits between the two copies of an English character
constexpr int JisRepeat = 50;  // bits between the two copies of a Japanese character
constexpr int EngEvalSlot = 13;
constexpr int JisEvalSlot = 19;

// Register contents of the phasing patterns, positions in increasing order.
constexpr uint8_t EngPhasingNew[7] = {0, 0, 0, 1, 1, 1, 1};  // 0x78 at positions 0 … 6
constexpr uint8_t EngPhasingOld[7] = {1, 1, 0, 0, 1, 1, 0};  // 0x33 at positions 35 … 41
constexpr uint8_t JisPhasingNew[10] = {0, 1, 1, 0, 0, 0, 0, 1, 0, 0};  // data 4
constexpr uint8_t JisPhasingOld[10] = {0, 0, 1, 0, 0, 1, 1, 0, 0, 1};  // data 25

bool CopiesAgree(const TChannelState& s, int length, int distance)
{
  return std::equal(s.BitReg.begin(), s.BitReg.begin() + length, s.BitReg.begin() + distance);
}

// Whether positions 0 … n−1 hold `fresh` and positions d … d+n−1 hold `old`,
// each bit inverted when `inverted`.
bool HoldsPattern(const TChannelState& s, const uint8_t* fresh, const uint8_t* old, int n, int d,
                  bool inverted)
{
  const uint8_t flip = inverted ? 1 : 0;
  for (int i = 0; i < n; ++i)
    if (s.BitReg[i] != (fresh[i] ^ flip) || s.BitReg[d + i] != (old[i] ^ flip)) return false;
  return true;
}

void InvertRegister(TChannelState& s)
{
  for (uint8_t& b : s.BitReg) b = 1 - b;
}

bool HasText(const TChannelState& s, int code) { return !CodeTable()[s.Shift][code].empty(); }

void EnglishStep(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  if (s.InSync) {
    if (s.SlotCount != EngEvalSlot) {
      s.SlotCount = s.SlotCount + 1;
      return;
    }
    if (CopiesAgree(s, 7, EngRepeat)) {
      if (EngWeight(s, 0) != 4) {
        FlushLine(rx, ch);
        s.InSync = false;
        return;
      }
      const int code = EngCode(s, 0);
      if (!HasText(s, code)) {
        FlushLine(rx, ch);
        s.InSync = false;
        return;
      }
      s.SlotCount = 0;
      HandleEngCode(rx, ch, static_cast<uint8_t>(code));
      return;
    }
    if (FindPhasing(s) == TPhasing::English) {
      s.SlotCount = 0;
      return;
    }
    s.InSync = false;
    FlushLine(rx, ch);
    return;
  }

  if (CopiesAgree(s, 7, EngRepeat)) {
    for (int p = 0; p < EngRepeat; p += 7)
      if (EngWeight(s, p) != 4) return;
    s.SlotCount = 0;
    s.InSync = true;
    const int code = EngCode(s, 0);
    if (!HasText(s, code)) {
      s.InSync = false;
      FlushLine(rx, ch);
    } else {
      s.SlotCount = 0;
      HandleEngCode(rx, ch, static_cast<uint8_t>(code));
    }
    return;
  }

  switch (FindPhasing(s)) {
    case TPhasing::JapaneseInverted:
    case TPhasing::Japanese:
      s.EngMode = false;
      ClearLine(rx, ch);
      break;
    case TPhasing::EnglishInverted:
      ClearLine(rx, ch);
      s.Inverted = !s.Inverted;
      InvertRegister(s);
      s.InSync = true;
      s.SlotCount = 0;
      break;
    case TPhasing::English:
      ClearLine(rx, ch);
      s.InSync = true;
      s.SlotCount = 0;
      break;
    case TPhasing::None:
      break;
  }
}

void JapaneseStep(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  if (s.InSync) {
    if (s.SlotCount != JisEvalSlot) {
      s.SlotCount = s.SlotCount + 1;
      return;
    }
    if (CopiesAgree(s, 10, JisRepeat)) {
      if (!JisValid(s, 0)) {
        s.InSync = false;
        s.KanjiCount = 0;
        FlushLine(rx, ch);
        return;
      }
      s.SlotCount = 0;
      HandleJisByte(rx, ch, static_cast<uint8_t>(JisData(s, 0)));
      return;
    }
    if (FindPhasing(s) == TPhasing::Japanese) {
      s.SlotCount = 0;
      s.KanjiCount = 0;
      return;
    }
    s.InSync = false;
    s.KanjiCount = 0;
    FlushLine(rx, ch);
    return;
  }

  if (CopiesAgree(s, 10, JisRepeat)) {
    if (JisValid(s, 0)) {
      s.SlotCount = 0;
      s.InSync = true;
      s.KanjiCount = 0;
      HandleJisByte(rx, ch, static_cast<uint8_t>(JisData(s, 0)));
    }
    return;
  }

  switch (FindPhasing(s)) {
    case TPhasing::EnglishInverted:
    case TPhasing::English:
      s.EngMode = true;
      ClearLine(rx, ch);
      break;
    case TPhasing::JapaneseInverted:
      ClearLine(rx, ch);
      s.Inverted = !s.Inverted;
      InvertRegister(s);
      s.InSync = true;
      s.SlotCount = 0;
      break;
    case TPhasing::Japanese:
      ClearLine(rx, ch);
      s.InSync = true;
      s.SlotCount = 0;
      break;
    case TPhasing::None:
      break;
  }
}

}  // namespace

int EngCode(const TChannelState& s, int p)
{
  int code = 0;
  for (int i = 0; i < 7; ++i) code += s.BitReg[p + i] << i;
  return code;
}

int EngWeight(const TChannelState& s, int p)
{
  int ones = 0;
  for (int i = 0; i < 7; ++i) ones += s.BitReg[p + i];
  return ones;
}

int JisData(const TChannelState& s, int p)
{
  int data = 0;
  for (int i = 0; i < 7; ++i) data += s.BitReg[p + 3 + i] << (6 - i);
  return data;
}

bool JisValid(const TChannelState& s, int p)
{
  int ones = 0;
  for (int i = 0; i < 7; ++i) ones += s.BitReg[p + 3 + i];
  const int check = s.BitReg[p] + 2 * s.BitReg[p + 1] + 4 * s.BitReg[p + 2];
  return ones + check == 7;
}

TPhasing FindPhasing(const TChannelState& s)
{
  if (HoldsPattern(s, JisPhasingNew, JisPhasingOld, 10, JisRepeat, true)) return TPhasing::JapaneseInverted;
  if (HoldsPattern(s, JisPhasingNew, JisPhasingOld, 10, JisRepeat, false)) return TPhasing::Japanese;
  if (HoldsPattern(s, EngPhasingNew, EngPhasingOld, 7, EngRepeat, true)) return TPhasing::EnglishInverted;
  if (HoldsPattern(s, EngPhasingNew, EngPhasingOld, 7, EngRepeat, false)) return TPhasing::English;
  return TPhasing::None;
}

void DecodeBits(TReceiver& rx, int ch)
{
  TChannelState& s = rx.Channels[ch];
  for (int i = 0; i < s.BitCount; ++i) {
    const uint8_t b = s.BitBuf[i];
    std::copy_backward(s.BitReg.begin(), s.BitReg.end() - 1, s.BitReg.end());
    const bool asTaken = (s.EngMode && !s.Inverted) || (!s.EngMode && s.Inverted);
    s.BitReg[0] = asTaken ? b : static_cast<uint8_t>(1 - b);
    if (s.EngMode)
      EnglishStep(rx, ch);
    else
      JapaneseStep(rx, ch);
  }
}

}  // namespace brontel
