// The character decoder's transitions, one row each: a start state, the bits
// that arrive, and the state and text that must result.
#include <gtest/gtest.h>

#include <functional>

#include "decoder/character_sync.h"
#include "signal/navtex_signal.h"
#include "support/harness.h"

namespace brontel {
namespace {

using Bits = std::vector<uint8_t>;

void Append(Bits& to, const Bits& more) { to.insert(to.end(), more.begin(), more.end()); }

Bits Inverted(Bits b)
{
  for (uint8_t& x : b) x ^= 1;
  return b;
}

// English characters as the bit clock hands them over (upright: as sent).
Bits English(std::initializer_list<uint8_t> codes)
{
  Bits b;
  for (uint8_t c : codes) Append(b, gen::EnglishCharBits(c));
  return b;
}

// Japanese characters as received upright (a data 1 is the lower tone).
Bits Japanese(std::initializer_list<Bits> chars)
{
  Bits b;
  for (const Bits& c : chars) Append(b, Inverted(c));
  return b;
}

// Slot pairs of an English stream: dx[k] in the first-transmission slot, then
// the repetition slot carrying rx[k].
Bits EnglishSlots(const std::vector<uint8_t>& dx, const std::vector<uint8_t>& rx)
{
  Bits b;
  for (std::size_t k = 0; k < dx.size(); ++k) Append(b, English({dx[k], rx[k]}));
  return b;
}

// Slot pairs of a Japanese stream: dx[k] in the first-transmission slot, then
// the repetition slot carrying dx[k − 2], or the repetition-slot phasing
// signal where dx[k − 2] is phasing or lies before the stream.
Bits JapaneseSlots(const std::vector<uint8_t>& dx)
{
  Bits b;
  for (std::size_t k = 0; k < dx.size(); ++k) {
    const bool phasing = k < 2 || dx[k - 2] == JisPhasingB;
    Append(b, Japanese({gen::JapaneseCharBits(dx[k]), gen::JapaneseCharBits(phasing ? JisPhasingA : dx[k - 2])}));
  }
  return b;
}

Bits Emission(std::string_view text, bool inverted)
{
  std::vector<uint8_t> codes;
  std::string error;
  EXPECT_TRUE(gen::EnglishCodes(text, codes, error)) << error;
  gen::TEmission e;
  e.PhasingSeconds = 0.0;  // a single phasing pair: synchronisation must come at once
  return gen::EmissionBits(codes, e, inverted);
}

std::string Pair(uint8_t j1, uint8_t j2)
{
  const auto sj = JisToShiftJis(j1, j2);
  return {static_cast<char>(sj[0]), static_cast<char>(sj[1])};
}

struct TRow {
  const char* What;
  bool EngMode;                        // service at the start (hunting, upright)
  std::function<Bits()> Input;
  bool WantSync, WantInverted;
  std::vector<std::string> WantLines;  // finished lines, code page 932
  std::string WantLine;                // the line under construction
};

TEST(DecoderTransitions, EachRowEndsInItsStateWithItsText)
{
  const Bits badCheck = [] {
    Bits c = gen::JapaneseCharBits(0x30);
    c[9] ^= 1;  // the check field no longer counts the zero bits
    return c;
  }();
  const TRow rows[] = {
      {"English joins traffic when the five newest characters have weight 4", true,
       [] { return English({0x71, 0x27, 0x5C, 0x65, 0x35, 0x71}); }, true, false, {}, "A"},
      {"English does not join on a character without a meaning", true,
       [] { return English({0x66, 0x27, 0x5C, 0x65, 0x35, 0x66}); }, false, false, {}, ""},
      {"English does not join when the fifth newest character is invalid", true,
       [] { return English({0x71, 0x7F, 0x5C, 0x65, 0x35, 0x71}); }, false, false, {}, ""},
      {"Inverted English phasing inverts the register, so the first characters are kept", true,
       [] { return Emission("ABCDEFGH\n", true); }, true, true, {"ABCDEFGH"}, ""},
      {"In sync, the other polarity's phasing ends synchronisation and writes the line", true,
       [] {
         Bits b = Emission("AB", false);
         Append(b, Inverted(English({0x33, 0x78, 0x33, 0x78, 0x33, 0x78, 0x33, 0x78})));
         return b;
       },
       true, true, {"AB"}, ""},
      {"In sync, copies that disagree but look like inverted phasing end synchronisation", true,
       [] {
         // Phasing, a letters shift, A, B; then a first transmission 0x4C whose
         // repetition arrives as 0x07: together the inverted phasing pattern.
         return EnglishSlots({0x33, 0x33, 0x33, 0x33, 0x2D, 0x71, 0x27, 0x4C, 0x33, 0x33},
                             {0x78, 0x78, 0x78, 0x78, 0x78, 0x78, 0x2D, 0x71, 0x27, 0x07});
       },
       false, false, {"AB"}, ""},
      {"Japanese phasing in sync drops half a character pair", false,
       [] {
         return JapaneseSlots({JisPhasingB, JisPhasingB, JisPhasingB, 0x30, JisPhasingB, JisPhasingB, JisPhasingB,
                               0x30, 0x22, JisCarriageReturn, JisLineFeed, JisPhasingB, JisPhasingB});
       },
       true, false, {Pair(0x30, 0x22)}, ""},
      {"In sync, agreeing Japanese copies that fail the check field end synchronisation", false,
       [&] {
         // A pair, then a first transmission failing the check whose
         // repetition (two slot pairs later) fails it the same way.
         Bits b = JapaneseSlots({JisPhasingB, JisPhasingB, JisPhasingB, 0x30, 0x22});
         const auto c = [](uint8_t data) { return gen::JapaneseCharBits(data); };
         Append(b, Japanese({badCheck, c(0x30), c(JisCarriageReturn), c(0x22), c(JisLineFeed), badCheck}));
         return b;
       },
       false, false, {Pair(0x30, 0x22)}, ""},
      {"Japanese does not join on agreeing copies that fail the check field", false,
       [&] {
         return Japanese({badCheck, gen::JapaneseCharBits(1), gen::JapaneseCharBits(2), gen::JapaneseCharBits(3),
                          gen::JapaneseCharBits(5), badCheck});
       },
       false, false, {}, ""},
  };
  for (const TRow& row : rows) {
    test::THarness h;
    h.Ch().EngMode = row.EngMode;
    h.FeedBits(row.Input());
    EXPECT_EQ(h.Ch().InSync(), row.WantSync) << row.What;
    EXPECT_EQ(h.Ch().Inverted, row.WantInverted) << row.What;
    EXPECT_EQ(h.Sink.Lines, row.WantLines) << row.What;
    EXPECT_EQ(h.Ch().LineText, row.WantLine) << row.What;
  }
}

}  // namespace
}  // namespace brontel
