// The decision rules of the robust character decoder on exact soft values:
// clean copies with chosen bits weakened, turned or silenced.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <tuple>

#include "decoder/character_sync.h"
#include "decoder/code_table.h"
#include "decoder/cp932.h"
#include "decoder/robust_decoder.h"
#include "signal/navtex_signal.h"
#include "support/cer.h"
#include "support/soft_bits.h"

namespace brontel {
namespace {

using gen::TService;
constexpr double Strong = 8.0;  // soft value of a clean bit

std::vector<uint8_t> Codes(std::string_view text, TService service)
{
  std::vector<uint8_t> codes;
  std::string err;
  EXPECT_TRUE(service == TService::English ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err));
  return codes;
}

// Soft values of a slot stream: Dx[k] in first-transmission slot 2k, the
// repetition of Dx[k − 2] (or phasing) in slot 2k + 1.
struct TStream {
  bool English = true, Inverted = false;
  std::vector<uint8_t> Dx;
  std::vector<bool> IsPhasing;
  std::vector<double> Soft;
  std::size_t Start = 0;  // slot pair of the message's first character

  TStream(const std::vector<uint8_t>& codes, TService service, int phasing = 6, bool inverted = false, int idle = 4)
      : English(service == TService::English), Inverted(inverted)
  {
    Phasing(phasing);
    Start = Dx.size();
    Append(codes);
    Append(std::vector<uint8_t>(idle, Code().PhasingFirst));
  }
  TStream(std::string_view text, TService service) : TStream(Codes(text, service), service) {}
  const TServiceCode& Code() const { return English ? EnglishCode() : JapaneseCode(); }
  void Phasing(int pairs)
  {
    for (int i = 0; i < pairs; ++i) Slot(Code().PhasingFirst, true);
  }
  void Append(const std::vector<uint8_t>& codes)
  {
    for (uint8_t c : codes) Slot(c, false);
  }
  void Slot(uint8_t dx, bool phasing)
  {
    const std::size_t k = Dx.size();
    const uint8_t rx = k < 2 || IsPhasing[k - 2] ? Code().PhasingRepeat : Dx[k - 2];
    Dx.push_back(dx);
    IsPhasing.push_back(phasing);
    for (uint8_t c : {dx, rx})
      for (uint8_t b : English ? gen::EnglishCharBits(c) : gen::JapaneseCharBits(c))
        Soft.push_back((b != 0) != (!English != Inverted) ? Strong : -Strong);  // Japanese is sent inverted
  }
  // First bit of the first copy (0) or of the repetition (1) of message character i.
  std::size_t Copy(std::size_t i, int copy) const { return (2 * (Start + i) + (copy ? 5 : 0)) * Code().Units; }
  // Code bit `bit` of that copy, reading `one` at magnitude `level`.
  void Set(std::size_t i, int copy, int bit, bool one, double level)
  {
    const bool high = one != (!English != Inverted);
    Soft[Copy(i, copy) + (English ? 6 - bit : bit)] = high ? level : -level;
  }
};

struct TDecoded final : TTextSink {
  std::vector<std::string> Lines;  // code page 932, the unfinished line last
  std::vector<std::vector<float>> Confidence;
  uint64_t SyncChanges = 0, Characters = 0, Erasures = 0, Corrections = 0;
  bool EngMode = false, Inverted = false;
  void LineWritten(std::string_view line, std::span<const float> confidence) override
  {
    Lines.emplace_back(line);
    Confidence.emplace_back(confidence.begin(), confidence.end());
  }
  std::string Utf8() const
  {
    std::string s;
    for (const auto& l : Lines) s += Cp932ToUtf8(l) + "\n";
    return s;
  }
};

// Noise, then the soft values in pieces of 13; the input breaks off before
// soft[gapAt] if that is given.
TDecoded Decode(const std::vector<double>& soft, std::size_t gapAt = 0)
{
  TRobustDecoder d;
  TTextStore text;
  TDecoded out;
  text.Sink = &out;
  std::vector<double> all = test::SoftNoise(150, 6.0, 3);
  const std::size_t gap = gapAt > 0 ? all.size() + gapAt : 0;
  all.insert(all.end(), soft.begin(), soft.end());
  for (std::size_t i = 0, n; i < all.size(); i += n) {
    n = std::min<std::size_t>(i < gap ? std::min<std::size_t>(13, gap - i) : 13, all.size() - i);
    d.Process(std::span(all).subspan(i, n), text);
    if (d.InSync()) out.EngMode = d.EngMode(), out.Inverted = d.Inverted();
    if (i + n == gap) d.Interrupt(text);
  }
  d.Finish(text);
  text.Sink = nullptr;
  out.Lines.push_back(d.LineText());
  out.Confidence.push_back(d.LineConfidence());
  out.SyncChanges = d.SyncChanges();
  out.Characters = d.Characters(), out.Erasures = d.Erasures(), out.Corrections = d.Corrections();
  return out;
}

TEST(RobustRules, ACharacterWeakInBothCopiesIsItsLikeliestReading)
{
  // Chosen code bits of both copies of a letter of NORTH weak or silent. O
  // (1000111) and T (0010111) differ in bits 6 and 4: at `level` for O each
  // copy gives odds of e^(2·level), both e^(4·level). With bits 0 and 1 of
  // the H (1001011) silent, N and M fit as well; bit 2 at 0.1 for H makes it
  // e^0.2 : 1 : 1, a reading at 0.379 that is still printed. The A of
  // WEATHER (1110001) silent where it differs from the phasing pair's first
  // word (0110011) in its first copy and from its second (1111000) in the
  // repetition, one bit at 0.2 for A: the pair, as likely a priori as a
  // letter, fits as well, A at e^0.2 : 1.
  struct TBit {
    int Bit;
    bool One;
    double Level;
    int Copy = -1;  // both
  };
  const struct {
    std::size_t At;  // in the line
    std::vector<TBit> Bits;
    const char* Line;
    double Confidence;
  } cases[] = {
      {17, {{6, true, 0.25}, {4, false, 0.25}}, "WEATHER FOR THE NORTH SEA", 0.7311},
      {17, {{6, false, 0.25}, {4, true, 0.25}}, "WEATHER FOR THE NTRTH SEA", 0.7311},
      {17, {{6, true, 1.0}, {4, false, 1.0}}, "WEATHER FOR THE NORTH SEA", 0.9820},
      {20, {{0, true, 0.0}, {1, true, 0.0}, {2, false, 0.1}}, "WEATHER FOR THE NORTH SEA", 0.3792},
      {2, {{6, true, 0.2, 0}, {1, true, 0.0, 0}, {3, true, 0.0, 1}, {0, true, 0.0, 1}}, "WEATHER FOR THE NORTH SEA", 0.5498},
  };
  for (const auto& c : cases) {
    TStream s("WEATHER FOR THE NORTH SEA\n", TService::English);
    for (int copy : {0, 1})
      for (const TBit& b : c.Bits)
        if (b.Copy < 0 || b.Copy == copy) s.Set(c.At + 1, copy, b.Bit, b.One, b.Level);  // after a letters shift
    const TDecoded d = Decode(s.Soft);
    EXPECT_EQ(d.Lines[0], c.Line);
    for (std::size_t i = 0; i < d.Confidence[0].size(); ++i)
      EXPECT_NEAR(d.Confidence[0][i], i == c.At ? c.Confidence : 1.0, i == c.At ? 0.002 : 0.001) << c.At << " " << i;
  }
}

TEST(RobustRules, ACharacterThatMayBeAShiftOrALineEnd)
{
  // The figures shift before 123 reads a figures shift at `first` in its
  // first copy and a line feed at `second` in its repetition, in the four
  // bits where they differ; four more words take two bits from each. The
  // likeliest reading is taken even far from sure; when none is sure enough
  // a copy that shows a shift sets the row. The next character carries the
  // chance that the shift was text.
  const struct {
    double First, Second;
    std::vector<std::string> Lines;
    double Next;  // confidence of the character after the shift
  } cases[] = {
      {6.0, 2.0, {"SEA 123", ""}, 1.0},
      {3.5, 2.5, {"SEA 123", ""}, 0.726},  // the figures shift at 0.64
      {2.0, 6.0, {"SEA ", "QWE", ""}, 1.0},
      {0.3, 0.0, {"SEA 123", ""}, 0.443},  // the repetition silent: a shift or a space at 0.44
  };
  for (const auto& c : cases) {
    TStream s("SEA 123\n", TService::English);
    ASSERT_EQ(s.Dx[s.Start + 5], CodeFigures);
    for (int bit = 0; bit < 7; ++bit) {
      const bool differs = ((CodeFigures ^ CodeLineFeed) >> bit) & 1;
      s.Set(5, 0, bit, (CodeFigures >> bit) & 1, differs ? c.First : Strong);
      s.Set(5, 1, bit, (CodeLineFeed >> bit) & 1, differs ? c.Second : Strong);
    }
    const TDecoded d = Decode(s.Soft);
    EXPECT_EQ(d.Lines, c.Lines) << c.First << " " << c.Second;
    EXPECT_NEAR(c.Lines.size() == 2 ? d.Confidence[0][4] : d.Confidence[1][0], c.Next, 0.01) << c.First;
  }

  // A carriage return silent in bits 1 and 5 of both copies and weak in 0 and
  // 2: a letters shift fits as well, a space and X at e^0.2 : 1. Likelier to
  // write nothing (0.55), it leaves no mark; the next character carries the doubt.
  TStream s("LINE ONE\nLINE TWO\n", TService::English);
  ASSERT_EQ(s.Dx[s.Start + 9], CodeCarriageReturn);
  for (int copy : {0, 1})
    for (int bit : {0, 1, 2, 5}) s.Set(9, copy, bit, true, bit == 1 || bit == 5 ? 0.0 : 0.1);
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Lines, (std::vector<std::string>{"LINE ONE", "LINE TWO", ""}));
  EXPECT_NEAR(d.Confidence[1][0], 0.55, 0.01);
  EXPECT_GT(d.Confidence[1][1], 0.999f);
}

