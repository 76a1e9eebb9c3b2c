// The decision rules of the robust character decoder on exact soft values:
// clean copies at a fixed level with chosen bits weakened, turned or silenced.
#include <gtest/gtest.h>

#include <algorithm>

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

// A slot stream: Dx[k] in first-transmission slot 2k, Rx[k] in repetition slot
// 2k + 1 (the repetition of Dx[k − 2]), as soft values in the receiver's sense.
std::vector<uint8_t> Codes(std::string_view text, TService service)
{
  std::vector<uint8_t> codes;
  std::string err;
  EXPECT_TRUE(service == TService::English ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err))
      << err;
  return codes;
}

struct TStream {
  bool English = true;
  bool Inverted = false;
  std::vector<uint8_t> Dx;
  std::vector<bool> IsPhasing;  // Dx[k] is phasing (its repetition slot carries the other phasing word)
  std::vector<double> Soft;
  std::size_t Start = 0;  // slot pair of the message's first character

  // Phasing, the message, idle.
  TStream(const std::vector<uint8_t>& codes, TService service, int phasing = 6, bool inverted = false, int idle = 4)
      : English(service == TService::English), Inverted(inverted)
  {
    Phasing(phasing);
    Start = Dx.size();
    Append(codes);
    Append(std::vector<uint8_t>(idle, Code().PhasingFirst));
  }
  TStream(std::string_view text, TService service, int phasing = 6, bool inverted = false)
      : TStream(Codes(text, service), service, phasing, inverted)
  {
  }
  const TServiceCode& Code() const { return English ? EnglishCode() : JapaneseCode(); }
  int Unit() const { return Code().Units; }
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
    for (uint8_t c : {dx, rx}) {
      const auto bits = English ? gen::EnglishCharBits(c) : gen::JapaneseCharBits(c);
      // Japanese code bits are sent in the opposite sense.
      for (uint8_t b : bits) Soft.push_back((b != 0) != (!English != Inverted) ? Strong : -Strong);
    }
  }
  // First bit of the first copy (0) or of the repetition (1) of character i of the message.
  std::size_t Copy(std::size_t i, int copy) const { return (2 * (Start + i) + (copy ? 5 : 0)) * Unit(); }
  // The soft value carrying code bit `bit` of character i's copy, as a value
  // that would read `one`, of magnitude `level`.
  void Set(std::size_t i, int copy, int bit, bool one, double level)
  {
    const int offset = English ? 6 - bit : bit;  // English sends bit 6 first, Japanese bit 0
    const bool high = one != (!English != Inverted);
    Soft[Copy(i, copy) + offset] = high ? level : -level;
  }
};

struct TDecoded {
  std::vector<std::string> Lines;  // code page 932, the unfinished line last
  std::vector<std::vector<float>> Confidence;
  uint64_t SyncChanges = 0;
  bool EngMode = false, Inverted = false;
  std::string Utf8() const
  {
    std::string s;
    for (const auto& l : Lines) s += Cp932ToUtf8(l) + "\n";
    return s;
  }
};

class TConfidenceSink final : public TTextSink {
public:
  void LineWritten(std::string_view line, std::span<const float> confidence) override
  {
    Out.Lines.emplace_back(line);
    Out.Confidence.emplace_back(confidence.begin(), confidence.end());
  }
  TDecoded Out;
};

// Noise, then the soft values in pieces of 13; the input breaks off before
// soft[interruptAt] if that is given.
TDecoded Decode(const std::vector<double>& soft, std::size_t interruptAt = 0)
{
  TRobustDecoder d;
  TTextStore text;
  TConfidenceSink sink;
  text.Sink = &sink;
  std::vector<double> all = test::SoftNoise(150, 6.0, 3);  // the decoder starts on noise
  const std::size_t gap = interruptAt > 0 ? all.size() + interruptAt : 0;
  all.insert(all.end(), soft.begin(), soft.end());
  for (std::size_t i = 0; i < all.size();) {
    const std::size_t n = std::min<std::size_t>(i < gap ? std::min<std::size_t>(13, gap - i) : 13, all.size() - i);
    d.Process(std::span(all).subspan(i, n), text);
    if (d.InSync()) sink.Out.EngMode = d.EngMode(), sink.Out.Inverted = d.Inverted();
    i += n;
    if (i == gap) d.Interrupt(text);
  }
  d.Finish(text);
  TDecoded out = sink.Out;
  out.Lines.push_back(d.LineText());
  out.Confidence.push_back(d.LineConfidence());
  out.SyncChanges = d.SyncChanges();
  return out;
}

