// Repair of a message from its copies: what one copy lost filled from
// another, which copy's text is shown, and which character wins where two
// copies differ.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace brontel::msg