TEST(RobustRules, AfterALostShiftTheRowIsChosenAndDoubted)
{
  // The figures shift silent in both copies: an erasure mark, then digits
  // chosen by their meanings in both rows, at the odds of the row; a space is
  // the same in both rows.
  TStream s("POSITION 35 12N\n", TService::English);
  ASSERT_EQ(s.Dx[s.Start + 10], CodeFigures);
  for (int copy : {0, 1})
    for (int bit = 0; bit < 7; ++bit) s.Set(10, copy, bit, false, 0.0);
  const TDecoded d = Decode(s.Soft);
  ASSERT_EQ(d.Lines[0], "POSITION *35 12N");
  EXPECT_EQ(d.Confidence[0][9], 0.0f);
  EXPECT_GT(d.Confidence[0][10], 0.5f);
  EXPECT_LT(d.Confidence[0][10], 0.95f);
  EXPECT_GT(d.Confidence[0][12], 0.999f);

  // Phasing in the middle of figures traffic, then a message whose letters
  // shift is lost in both copies: letters again after the erasure mark.
  TStream p(Codes("SERIAL 123\n", TService::English), TService::English, 6, false, 0);
  const std::size_t lost = p.Dx.size() + 6 - p.Start;
  p.Phasing(6);
  p.Append(Codes("TO ALL SHIPS\n", TService::English));
  p.Append(std::vector<uint8_t>(4, CodeSync2));
  for (int copy : {0, 1})
    for (int bit = 0; bit < 7; ++bit) p.Set(lost, copy, bit, false, 0.0);
  const TDecoded q = Decode(p.Soft);
  EXPECT_EQ(q.Lines, (std::vector<std::string>{"SERIAL 123", "*TO ALL SHIPS", ""}));
  EXPECT_EQ(q.SyncChanges, 1u);

  // The row of 12 after a lost figures shift is chosen with the characters
  // up to the next shift only: the letters after it say nothing of 12.
  TStream r("POSITION 12 NORTH\n", TService::English);
  ASSERT_EQ(r.Dx[r.Start + 10], CodeFigures);
  for (int copy : {0, 1})
    for (int bit = 0; bit < 7; ++bit) r.Set(10, copy, bit, false, 0.0);
  const TDecoded e = Decode(r.Soft);
  ASSERT_EQ(e.Lines[0], "POSITION *12 NORTH");
  EXPECT_NEAR(e.Confidence[0][10], 0.8869, 0.002);
  EXPECT_NEAR(e.Confidence[0][11], 0.8869, 0.002);
}