// Every line carries one confidence per character (a two-byte character
// counts once), each a probability.
void ExpectOneConfidencePerCharacter(const TDecoded& d)
{
  for (std::size_t i = 0; i < d.Lines.size(); ++i) {
    std::size_t chars = 0;
    for (std::size_t b = 0; b < d.Lines[i].size(); ++chars) b += static_cast<unsigned char>(d.Lines[i][b]) >= 0x81 ? 2 : 1;
    EXPECT_EQ(d.Confidence[i].size(), chars) << d.Lines[i];
    for (float p : d.Confidence[i]) EXPECT_TRUE(p >= 0.0f && p <= 1.0f) << p;
  }
}

TEST(RobustRules, ACharacterWeakInBothCopiesIsItsLikeliestReading)
{
  // Chosen code bits of both copies of one letter of NORTH are weak (or
  // silent); every other bit is clean. O (1000111) and T (0010111) differ in
  // bits 6 and 4: at `level` for O each copy gives odds of e^(2·level), both
  // e^(4·level). With bits 0 and 1 of the H (1001011) silent, N (1001101) and
  // M (1001110) fit as well; bit 2 at 0.1 for H gives it e^0.2 : 1 : 1, a
  // reading at 0.379 that is still printed.
  struct TBit {
    int Bit;
    bool One;
    double Level;
  };
  struct TCase {
    char Letter;  // O or H of NORTH
    std::vector<TBit> Bits;
    const char* Line;
    double Confidence;
  } cases[] = {
      {'O', {{6, true, 0.25}, {4, false, 0.25}}, "WEATHER FOR THE NORTH SEA", 0.7311},
      {'O', {{6, false, 0.25}, {4, true, 0.25}}, "WEATHER FOR THE NTRTH SEA", 0.7311},
      {'O', {{6, true, 1.0}, {4, false, 1.0}}, "WEATHER FOR THE NORTH SEA", 0.9820},
      {'H', {{0, true, 0.0}, {1, true, 0.0}, {2, false, 0.1}}, "WEATHER FOR THE NORTH SEA", 0.3792},
  };
  const std::string text = "WEATHER FOR THE NORTH SEA\n";
  for (const TCase& c : cases) {
    const std::size_t at = text.find("NORTH") + (c.Letter == 'O' ? 1 : 4);  // in the line
    TStream s(text, TService::English);
    for (int copy : {0, 1})
      for (const TBit& b : c.Bits) s.Set(at + 1, copy, b.Bit, b.One, b.Level);  // one letters shift ahead
    const TDecoded d = Decode(s.Soft);
    ASSERT_GE(d.Lines.size(), 1u);
    EXPECT_EQ(d.Lines[0], c.Line) << c.Letter;
    EXPECT_NEAR(d.Confidence[0][at], c.Confidence, 0.002) << c.Letter;
    for (std::size_t i = 0; i < d.Confidence[0].size(); ++i)
      if (i != at) {
        EXPECT_GT(d.Confidence[0][i], 0.999f) << i;
      }
  }
}

