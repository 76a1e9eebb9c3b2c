// Repair of a message from its copies: what one copy lost filled from
// another, which copy's text is shown, and which character wins where two
// copies differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "messages/repair.h"
#include "store_support.h"

namespace brontel::msg {
namespace {

using test::Received;

// Two copies of a message, each with a different part lost, make it whole.
TEST(Repair, ErasuresAndGapsFilledFromTheOtherCopy)
{
  const std::string whole = "WIND NW 6 TO 7\nSEA ROUGH\nVISIBILITY GOOD";
  TMessage a, b;
  a.Text = "WIND N* 6 TO 7\nSEA ROUGH\nVISIB";
  a.Gaps = {{a.Text.size(), 12, false}};  // the rest lost out of synchronisation
  b.Text = "WIND NW 6 T\nUGH\nV*SIBILITY GOOD";
  b.Gaps = {{11, 8, true}};  // lost across a line end
  Measure(a);
  Measure(b);
  const TMessage m = Merge(a, b);
  EXPECT_EQ(m.Text, whole);
  EXPECT_TRUE(m.Gaps.empty());
  EXPECT_EQ(m.Erasures, 0);
  EXPECT_EQ(m.Cer, 0.0);
  EXPECT_EQ(Merge(b, a).Text, whole);

  // Where both copies have an erasure, or disagree, nothing is invented.
  TMessage c, d;
  c.Text = "GALE * IMMINENT";
  d.Text = "GALE * IMMINENX";
  Measure(c);
  Measure(d);
  EXPECT_EQ(Merge(c, d).Text, "GALE * IMMINENT");
}

TEST(Repair, TheTextShownIsTheMostCompleteCopy)
{
  const std::vector<std::string> whole = {"ZCZC OA12", "NAVAREA XI 123/26", "GALE WARNING", "NNNN"};
  const std::string text = "NAVAREA XI 123/26\nGALE WARNING";
  struct TCase {
    const char* Name;
    std::vector<std::vector<std::string>> Copies;
    std::string Text;
    TStatus Status;
  };
  const TCase cases[] = {
      {"cut short after 9 characters, then complete copies",
       {{"ZCZC OA12", "NAVAREA X"}, whole, whole, whole}, text, TStatus::Complete},
      {"faded into noise, then complete copies",
       {{"ZCZC OA12", "NAVZRE", " XI 1Q3/2T"}, whole, whole}, text, TStatus::Complete},
      {"a complete copy with an erasure, then one cut short without",
       {{"ZCZC OA12", "NAVAREA X* 123/26", "GALE WARNING", "NNNN"}, {"ZCZC OA12", "NAVAREA XI"}}, text,
       TStatus::Complete},
      {"two copies cut short: the one that got further",
       {{"ZCZC OA12", "GALE WARN"}, {"ZCZC OA12", "GALE WARNING SEA AREA"}}, "GALE WARNING SEA AREA",
       TStatus::NoTrailer},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMessage shown = Received(c.Copies[0]);
    for (std::size_t i = 1; i < c.Copies.size(); ++i) shown = Merge(shown, Received(c.Copies[i]));
    EXPECT_EQ(shown.Text, c.Text);
    EXPECT_EQ(StatusOf(shown), c.Status);
    EXPECT_EQ(shown.Copies, static_cast<int>(c.Copies.size()));
    EXPECT_EQ(shown.Erasures, 0);
  }
}

TEST(Repair, WhereCopiesDifferTheCharacterReceivedFurtherFromAGapWins)
{
  // After a gap the decoder may still be in the wrong letters/figures shift.
  struct TCase {
    const char* Name;
    std::string A;
    std::vector<TGap> AGaps;
    std::string B;
    std::vector<TGap> BGaps;
    std::string Text;
  };
  const TCase cases[] = {
      {"just after a gap against clear of one", "ABCXEF", {{2, 3, false}}, "ABQRSCDEF", {}, "ABQRSCDEF"},
      {"clear of a gap against just after one", "ABQRSCDEF", {}, "ABCXEF", {{2, 3, false}}, "ABQRSCDEF"},
      {"both after a gap, this copy's further", "ABCDX", {{1, 1, false}}, "ABCDY", {{3, 1, false}}, "ABCDX"},
      {"both after a gap, the other copy's further", "ABCDY", {{3, 1, false}}, "ABCDX", {{1, 1, false}}, "ABCDX"},
      {"a line end ends the doubt", "AB\nCX", {{1, 2, false}}, "AB\nCY", {}, "AB\nCX"},
      // Copies align from their starts: the other copy's one line is not
      // taken for the second, damaged time this one has it.
      {"a line said twice against once", "GALE\nG*LE", {}, "GALE", {}, "GALE\nG*LE"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string text;
    std::vector<TGap> gaps;
    FromUnits(FillFrom(ToUnits(c.A, c.AGaps), ToUnits(c.B, c.BGaps)), text, gaps);
    EXPECT_EQ(text, c.Text);
  }
}

TEST(Repair, TheBaseCopyIsTheOneWithTheTrailerThenTheMostGoodCharactersThenTheFewestErasures)
{
  struct TFields {
    bool Trailer;
    int Chars, Erasures, Suspicious;
    double Cer;
  };
  auto message = [](const TFields& f) {
    TMessage m;
    m.Trailer = f.Trailer;
    m.Chars = f.Chars, m.Erasures = f.Erasures, m.Suspicious = f.Suspicious, m.Cer = f.Cer;
    return m;
  };
  const struct {
    TFields A, B;
    int Better;  // 1: a, -1: b, 0: neither
  } cases[] = {
      {{true, 10, 5, 0, 0.5}, {false, 20, 0, 0, 0.0}, 1},   // the trailer first
      {{true, 10, 1, 0, 0.3}, {true, 10, 0, 2, 0.0}, 1},    // 9 good against 8
      {{true, 10, 0, 3, 0.0}, {true, 9, 0, 0, 0.3}, -1},    // 7 good against 9
      {{true, 12, 2, 0, 0.0}, {true, 10, 0, 0, 0.3}, -1},   // 10 good each: fewer erasures
      {{false, 10, 0, 2, 0.0}, {false, 10, 1, 1, 0.3}, 1},  // 8 good each: fewer erasures
      {{true, 10, 1, 0, 0.2}, {true, 10, 1, 0, 0.1}, -1},   // then the error estimate
      {{true, 10, 1, 0, 0.1}, {true, 10, 1, 0, 0.1}, 0},
  };
  for (const auto& c : cases) {
    const TMessage a = message(c.A), b = message(c.B);
    EXPECT_EQ(std::pair(Better(a, b), Better(b, a)), std::pair(c.Better > 0, c.Better < 0)) << c.A.Chars << c.B.Chars;
  }

  // Copies that differ in a character both received clearly: one with an
  // erasure, the other with one character the decoder doubted. Equally many
  // good characters, so the copy without the erasure is the base and its
  // character is the one shown, whichever copy came first.
  TMessage erased, doubted;
  erased.Text = "GALE F*RCE 8";
  doubted.Text = "GALE FORCE 9";
  Measure(erased);
  Measure(doubted, 1);
  ASSERT_EQ(erased.Chars - erased.Erasures, doubted.Chars - doubted.Suspicious);
  EXPECT_EQ(Merge(erased, doubted).Text, "GALE FORCE 9");
  EXPECT_EQ(Merge(doubted, erased).Text, "GALE FORCE 9");

  // A copy cut short with no erasure and a complete one with three: the
  // complete one is shown, its erasures filled as far as the other reached.
  TMessage cut = Received({"ZCZC OA12", "GALE WARNING"}), complete = Received({"ZCZC OA12", "G*LE W*RNING *", "NNNN"});
  complete.StoreId = 7, complete.Copies = 2;
  for (const bool cutFirst : {true, false}) {
    const TMessage m = cutFirst ? Merge(cut, complete) : Merge(complete, cut);
    EXPECT_EQ(std::tuple(m.Text, StatusOf(m), m.Erasures, m.Repeat), std::tuple("GALE WARNING *", TStatus::Complete, 1, true));
    EXPECT_EQ(std::pair(m.Copies, m.StoreId), cutFirst ? std::pair(2, int64_t{0}) : std::pair(3, int64_t{7}));
  }
}

TEST(Repair, CopiesTooLongToAlignInTheMemoryAllowedLeaveTheBaseAsItIs)
{
  // 6500 characters each: 42 million cells to align, past the 40 million
  // allowed. The copy with the trailer stands, its erasure unfilled.
  const std::string text(6500, 'A');
  TMessage a, b;
  a.Text = "*" + text.substr(1), a.Trailer = true;
  b.Text = text;
  Measure(a);
  Measure(b);
  EXPECT_EQ(Merge(a, b).Text, a.Text);
  EXPECT_EQ(Merge(b, a).Text, a.Text);
}

TEST(Repair, WhatBothCopiesLostStaysLost)
{
  TMessage a, b;
  a.Text = b.Text = "WIND NW SEA ROUGH";
  a.Gaps = {{7, 5, false}};
  b.Gaps = {{7, 6, false}};
  a.Trailer = b.Trailer = true;
  Measure(a);
  Measure(b);
  const TMessage m = Merge(a, b);
  EXPECT_EQ(m.Text, "WIND NW SEA ROUGH");
  ASSERT_EQ(m.Gaps.size(), 1u) << "one gap, not two, and nothing invented for it";
  EXPECT_EQ(m.Gaps[0].Offset, 7u);
  EXPECT_GT(m.Lost, 0);
  EXPECT_GT(m.Cer, 0.0);
}

// A robust copy: `text` as received, every character sure but those at the
// given character indexes, whose confidence is given.
TMessage Copy(const std::string& text, const std::vector<std::pair<std::size_t, float>>& unsure, bool trailer = true)
{
  TMessage m;
  m.Text = text;
  m.Trailer = trailer;
  m.Decoder = "robust";
  for (const char c : text) m.Confidence.push_back(c == '\n' ? -2.0f : 0.995f);
  std::erase(m.Confidence, -2.0f);
  for (const auto& [at, p] : unsure) m.Confidence.at(at) = p;
  Measure(m);
  return m;
}

TEST(Repair, WhereCopiesDifferTheirConfidencesDecide)
{
  const std::string sent = "WHALE SIGHTINGS TO 5 NM\nKEEP 500 FT, REPORT";
  // The robust decoder's confidences in the wrong characters it printed are low.
  const TMessage one = Copy("WHALE SIGHTINGS TO 5 NM\nKEEP 500 FTN REPGRT", {{34, 0.55f}, {39, 0.4f}});
  const TMessage two = Copy("WHALE SIGHTINGS  O 5 NM\nKEEP 500 FT, REPORT", {{16, 0.3f}});
  // Two copies agreeing at middling confidence outweigh one surer copy that
  // differs; pairwise "the higher confidence wins" would take the latter.
  const TMessage agreeA = Copy("GALE 8 IN SEA AREA FORTIES", {{5, 0.7f}});
  const TMessage agreeB = Copy("GALE 8 IN SEA AREA FORTIES", {{5, 0.7f}});
  const TMessage surer = Copy("GALE 9 IN SEA AREA FORTIES", {{5, 0.9f}});
  struct TCase {
    const char* Name;
    std::vector<TMessage> Copies;
    std::string Text;
    bool Surer;  // the repaired text is estimated better than every complete copy
  };
  const TCase cases[] = {
      {"errors in different places", {one, two}, sent, true},
      {"the same, received the other way round", {two, one}, sent, true},
      {"two agreeing against one surer", {surer, agreeA, agreeB}, "GALE 8 IN SEA AREA FORTIES", true},
      // Evidence against it leaves the character less sure than the surer copy alone.
      {"one surer against one less sure", {agreeA, surer}, "GALE 9 IN SEA AREA FORTIES", false},
      {"a character one copy inserted",
       {Copy("GALE 8 INN SEA", {{8, 0.6f}}), Copy("GALE 8 IN SEA", {}), Copy("GALE 8 IN SEA", {})}, "GALE 8 IN SEA",
       true},
      {"a character the copy repaired dropped",
       {Copy("GALE 8 I SEA AREA", {}), Copy("GALE 8 IN SEA", {}, false), Copy("GALE 8 IN SEA", {}, false)},
       "GALE 8 IN SEA AREA", true},
      {"a cut-short sure copy still corrects the complete one",
       {Copy("GALE 9 IN SEA", {{5, 0.2f}}), Copy("GALE 8 IN", {}, false)}, "GALE 8 IN SEA", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TMessage m = MergeCopies(c.Copies);
    EXPECT_EQ(m.Text, c.Text);
    EXPECT_EQ(m.Copies, static_cast<int>(c.Copies.size()));
    ASSERT_EQ(m.Confidence.size(), c.Text.size() - static_cast<std::size_t>(std::count(c.Text.begin(), c.Text.end(), '\n')));
    // The estimate is that of the repaired text.
    EXPECT_EQ(std::all_of(c.Copies.begin(), c.Copies.end(),
                          [&](const TMessage& copy) { return !copy.Trailer || m.Cer < copy.Cer; }),
              c.Surer)
        << m.Cer;
    EXPECT_TRUE(m.Trailer);
  }
}

TEST(Repair, ACharacterOnlyOneCopyHasAsSureAsItsAbsenceIsLeftAsTheBaseCopyHasIt)
{
  // The copy with the trailer is the base; the other received one character
  // more, or one less, exactly as surely as "none" is believed.
  TRepairModel model;
  model.AbsentConfidence = 0.75;
  const std::pair<const char*, const char*> cases[] = {{"GALE 8 IN SEA", "GALE 8 INN SEA"},
                                                        {"GALE 8 INN SEA", "GALE 8 IN SEA"}};
  for (const auto& [base, other] : cases) {
    SCOPED_TRACE(base);
    const std::vector<TMessage> copies = {Copy(base, {{8, 0.75f}}), Copy(other, {{8, 0.75f}}, false)};
    EXPECT_EQ(MergeCopies(copies, model).Text, base);
  }
}

TEST(Repair, TwoKanjiAreTwoCharactersAndAFullWidthLetterIsItsHalfWidthOne)
{
  // 東京湾 and 東北湾: the surer of the two middle characters is shown.
  // ＧＡＬＥ received as GALE and as full width: the same letters, one word.
  TMessage a, b, c, d;
  a.Text = "\x93\x8c\x8b\x9e\x98\x70", a.Confidence = {0.995f, 0.6f, 0.995f};
  b.Text = "\x93\x8c\x96\x6b\x98\x70", b.Confidence = {0.995f, 0.9f, 0.995f};
  c.Text = "\x82\x66\x82\x60\x82\x6b\x82\x64 8", c.Confidence = {0.9f, 0.9f, 0.9f, 0.9f, 0.995f, 0.995f};
  d.Text = "GALE 8", d.Confidence = {0.9f, 0.9f, 0.9f, 0.9f, 0.995f, 0.995f};
  for (TMessage* m : {&a, &b, &c, &d}) m->Trailer = true, m->Service = TService::Japanese, Measure(*m);
  EXPECT_EQ(MergeCopies(std::vector{a, b}).Text, b.Text);
  EXPECT_EQ(MergeCopies(std::vector{b, a}).Text, b.Text);
  const TMessage m = MergeCopies(std::vector{c, d});
  EXPECT_EQ(m.Text, c.Text);
  ASSERT_EQ(m.Confidence.size(), 6u);
  EXPECT_GT(m.Confidence[0], 0.99f) << "two copies agree";
}

TEST(Repair, AnExactCopyWithoutConfidencesStillTakesPart)
{
  TMessage exact;
  exact.Text = "GALE 9 IN SEA";
  exact.Trailer = true;
  Measure(exact);
  // Its characters count as fairly sure: a very unsure robust character
  // gives way to it, a sure one does not; where it has a say, the repaired
  // character's confidence is unknown, so the message has none.
  for (const auto& [p, text] : {std::pair{0.2f, "GALE 9 IN SEA"}, std::pair{0.999f, "GALE 8 IN SEA"}}) {
    const TMessage m = MergeCopies(std::vector{Copy("GALE 8 IN SEA", {{5, p}}), exact});
    EXPECT_EQ(m.Text, text) << p;
    EXPECT_TRUE(m.Confidence.empty());
  }
}

}  // namespace
}  // namespace brontel::msg