TEST(RobustRules, ADeepFadeKeepsSynchronisationAndMarksWhatBothCopiesLost)
{
  const std::string text =
      "SEA AREA FORTIES VIKING AND NORTH UTSIRE WESTERLY GALES EXPECTED SOON\n"
      "VISIBILITY MODERATE OR GOOD IN SHOWERS THEN BECOMING POOR LATER TONIGHT\n";
  TStream s(text, TService::English);
  const std::size_t from = s.Copy(30, 0) + 3, to = from + 5 * 14;  // five character times of silence
  std::fill(s.Soft.begin() + static_cast<long>(from), s.Soft.begin() + static_cast<long>(to), 0.0);
  // Characters without a whole copy outside the silence are erased.
  auto whole = [&](std::size_t bit) { return bit + 7 <= from || bit >= to; };
  std::string want = text;
  for (std::size_t i = 0; i < text.find('\n'); ++i)
    if (!whole(s.Copy(i + 1, 0)) && !whole(s.Copy(i + 1, 1))) want[i] = '*';
  ASSERT_EQ(std::count(want.begin(), want.end(), '*'), 3);
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Utf8(), want + "\n");
  EXPECT_EQ(d.SyncChanges, 1u);  // found once, never lost
  EXPECT_EQ(d.Confidence[0][want.find('*')], 0.0f);
}