TEST(RobustRules, ACharacterThatMayBeAShiftOrALineEnd)
{
  // The figures shift before 123: its first copy reads a figures shift at
  // `first`, its repetition a line feed at `second` in the four bits where
  // they differ, each such bit giving odds of e^(first − second). Four other
  // words take two bits from each; the likeliest reading is taken even when
  // it is far from sure. When no reading is sure enough, a copy that shows a
  // shift sets the row, and the character after it carries the chance that
  // the unreadable one was text.
  const std::string text = "SEA 123\n";
  const std::size_t shift = text.find('1') + 1;  // one letters shift ahead of it
  struct TCase {
    double First, Second;
    std::vector<std::string> Lines;
    double Next;  // confidence of the character after the shift
  } cases[] = {
      {6.0, 2.0, {"SEA 123", ""}, 1.0},
      {3.5, 2.5, {"SEA 123", ""}, 0.726},  // the figures shift at 0.64
      {2.0, 6.0, {"SEA ", "QWE", ""}, 1.0},
      {0.3, 0.0, {"SEA 123", ""}, 0.443},  // the repetition silent: a shift or a space at 0.44
  };
  for (const TCase& c : cases) {
    TStream s(text, TService::English);
    ASSERT_EQ(s.Dx[s.Start + shift], CodeFigures);
    for (int bit = 0; bit < 7; ++bit) {
      const bool differs = ((CodeFigures ^ CodeLineFeed) >> bit) & 1;
      s.Set(shift, 0, bit, (CodeFigures >> bit) & 1, differs ? c.First : Strong);
      s.Set(shift, 1, bit, (CodeLineFeed >> bit) & 1, differs ? c.Second : Strong);
    }
    const TDecoded d = Decode(s.Soft);
    EXPECT_EQ(d.Lines, c.Lines) << c.First << " " << c.Second;
    const auto& next = d.Confidence[c.Lines.size() == 2 ? 0 : 1][c.Lines.size() == 2 ? 4 : 0];
    EXPECT_NEAR(next, c.Next, 0.01) << c.First << " " << c.Second;
  }

  // A carriage return silent in bits 1 and 5 of both copies and weak in bits
  // 0 and 2: a letters shift fits as well, a space and X nearly so (e^0.2 : 1).
  // More likely to write nothing than not (0.55), it leaves no mark, and the
  // next character printed carries that doubt.
  TStream s("LINE ONE\nLINE TWO\n", TService::English);
  ASSERT_EQ(s.Dx[s.Start + 9], CodeCarriageReturn);
  for (int copy : {0, 1}) {
    for (int bit : {1, 5}) s.Set(9, copy, bit, false, 0.0);
    for (int bit : {0, 2}) s.Set(9, copy, bit, true, 0.1);
  }
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Lines, (std::vector<std::string>{"LINE ONE", "LINE TWO", ""}));
  EXPECT_NEAR(d.Confidence[1][0], 0.55, 0.01);
  EXPECT_GT(d.Confidence[1][1], 0.999f);
}

TEST(RobustRules, TheDigitsAfterALostFiguresShiftCarryTheDoubtOfTheRow)
{
  // Both copies of the figures shift silent: an erasure mark, then the
  // digits chosen by their meanings in both rows, at the odds of the row; a
  // space is the same in both rows.
  const std::string text = "POSITION 35 12N\n";
  TStream s(text, TService::English);
  const std::size_t shift = text.find('3') + 1;
  ASSERT_EQ(s.Dx[s.Start + shift], CodeFigures);
  for (int copy : {0, 1})
    for (int bit = 0; bit < 7; ++bit) s.Set(shift, copy, bit, false, 0.0);
  const TDecoded d = Decode(s.Soft);
  ASSERT_EQ(d.Lines[0], "POSITION *35 12N");
  const std::vector<float>& c = d.Confidence[0];
  EXPECT_EQ(c[9], 0.0f);
  EXPECT_GT(c[10], 0.5f);
  EXPECT_LT(c[10], 0.95f);
  EXPECT_GT(c[12], 0.999f);  // the space
}

TEST(RobustRules, PhasingPutsLettersBackWhenTheLettersShiftIsLost)
{
  // Figures, then phasing in the middle of the traffic, then a message whose
  // letters shift is lost in both copies.
  TStream s(Codes("SERIAL 123\n", TService::English), TService::English, 6, false, 0);
  const std::size_t next = s.Dx.size() + 6 - s.Start;  // the letters shift after the phasing
  s.Phasing(6);
  const auto codes = Codes("TO ALL SHIPS\n", TService::English);
  ASSERT_EQ(codes[0], CodeLetters);
  s.Append(codes);
  s.Append(std::vector<uint8_t>(4, CodeSync2));
  for (int copy : {0, 1})
    for (int bit = 0; bit < 7; ++bit) s.Set(next, copy, bit, false, 0.0);
  // The lost shift is an erasure (nothing tells it was a shift), the text
  // after it letters.
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Lines, (std::vector<std::string>{"SERIAL 123", "*TO ALL SHIPS", ""}));
  EXPECT_EQ(d.SyncChanges, 1u);
}

