// The character decoder fed with bit streams, as the bit timing hands them over.
#include <gtest/gtest.h>

#include <random>

#include "decoder/character_sync.h"
#include "decoder/code_table.h"
#include "decoder/cp932.h"
#include "signal/navtex_signal.h"
#include "support/harness.h"

namespace brontel {
namespace {

using gen::TEmission;
using gen::TService;
using test::THarness;

std::vector<uint8_t> Codes(std::string_view text, TService service = TService::English)
{
  std::vector<uint8_t> codes;
  std::string err;
  const bool ok = service == TService::English ? gen::EnglishCodes(text, codes, err)
                                               : gen::JapaneseCodes(text, codes, err);
  EXPECT_TRUE(ok) << err;
  return codes;
}

std::vector<uint8_t> Emission(std::string_view text, TService service = TService::English,
                              bool inverted = false, double phasing = 2.0)
{
  TEmission e;
  e.Service = service;
  e.PhasingSeconds = phasing;
  return gen::EmissionBits(Codes(text, service), e, inverted);
}

// A slot stream built by hand: dx[k] in first-transmission slot 2k, and the
// repetition slot 2k + 1 carrying rx[k] (normally dx[k − 2]).
std::vector<uint8_t> EnglishSlots(const std::vector<uint8_t>& dx, const std::vector<uint8_t>& rx)
{
  std::vector<uint8_t> bits;
  for (std::size_t k = 0; k < dx.size(); ++k) {
    for (uint8_t b : gen::EnglishCharBits(dx[k])) bits.push_back(b);
    for (uint8_t b : gen::EnglishCharBits(rx[k])) bits.push_back(b);
  }
  return bits;
}

// Phasing, then `codes` with their repetitions, then idle.
struct TSlots {
  std::vector<uint8_t> Dx, Rx;
  explicit TSlots(const std::vector<uint8_t>& codes, int phasing = 20)
  {
    Dx.assign(phasing, 0x33);
    Dx.insert(Dx.end(), codes.begin(), codes.end());
    Dx.insert(Dx.end(), 6, 0x33);
    for (std::size_t k = 0; k < Dx.size(); ++k)
      Rx.push_back(k < static_cast<std::size_t>(phasing) + 2 ? 0x78 : Dx[k - 2]);
  }
  std::vector<uint8_t> Bits() const { return EnglishSlots(Dx, Rx); }
};

TEST(CharacterSync, FreshDecoderListensForJapanese)
{
  THarness h;
  EXPECT_FALSE(h.Ch().EngMode);
  EXPECT_FALSE(h.Ch().Inverted);
  EXPECT_FALSE(h.Ch().InSync());
  h.FeedBits({});
  EXPECT_FALSE(h.Ch().InSync());
}

TEST(CharacterSync, CharacterFormsReadFromTheRegister)
{
  THarness h;
  h.Ch().EngMode = true;
  h.Ch().Inverted = true;  // so that the Japanese-sense bits go in as sent
  TChannelState& s = h.Ch();
  const uint8_t eng[] = {1, 1, 1, 0, 0, 0, 1};
  for (int i = 0; i < 7; ++i) s.BitReg[6 - i] = eng[i];
  EXPECT_EQ(EngCode(s, 0), 0x71);
  EXPECT_EQ(EngWeight(s, 0), 4);
  const uint8_t jis[] = {0, 0, 0, 0, 1, 1, 0, 1, 0, 1};
  for (int i = 0; i < 10; ++i) s.BitReg[9 - i] = jis[i];
  EXPECT_EQ(JisData(s, 0), 0x30);
  EXPECT_TRUE(JisValid(s, 0));
  s.BitReg[0] = 0;  // check field 4
  EXPECT_FALSE(JisValid(s, 0));
}

TEST(CharacterSync, TheWordOfEveryValueIsWhatTheDecoderAccepts)
{
  // For every register content of a character: the exact decoder reads a
  // valid character exactly when it is the word of the value it reads.
  for (const TServiceCode* code : {&EnglishCode(), &JapaneseCode()}) {
    const bool english = code->Kind == TServiceKind::English;
    int words = 0;
    for (int bits = 0; bits < (1 << code->Units); ++bits) {
      TCharDecoder d;
      for (int r = 0; r < code->Units; ++r) d.BitReg[r] = (bits >> r) & 1;
      const int value = english ? EngCode(d, 0) : JisData(d, 0);
      const bool valid = english ? EngWeight(d, 0) == 4 : JisValid(d, 0);
      EXPECT_EQ(valid, code->WordOf(value) == bits) << english << " " << bits;
      words += valid;
    }
    EXPECT_EQ(words, english ? 35 : 128);
    EXPECT_EQ(code->WordOf(code->Values), NoWord);
  }
}

TEST(CharacterSync, EnglishAndJapaneseInBothPolarities)
{
  struct TCase {
    TService Service;
    bool Inverted;
    std::string Text, Expected;
  } cases[] = {
      {TService::English, false, "ZCZC EA01\nGALE WARNING.\nNNNN\n", "ZCZC EA01\nGALE WARNING.\nNNNN\n"},
      {TService::English, true, "ZCZC EA02\nNNNN", "ZCZC EA02\nNNNN"},
      {TService::Japanese, false, "航行警報\n第１２３号\n", "航行警報\n第１２３号\n"},
      {TService::Japanese, true, "気象警報\n", "気象警報\n"},
  };
  for (const TCase& c : cases) {
    THarness h;
    h.FeedBits(Emission(c.Text, c.Service, c.Inverted));
    // The text is code page 932; the expectation is written in UTF-8.
    std::string expected;
    ASSERT_TRUE(Utf8ToCp932(c.Expected, expected));
    EXPECT_EQ(h.Text(), expected) << c.Text;
    EXPECT_EQ(h.Ch().EngMode, c.Service == TService::English) << c.Text;
    EXPECT_EQ(h.Ch().Inverted, c.Inverted) << c.Text;
  }
}

TEST(CharacterSync, ModeFollowsThePhasingOfEachService)
{
  THarness h;
  std::vector<uint8_t> bits = Emission("FIRST\n", TService::English);
  const auto jpn = Emission("二番\n", TService::Japanese);
  const auto eng = Emission("THIRD\n", TService::English);
  bits.insert(bits.end(), jpn.begin(), jpn.end());
  bits.insert(bits.end(), eng.begin(), eng.end());
  h.FeedBits(bits);
  std::string second;
  ASSERT_TRUE(Utf8ToCp932("二番", second));
  ASSERT_EQ(h.Sink.Lines.size(), 3u);
  EXPECT_EQ(h.Sink.Lines[0], "FIRST");
  EXPECT_EQ(h.Sink.Lines[1], second);
  EXPECT_EQ(h.Sink.Lines[2], "THIRD");
  EXPECT_TRUE(h.Ch().EngMode);
}

TEST(CharacterSync, JoiningAMessageUnderWay)
{
  // English: the decoder starts in the middle of the text, without phasing.
  const auto codes = Codes("ABCDEFGHIJKLMNOPQRSTUVWXYZ\n");
  TSlots slots(codes, 4);
  std::vector<uint8_t> bits = slots.Bits();
  THarness eng;
  eng.Ch().EngMode = true;
  const std::size_t skip = 14 * 12 + 3;  // into the middle of the alphabet, off the slot grid
  eng.FeedBits(std::vector<uint8_t>(bits.begin() + skip, bits.end()));
  ASSERT_EQ(eng.Sink.Lines.size(), 1u);
  const std::string& line = eng.Sink.Lines[0];
  EXPECT_GT(line.size(), 5u);
  EXPECT_EQ(std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ").substr(26 - line.size()), line);

  // Japanese: one agreeing valid character is enough.
  TEmission e;
  e.Service = TService::Japanese;
  e.PhasingSeconds = 1.0;
  const auto jbits = gen::EmissionBits(Codes("一二三四五六七八九十\n", TService::Japanese), e);
  THarness jpn;
  jpn.FeedBits(std::vector<uint8_t>(jbits.begin() + 20 * 14, jbits.end()));
  ASSERT_EQ(jpn.Sink.Lines.size(), 1u);
  EXPECT_GE(jpn.Sink.Lines[0].size(), 10u);
}

TEST(CharacterSync, EnglishJoinNeedsFiveValidCharacters)
{
  // Newest character equal to the one 35 bits earlier, with the characters in
  // between of weight 4 or not.
  auto window = [](bool allValid) {
    std::vector<uint8_t> codes = {0x71, 0x27, 0x5C, allValid ? uint8_t(0x65) : uint8_t(0x7F), 0x35, 0x71};
    std::vector<uint8_t> bits;
    for (uint8_t c : codes)
      for (uint8_t b : gen::EnglishCharBits(c)) bits.push_back(b);
    return bits;
  };
  THarness four;
  four.Ch().EngMode = true;
  four.FeedBits(window(false));
  EXPECT_FALSE(four.Ch().InSync());
  EXPECT_TRUE(four.Ch().LineText.empty());

  THarness five;
  five.Ch().EngMode = true;
  five.FeedBits(window(true));
  EXPECT_TRUE(five.Ch().InSync());
  EXPECT_EQ(five.Ch().LineText, "A");
}

TEST(CharacterSync, FaultsEndSynchronisationKeepingThePartialLine)
{
  // A figures-shift letter without a figure.
  for (uint8_t letter : {0x65, 0x6C, 0x56, 0x4B, 0x69}) {
    std::vector<uint8_t> codes = Codes("AB");
    codes.push_back(0x36);
    codes.push_back(letter);
    codes.push_back(0x5A);
    THarness h;
    h.Ch().EngMode = true;
    for (uint8_t bit : TSlots(codes).Bits()) {
      h.FeedBits({bit});
      if (!h.Sink.Lines.empty()) break;
    }
    ASSERT_EQ(h.Sink.Lines.size(), 1u) << int(letter);
    EXPECT_EQ(h.Sink.Lines[0], "AB") << int(letter);
    EXPECT_FALSE(h.Ch().InSync());
    EXPECT_EQ(h.Ch().Shift, 1) << "the shift survives the loss of synchronisation";
  }

  // One bit of one copy corrupted.
  std::vector<uint8_t> codes = Codes("HELLO WORLD");
  TSlots slots(codes);
  std::vector<uint8_t> bits = slots.Bits();
  // Character 5 ('O', after the letters shift) is in first-transmission slot
  // 2·25 and repeated in slot 2·27 + 1.
  const std::size_t corruptSlot = 2 * 27 + 1;
  bits[corruptSlot * 7 + 3] ^= 1;
  THarness h;
  h.Ch().EngMode = true;
  h.FeedBits(bits);
  ASSERT_GE(h.Sink.Lines.size(), 1u);
  EXPECT_EQ(h.Sink.Lines[0], "HELL") << "neither copy of the O is taken";
}

TEST(CharacterSync, PhasingInsideAMessageKeepsSynchronisation)
{
  // Replace the middle of the message by a burst of phasing.
  TSlots withPhasing(Codes("ONE TWO"));
  std::vector<uint8_t> dx = withPhasing.Dx, rx = withPhasing.Rx;
  const std::size_t start = 20 + 4;  // after "ON" (letters shift first)
  dx.insert(dx.begin() + start, 8, 0x33);
  rx.assign(dx.size(), 0);
  for (std::size_t k = 0; k < dx.size(); ++k) {
    const bool rxPhasing = k < 22 || (k >= start + 2 && k < start + 10);
    rx[k] = rxPhasing ? 0x78 : dx[k - 2];
  }
  THarness h;
  h.Ch().EngMode = true;
  h.FeedBits(EnglishSlots(dx, rx));
  EXPECT_TRUE(h.Sink.Lines.empty());
  EXPECT_EQ(h.Text(), "ONE TWO");
}

TEST(CharacterSync, MemoAndEditStayWithinTheirLimits)
{
  std::string text;
  for (int i = 0; i < 2300; ++i) {
    text += "LINE ";
    text += std::to_string(i);
    text += " OF A LONG BULLETIN\n";
  }
  text += std::string(100, 'X') + "\n";
  THarness h;
  h.Ch().EngMode = true;
  h.FeedBits(TSlots(Codes(text), 4).Bits());
  EXPECT_EQ(h.Sink.Lines.size(), 2301u);
  EXPECT_LE(h.Rx->Text.MemoText.size(), 63998u);
  EXPECT_GE(h.Rx->Text.MemoText.size(), 63997u);
  EXPECT_EQ(h.Sink.Memo, h.Rx->Text.MemoText);
  std::string tail(100, 'X');
  tail += "\r\n";
  EXPECT_EQ(h.Rx->Text.MemoText.substr(h.Rx->Text.MemoText.size() - tail.size()), tail);
}

TEST(CharacterSync, EditShowsTheLast48BytesOfALongLine)
{
  THarness h;
  h.Ch().EngMode = true;
  std::vector<uint8_t> codes = Codes(std::string(60, 'E'));
  const std::vector<uint8_t> bits = TSlots(codes).Bits();
  h.FeedBits(bits);
  EXPECT_EQ(h.Sink.Edit, std::string(48, 'E'));
}

TEST(CharacterSync, RandomBitsNeverBreakTheInvariants)
{
  std::mt19937 rng(12345);
  THarness h;
  std::vector<uint8_t> bits(1000);
  for (int round = 0; round < 400; ++round) {
    // Random bits, sometimes mixed with valid characters so that every state is reached.
    for (std::size_t i = 0; i < bits.size();) {
      if (rng() % 4 == 0) {
        const auto c = rng() % 2 ? gen::EnglishCharBits(0x71) : gen::JapaneseCharBits(rng() % 128);
        for (uint8_t b : c)
          if (i < bits.size()) bits[i++] = b;
      } else {
        bits[i++] = rng() & 1;
      }
    }
    if (round % 50 == 0) {
      const auto phasing = Emission("X", round % 100 ? TService::English : TService::Japanese, rng() & 1, 0.5);
      h.FeedBits(phasing);
    }
    h.FeedBits(bits);
    const TChannelState& s = h.Ch();
    ASSERT_LE(h.Rx->Text.MemoText.size(), MemoLimit);
    ASSERT_LE(h.Rx->Text.EditText.size(), EditLimit);
    ASSERT_GE(s.SlotCount, 0);
    ASSERT_LE(s.SlotCount, 19);
    if (s.InSync()) {
      ASSERT_LE(s.SlotCount, s.EngMode ? 13 : 19);
    }
    ASSERT_LE(s.KanjiCount, 1);
    ASSERT_LE(s.Shift, 1);
    for (uint8_t b : s.BitReg) ASSERT_LE(b, 1);
  }
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

TEST(CharacterSync, AGapInTheInputEndsTheLineAndTheSynchronisation)
{
  const auto bits = Emission("BEFORE THE GAP AFTER\n");
  test::THarness h;
  h.Ch().EngMode = true;
  // Stop where the line holds text but is unfinished.
  std::size_t n = 0;
  while (n < bits.size() && h.Ch().LineText.size() < 10) h.FeedBits({bits[n++]});
  ASSERT_TRUE(h.Ch().InSync());
  const std::string partial = h.Ch().LineText;
  NoteInputGap(*h.Rx, 40);
  EXPECT_EQ(h.Sink.Lines, std::vector<std::string>{partial});
  EXPECT_FALSE(h.Ch().InSync());
  EXPECT_TRUE(h.Ch().LineText.empty());
}

}  // namespace
}  // namespace brontel