TEST(RobustRules, SlipsOfOneOrTwoBitsAndNoFalseOnes)
{
  // Bits lost mid-message: one move to the alignment that fits (not first to
  // the wrong neighbour), only characters with copies on both sides suffer.
  // Five bits more before the signal put the alignment at the start of the
  // character period, so that the slip moves it across the end.
  std::string text;
  for (int i = 0; i < 4; ++i) text += "LINE " + std::to_string(i) + " OF A WEATHER BULLETIN FOR THE SEA AREAS\n";
  for (int lead : {0, 5})
    for (int lost : {1, 2}) {
      TStream s(text, TService::English);
      const auto at = static_cast<long>(s.Copy(text.size() / 2, 0) + 3);
      s.Soft.erase(s.Soft.begin() + at, s.Soft.begin() + at + lost);
      s.Soft.insert(s.Soft.begin(), static_cast<std::size_t>(lead), 0.0);
      const TDecoded d = Decode(s.Soft);
      EXPECT_EQ(d.SyncChanges, 2u) << lead << " " << lost;
      EXPECT_LE(test::EditDistance(test::CodePoints(d.Utf8()), test::CodePoints(text + "\n")), 3u) << d.Utf8();
    }
  // A long message at 3 dB: found once, never moved.
  std::string longText;
  for (int i = 0; i < 30; ++i) longText += "VESSELS ARE REQUESTED TO KEEP CLEAR OF POSITION 5" + std::to_string(i % 10) + "-12N\n";
  std::vector<uint8_t> bits;
  for (double v : TStream(longText, TService::English).Soft) bits.push_back(v > 0.0);
  const TDecoded d = Decode(test::SoftBits(bits, {.EbN0Db = 3.0, .FadingBits = 0.0, .Seed = 11}));
  EXPECT_EQ(d.SyncChanges, 1u);
}

TEST(RobustRules, BitsLostOrGainedAmidIdleCostNoText)
{
  // Idle characters between two lines of a message, and one or two bits lost
  // (or gained) in the middle of one of them, in its first copy or in the
  // repetition sent right after it (of the idle character two before): every
  // character whose copies are touched is idle, so the text comes out whole.
  const struct {
    TService Service;
    std::string First, Second;
  } texts[] = {
      {TService::English, "GALE WARNING NR 4\n", "SEA ROUGH\n"},
      {TService::English, "GALE WARNING NR 4", " SEA ROUGH\n"},
      {TService::Japanese, "気象警報　強風\n", "浮標消灯\n"},
  };
  const struct {
    int Idle, At;  // idle characters, and the one (from 0) whose slot pair slips
  } places[] = {{4, 3}, {6, 3}, {8, 5}, {12, 4}, {12, 9}};
  for (const auto& t : texts)
    for (const auto& p : places)
      for (int slip : {-2, -1, 1, 2})
        for (int slot : {0, 1}) {
          std::vector<uint8_t> codes = Codes(t.First + t.Second, t.Service);
          const long idleAt = static_cast<long>(Codes(t.First, t.Service).size());
          const auto after = codes.begin() + idleAt;
          const TServiceCode& code = t.Service == TService::English ? EnglishCode() : JapaneseCode();
          codes.insert(after, static_cast<std::size_t>(p.Idle), code.PhasingFirst);
          TStream s(codes, t.Service);
          const auto bit = s.Soft.begin() + static_cast<long>(s.Copy(static_cast<std::size_t>(idleAt + p.At), 0) + slot * code.Units + 3);
          if (slip < 0)
            s.Soft.erase(bit, bit - slip);
          else
            s.Soft.insert(bit, static_cast<std::size_t>(slip), slip == 1 ? Strong : -Strong);
          const TDecoded d = Decode(s.Soft);
          const std::string got = d.Utf8();
          // Whatever the slip costs after it, what came before it is written whole.
          EXPECT_EQ(got.substr(0, t.First.size()), t.First) << p.Idle << " idle, slip " << slip << " in " << p.At << "/" << slot;
          EXPECT_EQ(got, t.First + t.Second + "\n") << p.Idle << " idle, slip " << slip << " in " << p.At << "/" << slot;
        }
}