TEST(RobustRules, ADeepFadeKeepsSynchronisationAndMarksWhatBothCopiesLost)
{
  const std::string text =
      "SEA AREA FORTIES VIKING AND NORTH UTSIRE WESTERLY GALES EXPECTED SOON\n"
      "VISIBILITY MODERATE OR GOOD IN SHOWERS THEN BECOMING POOR LATER TONIGHT\n";
  TStream s(text, TService::English);
  const std::size_t from = s.Copy(30, 0) + 3, to = from + 5 * 14;  // five character times of silence
  std::fill(s.Soft.begin() + static_cast<long>(from), s.Soft.begin() + static_cast<long>(to), 0.0);
  // Characters without a whole copy outside the silence are erased; the
  // others are read from that copy.
  auto whole = [&](std::size_t bit) { return bit + 7 <= from || bit >= to; };
  std::string want = text;
  for (std::size_t i = 0; i < text.find('\n'); ++i)
    if (!whole(s.Copy(i + 1, 0)) && !whole(s.Copy(i + 1, 1))) want[i] = '*';
  ASSERT_EQ(std::count(want.begin(), want.end(), '*'), 3);
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Utf8(), want + "\n");
  EXPECT_EQ(d.SyncChanges, 1u);  // found once, never lost
  EXPECT_EQ(d.Confidence[0][want.find('*')], 0.0f);
  ExpectOneConfidencePerCharacter(d);
}

TEST(RobustRules, ASlipOfOneOrTwoBitsMovesTheAlignmentOnce)
{
  // One or two bits lost from the middle of the message: the decoder moves to
  // the alignment that fits (not first to the wrong neighbour), and only the
  // characters whose copies lie on both sides of the slip may suffer.
  std::string text;
  for (int i = 0; i < 4; ++i) text += "LINE " + std::to_string(i) + " OF A WEATHER BULLETIN FOR THE SEA AREAS\n";
  for (int lost : {1, 2}) {
    TStream s(text, TService::English);
    const auto at = static_cast<long>(s.Copy(text.size() / 2, 0) + 3);
    s.Soft.erase(s.Soft.begin() + at, s.Soft.begin() + at + lost);
    const TDecoded d = Decode(s.Soft);
    EXPECT_EQ(d.SyncChanges, 2u) << lost;  // found, then moved once
    const std::string got = d.Utf8();
    const auto [sameEnd, _] = std::mismatch(text.begin(), text.end(), got.begin(), got.end());
    const auto [sameTail, __] = std::mismatch(text.rbegin(), text.rend(), got.rbegin() + 1, got.rend());
    EXPECT_GE((sameEnd - text.begin()) + (sameTail - text.rbegin()) + 3, static_cast<long>(text.size())) << lost << "\n" << got;
  }
}

TEST(RobustRules, ALongMessageAtThreeDecibelsHasNoFalseSlips)
{
  std::string text;
  for (int i = 0; i < 30; ++i) text += "VESSELS ARE REQUESTED TO KEEP CLEAR OF POSITION 5" + std::to_string(i % 10) + "-12N\n";
  const TStream s(text, TService::English);
  std::vector<uint8_t> bits;
  for (double v : s.Soft) bits.push_back(v > 0.0);
  test::TSoftChannel ch;
  ch.EbN0Db = 3.0;
  ch.Seed = 11;
  const TDecoded d = Decode(test::SoftBits(bits, ch));
  EXPECT_EQ(d.SyncChanges, 1u);
  ExpectOneConfidencePerCharacter(d);
}