TEST(RobustRules, OneCharacterABitLateIsReadWhereItLiesAndMovesNothing)
{
  // Both copies of one character come a bit late (a zero before them, their
  // last bits over the next slots' first): it is read where it lies, at most
  // one character suffers, and the alignment stays; a slip takes two
  // characters in a row.
  const std::string text = "SEA AREA FORTIES VIKING AND NORTH UTSIRE WESTERLY GALES EXPECTED SOON\n";
  for (std::size_t at : {22u, 37u}) {
    TStream s(text, TService::English);
    ASSERT_EQ(s.Dx[s.Start + at] & 1, 1) << "late by a bit, the copies read as no word";
    for (int copy : {0, 1}) {
      const std::size_t p = s.Copy(at, copy);
      for (std::size_t k = 7; k > 0; --k) s.Soft[p + k] = s.Soft[p + k - 1];
      s.Soft[p] = -Strong;
    }
    const TDecoded d = Decode(s.Soft);
    EXPECT_LE(test::EditDistance(test::CodePoints(d.Utf8()), test::CodePoints(text + "\n")), 1u) << d.Utf8();
    EXPECT_EQ(d.SyncChanges, 1u) << at;
  }
}

TEST(RobustRules, JapanesePairing)
{
  // The first byte of 京 (0x35) and 0x2D, which is no row, differ in data
  // bits 4 and 3; both copies favour 0x2D by e^(4·0.35). Alone that byte would
  // be 0x2D; the first byte of a pair is a row.
  const std::string text = "東京湾　浮標消灯中　付近航行の船舶は注意されたい。\n";
  TStream s(text, TService::Japanese);
  for (int copy : {0, 1}) s.Set(2, copy, 4, false, 0.35), s.Set(2, copy, 3, true, 0.35);
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Utf8(), text + "\n");
  EXPECT_NEAR(d.Confidence[0][1], 0.972, 0.005);

  // The first byte of 東 lost after the phasing: the pairing is wrong until
  // the bytes show it (eight characters), one geta mark stands for the lost
  // byte, and what was printed with the wrong pairing has no confidence.
  auto codes = Codes(text, TService::Japanese);
  codes.erase(codes.begin());
  const TDecoded r = Decode(TStream(codes, TService::Japanese).Soft);
  const std::size_t geta = r.Lines[0].find(JapaneseErasure);
  ASSERT_EQ(geta, 16u) << r.Utf8();
  EXPECT_EQ(Cp932ToUtf8(r.Lines[0].substr(geta + 2)) + "\n", text.substr(text.find("　付近")));
  for (std::size_t i = 0; i <= geta / 2; ++i) EXPECT_EQ(r.Confidence[0][i], 0.0f) << i;
  EXPECT_GT(r.Confidence[0][geta / 2 + 1], 0.99f);

  // Idle between two lines writes nothing, surely: the next line is as sure
  // as its bytes.
  auto idle = Codes("東京湾\n", TService::Japanese);
  idle.insert(idle.end(), 4, JisPhasingB);
  for (uint8_t b : Codes("浮標\n", TService::Japanese)) idle.push_back(b);
  const TDecoded q = Decode(TStream(idle, TService::Japanese).Soft);
  EXPECT_EQ(q.Utf8(), "東京湾\n浮標\n\n");
  ASSERT_EQ(q.Confidence[1].size(), 2u);
  for (float c : q.Confidence[1]) EXPECT_GT(c, 0.999f);

  // The first byte of 東 silent where it differs from the phasing pair's
  // first word in its first copy (but for one bit at 1.0 for it) and from the
  // second in its repetition: the pair fits almost as well, at its own prior.
  TStream p(text, TService::Japanese);
  const auto w = gen::JapaneseCharBits(p.Dx[p.Start]);
  const auto first = gen::JapaneseCharBits(JisPhasingB), second = gen::JapaneseCharBits(JisPhasingA);
  for (std::size_t b = 0, n = 0; b < w.size(); ++b) {
    if (w[b] != first[b]) p.Soft[p.Copy(0, 0) + b] *= n++ == 0 ? 1.0 / Strong : 0.0;
    if (w[b] != second[b]) p.Soft[p.Copy(0, 1) + b] = 0.0;
  }
  const TDecoded f = Decode(p.Soft);
  EXPECT_EQ(f.Utf8(), text + "\n");
  EXPECT_NEAR(f.Confidence[0][0], 0.6578, 0.001);
}

TEST(RobustRules, AcrossAGapAndAChangeOfServiceOrPolarity)
{
  struct TPart {
    TService Service;
    bool Inverted;
    std::string Text;
  };
  const struct {
    TPart First, Second;
    bool Gap;  // the input breaks off right after the first one's last character
  } cases[] = {
      {{TService::English, false, "GALE WARNING NR 4\n"}, {TService::Japanese, false, "気象警報　強風\n"}, false},
      {{TService::Japanese, true, "航行警報　浮標消灯\n"}, {TService::English, false, "BUOY UNLIT\n"}, false},
      {{TService::English, false, "GALE WARNING NR 4\n"}, {TService::English, true, "SEA ROUGH\n"}, false},
      {{TService::English, false, "GALE WARNING NR 4"}, {TService::English, false, "SEA ROUGH\n"}, true},
  };
  for (const auto& c : cases) {
    const auto codes = Codes(c.First.Text, c.First.Service);
    TStream a(codes, c.First.Service, 6, c.First.Inverted, c.Gap ? 0 : 4);
    if (c.Gap) a.Soft.resize(a.Copy(codes.size() - 1, 1) + a.Code().Units);
    const TStream b(Codes(c.Second.Text, c.Second.Service), c.Second.Service, 6, c.Second.Inverted);
    std::vector<double> soft = a.Soft;
    soft.resize(soft.size() + 3, 0.0);  // off the first one's grid
    soft.insert(soft.end(), b.Soft.begin(), b.Soft.end());
    const TDecoded d = Decode(soft, c.Gap ? a.Soft.size() : 0);
    EXPECT_EQ(d.Utf8(), c.First.Text + (c.Gap ? "\n" : "") + c.Second.Text + "\n");
    EXPECT_EQ(d.EngMode, c.Second.Service == TService::English);
    EXPECT_EQ(d.Inverted, c.Second.Inverted);
  }
}

TEST(RobustRules, TwelveUncertainCharactersInARowEndSynchronisation)
{
  // Every bit of both copies of n characters at 0.8: each is read right at
  // about 0.66 and held back until a sure one comes. Eleven are released by
  // the next clean character; the twelfth ends synchronisation, and the held
  // ones are dropped as noise.
  const std::string text = "SEA AREA FORTIES VIKING AND NORTH UTSIRE WESTERLY GALES EXPECTED SOON\nVISIBILITY MODERATE\n";
  const struct {
    int Weak;
    std::string Text;
    uint64_t SyncChanges;
  } cases[] = {
      {11, text, 1},
      {12, "SEA AREA FORTIES VI\nTH UTSIRE WESTERLY GALES EXPECTED SOON\nVISIBILITY MODERATE\n", 3},
  };
  for (const auto& c : cases) {
    TStream s(text, TService::English);
    for (int i = 20; i < 20 + c.Weak; ++i)
      for (int copy : {0, 1})
        for (int bit = 0; bit < 7; ++bit) s.Set(i, copy, bit, (s.Dx[s.Start + i] >> bit) & 1, 0.8);
    const TDecoded d = Decode(s.Soft);
    EXPECT_EQ(d.Utf8(), c.Text + "\n") << c.Weak;
    EXPECT_EQ(d.SyncChanges, c.SyncChanges) << c.Weak;
    if (c.Weak == 11) {
      for (std::size_t i = 15; i < 34; ++i)
        EXPECT_NEAR(d.Confidence[0][i], i >= 19 && i < 30 ? 0.66 : 1.0, i >= 19 && i < 30 ? 0.03 : 0.001) << i;
    }
  }
}

TEST(RobustRules, ASignalThatStopsAfterItsLastCharacterKeepsIt)
{
  // The trailer and its line end are sure, but the signal stops right after
  // them (no idle, or one idle character) and noise follows: they are still
  // written, and nothing of the noise is.
  for (int idle : {0, 1, 4})
    for (uint32_t seed = 1; seed <= 12; ++seed) {
      std::vector<double> soft = TStream(Codes("GALE WARNING\nNNNN\n", TService::English), TService::English, 6, false, idle).Soft;
      const std::vector<double> noise = test::SoftNoise(700, 6.0, seed);
      soft.insert(soft.end(), noise.begin(), noise.end());
      const TDecoded d = Decode(soft);
      EXPECT_EQ(d.Lines, (std::vector<std::string>{"GALE WARNING", "NNNN", ""})) << idle << " " << seed;
    }
}