TEST(RobustRules, TheRowPriorRestoresTheFirstByteOfAKanji)
{
  // The first byte of 京 (0x35) and the value 0x2D, which is no row, differ
  // in data bits 4 and 3. Both copies favour 0x2D by odds of e^(4·0.35): a
  // byte alone would be read as 0x2D, the first byte of a pair is a row.
  const std::string text = "東京湾　浮標消灯中\n";
  TStream s(text, TService::Japanese);
  ASSERT_EQ(s.Dx[s.Start + 2], 0x35);
  for (int copy : {0, 1}) {
    s.Set(2, copy, 4, false, 0.35);
    s.Set(2, copy, 3, true, 0.35);
  }
  const TDecoded d = Decode(s.Soft);
  EXPECT_EQ(d.Utf8(), text + "\n");
  EXPECT_NEAR(d.Confidence[0][1], 0.972, 0.005);
}

TEST(RobustRules, JapaneseJoinedInTheMiddleOfAPairIsPairedAgain)
{
  // The first byte of 東 is lost after the phasing: the pairing is wrong
  // until the bytes show it, then one geta mark stands for the lost byte, and
  // the characters printed with the wrong pairing carry no confidence.
  const std::string text = "東京湾　浮標消灯中　付近航行の船舶は注意されたい。\n";
  auto codes = Codes(text, TService::Japanese);
  codes.erase(codes.begin());
  const TDecoded d = Decode(TStream(codes, TService::Japanese).Soft);
  const std::string& line = d.Lines[0];
  const std::size_t geta = line.find(JapaneseErasure);
  ASSERT_NE(geta, std::string::npos) << d.Utf8();
  ASSERT_EQ(geta % 2, 0u);
  const std::string rest = Cp932ToUtf8(line.substr(geta + 2)) + "\n";
  ASSERT_LE(rest.size(), text.size());
  EXPECT_EQ(rest, text.substr(text.size() - rest.size()));
  EXPECT_EQ(line.find(JapaneseErasure, geta + 2), std::string::npos);
  EXPECT_EQ(geta / 2, 8u);  // the evidence against the pairing grew for eight characters
  for (std::size_t i = 0; i <= geta / 2; ++i) EXPECT_EQ(d.Confidence[0][i], 0.0f) << i << " " << d.Utf8();
  EXPECT_GT(d.Confidence[0][geta / 2 + 1], 0.99f);
}

TEST(RobustRules, AcrossAGapAndAChangeOfServiceOrPolarity)
{
  struct TPart {
    TService Service;
    bool Inverted;
    std::string Text;
  };
  struct TCase {
    TPart First, Second;
    bool Gap;  // the input breaks off right after the first one's last character
  } cases[] = {
      {{TService::English, false, "GALE WARNING NR 4\n"}, {TService::Japanese, false, "気象警報　強風\n"}, false},
      {{TService::Japanese, true, "航行警報　浮標消灯\n"}, {TService::English, false, "BUOY UNLIT\n"}, false},
      {{TService::English, false, "GALE WARNING NR 4\n"}, {TService::English, true, "SEA ROUGH\n"}, false},
      {{TService::English, false, "GALE WARNING NR 4"}, {TService::English, false, "SEA ROUGH\n"}, true},
  };
  for (const TCase& c : cases) {
    const auto codes = Codes(c.First.Text, c.First.Service);
    TStream a(codes, c.First.Service, 6, c.First.Inverted, c.Gap ? 0 : 4);
    if (c.Gap) a.Soft.resize(a.Copy(codes.size() - 1, 1) + a.Unit());
    const TStream b(c.Second.Text, c.Second.Service, 6, c.Second.Inverted);
    std::vector<double> soft = a.Soft;
    soft.resize(soft.size() + 3, 0.0);  // off the first one's grid
    soft.insert(soft.end(), b.Soft.begin(), b.Soft.end());
    const TDecoded d = Decode(soft, c.Gap ? a.Soft.size() : 0);
    EXPECT_EQ(d.Utf8(), c.First.Text + (c.Gap ? "\n" : "") + c.Second.Text + "\n") << c.First.Text << c.Second.Text;
    EXPECT_EQ(d.EngMode, c.Second.Service == TService::English);
    EXPECT_EQ(d.Inverted, c.Second.Inverted);
    ExpectOneConfidencePerCharacter(d);
  }
}

}  // namespace
}  // namespace brontel