TEST(RobustRules, ALastCharacterOneCopyLostIsKeptWhileItsCopiesStillFitAWord)
{
  // The signal falls silent right after the repetition of the last G, one of
  // whose bits is turned at `level`. Read from both copies, G is sure; but it
  // counts as sure only while the two copies together fit a word better than
  // random bits would: otherwise, the end of a signal, it is dropped as noise.
  const struct {
    double Level;
    const char* Line;
  } cases[] = {{5.75, "GALE WARNING"}, {6.4, "GALE WARNIN"}};
  for (const auto& c : cases) {
    const auto codes = Codes("GALE WARNING", TService::English);
    TStream s(codes, TService::English, 6, false, 2);
    const std::size_t last = codes.size() - 1;
    s.Set(last, 1, 0, !(s.Dx[s.Start + last] & 1), c.Level);
    for (std::size_t k : {last + 1, last + 2}) std::fill_n(s.Soft.begin() + static_cast<long>(s.Copy(k, 0)), 7, 0.0);
    s.Soft.resize(s.Copy(last, 1) + 7);
    s.Soft.resize(s.Soft.size() + 300, 0.0);
    EXPECT_EQ(Decode(s.Soft).Lines, (std::vector<std::string>{c.Line, ""})) << c.Level;
  }
}

TEST(RobustRules, ASpaceThatMayBeALettersShiftDoubtsTheFiguresAfterIt)
{
  // The space between 123 and 456 and a letters shift differ in four bits,
  // here weak or silent in both copies. The likelier one is read; the
  // figures after a space carry the chance that the row changed.
  const struct {
    double First, Second;  // for the space (> 0) or the shift (< 0)
    const char* Line;
    double Space, Figures;  // confidences
  } cases[] = {
      {0.0, 0.0, "NR 123 456", 0.5, 0.826},
      {0.3, 0.0, "NR 123 456", 0.646, 0.896},
      {0.3, 0.3, "NR 123 456", 0.769, 0.940},
      {-0.3, -0.3, "NR 123456", 0.0, 0.0},  // a shift, but 456 read as figures still
  };
  for (const auto& c : cases) {
    TStream s("NR 123 456\n", TService::English);
    constexpr std::size_t At = 8;
    const uint8_t space = s.Dx[s.Start + At];
    for (int bit = 0; bit < 7; ++bit)
      if (((space ^ CodeLetters) >> bit) & 1)
        for (int copy : {0, 1}) {
          const double level = copy == 0 ? c.First : c.Second;
          s.Set(At, copy, bit, ((level < 0.0 ? CodeLetters : space) >> bit) & 1, std::abs(level));
        }
    const TDecoded d = Decode(s.Soft);
    ASSERT_EQ(d.Lines[0], c.Line) << c.First;
    if (c.Space > 0.0) {
      EXPECT_NEAR(d.Confidence[0][6], c.Space, 0.002) << c.First;
      for (std::size_t i = 7; i < 10; ++i) EXPECT_NEAR(d.Confidence[0][i], c.Figures, 0.002) << c.First;
    }
  }
}

TEST(RobustRules, TheFirstByteOfAKanjiIsARowOfTheCharacterSet)
{
  // The first bytes of 弌 (0x50, the first row of the second level) and 鵝
  // (0x73, near the last) damaged in both copies: 0x50 against 0x11 (no row),
  // two bits silent; 0x73 against 0x75 (no row), two bits favouring 0x75 by
  // e^(4·0.3). The rows are read, at the odds of their priors.
  TStream s("航行警報　弌　鵝　注意\n", TService::Japanese);
  ASSERT_EQ(s.Dx[s.Start + 10], 0x50);
  ASSERT_EQ(s.Dx[s.Start + 14], 0x73);
  for (int copy : {0, 1}) {
    s.Set(10, copy, 6, false, 0.0), s.Set(10, copy, 0, true, 0.0);
    s.Set(14, copy, 2, true, 0.3), s.Set(14, copy, 1, false, 0.3);
  }
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Utf8(), "航行警報　弌　鵝　注意\n\n");
  const std::vector<double> want{1, 1, 1, 1, 1, 0.7438, 1, 0.8138, 1, 1, 1};
  ASSERT_EQ(d.Confidence[0].size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(d.Confidence[0][i], want[i], 0.002) << i;
}

TEST(RobustRules, EachByteOfAPairIsWeighedByWhatMayStandThere)
{
  // The first byte of a pair and another byte with the same check bits (one
  // data bit set, another clear) silent in those two bits of both copies: the
  // copies fit both alike, so the weight of a first byte decides. A row weighs
  // its share of Japanese text plus 1e-4: hiragana 0.20, katakana 0.12,
  // symbols and full-width letters 0.08 (0x21, 0x23), more symbols 0.01,
  // Greek to box drawing 0.01 / 3, first-level kanji 0.45 / 32, second-level
  // 0.05 / 37, unused rows none; a byte that is no row 0.0005. As the second
  // byte, every row weighs 1 / 94. The character is as sure as both bytes.
  const struct {
    int Byte;  // of the pair
    uint8_t Sent, Other, Read;
    double Confidence;
  } cases[] = {
      {0, 0x21, 0x22, 0x21, 0.8880}, {0, 0x23, 0x25, 0x25, 0.5999}, {0, 0x24, 0x28, 0x24, 0.9831},
      {0, 0x26, 0x2A, 0x26, 0.9717}, {0, 0x28, 0x18, 0x28, 0.8729}, {0, 0x30, 0x50, 0x30, 0.9071},
      {0, 0x4F, 0x57, 0x4F, 0.9071}, {0, 0x74, 0x78, 0x74, 0.9355}, {0, 0x7E, 0x3F, 0x3F, 0.9930},
      {0, 0x29, 0x31, 0x31, 0.9930}, {1, 0x30, 0x11, 0x30, 0.9551},
  };
  for (const auto& c : cases) {
    auto codes = Codes("航行警報\n　", TService::Japanese);
    const std::size_t at = codes.size() + static_cast<std::size_t>(c.Byte);
    codes.insert(codes.end(), {c.Byte == 0 ? c.Sent : uint8_t{0x30}, c.Byte == 0 ? uint8_t{0x21} : c.Sent});
    for (uint8_t b : Codes("　注意\n", TService::Japanese)) codes.push_back(b);
    TStream s(codes, TService::Japanese);
    const int diff = c.Sent ^ c.Other;
    ASSERT_EQ(std::popcount(static_cast<unsigned>(diff)), 2);
    ASSERT_EQ(std::popcount(static_cast<unsigned>(c.Sent)), std::popcount(static_cast<unsigned>(c.Other)));
    for (int bit = 0; bit < 7; ++bit)
      if ((diff >> bit) & 1)
        for (int copy : {0, 1}) s.Set(at, copy, bit, true, 0.0);
    std::string want = "\x81\x40";  // 　
    AppendShiftJis(want, {c.Byte == 0 ? c.Read : uint8_t{0x30}, c.Byte == 0 ? uint8_t{0x21} : c.Read});
    want += "\x81\x40\x92\x8d\x88\xd3";  // 　注意
    const TDecoded d = Decode(s.Soft);
    ASSERT_EQ(d.Lines.size(), 3u);
    EXPECT_EQ(d.Lines[1], want) << std::hex << int{c.Sent};
    // The line end wrote nothing, surely: the next line is as sure as its bytes.
    ASSERT_EQ(d.Confidence[1].size(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
      EXPECT_NEAR(d.Confidence[1][i], i == 1 ? c.Confidence : 1.0, 0.0005) << std::hex << int{c.Sent} << " " << i;
    // Each copy read alone has the two bits clear: no valid byte, corrected.
    EXPECT_EQ(std::tuple(d.Characters, d.Erasures, d.Corrections, d.SyncChanges), std::tuple(9u, 0u, 1u, 1u));
  }
}

TEST(RobustRules, AByteLostMidLineUndoesTheConfidenceOnlyBackToWhereThePairingFitted)
{
  // One byte of 浮, 標, 中 or 付 lost: the pairing is wrong until the bytes
  // show it, a geta mark stands for the lost byte and the pairing starts
  // again after it. The characters printed with the wrong pairing, from 浮
  // on, have no confidence; those before keep theirs.
  const std::string text = "東京湾　浮標消灯中　付近航行の船舶は注意されたい。\n";
  for (std::size_t lost : {9u, 11u, 16u, 20u}) {
    auto codes = Codes(text, TService::Japanese);
    codes.erase(codes.begin() + static_cast<long>(lost));
    const TDecoded r = Decode(TStream(codes, TService::Japanese).Soft);
    const std::size_t geta = r.Lines[0].find(JapaneseErasure);
    ASSERT_EQ(geta, 26u) << r.Utf8();
    EXPECT_EQ(Cp932ToUtf8(r.Lines[0].substr(0, 8)), "東京湾　");
    EXPECT_EQ(Cp932ToUtf8(r.Lines[0].substr(geta + 2)) + "\n", text.substr(text.find("の船舶")));
    ASSERT_EQ(r.Confidence[0].size(), 25u);
    for (std::size_t i = 0; i < 25; ++i) EXPECT_EQ(r.Confidence[0][i] > 0.99f, i < 4 || i > 13) << lost << " " << i;
  }
}

}  // namespace
}  // namespace brontel
