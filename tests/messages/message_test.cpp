// The error estimate of a message and its characters' confidences.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "messages/message.h"
#include "messages/repair.h"

namespace brontel::msg {
namespace {

TEST(Message, ErrorEstimateFromTheConfidences)
{
  // With a confidence for every character: the expected share of wrong
  // characters, 1 − p each, an erasure, a character the service cannot send
  // and a lost one wrong whatever. Otherwise the count of those.
  const struct {
    const char* Text;
    std::vector<float> Confidence;
    int Lost;
    double Cer;
  } cases[] = {
      {"AB*D", {0.9f, 0.8f, 0.0f, 1.0f}, 0, (0.1 + 0.2 + 1.0) / 4},
      {"AB\nC#", {0.5f, 1.0f, 1.0f, 1.0f}, 0, (0.5 + 1.0) / 4},
      {"AB*D", {0.9f, 0.8f, 1.0f, 1.0f}, 6, (0.1 + 0.2 + 1.0 + 6) / 10},
      {"AB*D", {}, 6, 7.0 / 10},
      {"AB*D", {0.9f, 0.8f, 0.0f}, 0, 1.0 / 4},
      {"AB*D", {0.9f, 0.8f, 0.0f, 1.0f, 1.0f}, 0, 1.0 / 4},
      {"", {}, 0, 0.0},
  };
  for (const auto& c : cases) {
    TMessage m;
    m.Text = c.Text;
    m.Confidence = c.Confidence;
    if (c.Lost > 0) m.Gaps = {{2, c.Lost, false}};
    Measure(m);
    EXPECT_NEAR(m.Cer, c.Cer, 1e-6) << c.Text << " " << c.Confidence.size();
  }
}

TEST(Message, CountsOfWhatTheServiceCannotSend)
{
  // English: A-Z, 0-9, space and - ? : ( ) . , = / + only; a carriage return
  // is no character. Japanese: two-byte codes of the JIS X 0208 rows (lead
  // bytes 81-84, 88-9F, E0-EA; trail bytes 40-FC but 7F).
  const struct {
    TService Service;
    const char* Text;
    int Doubtful, Chars, Erasures, Suspicious;
  } cases[] = {
      {TService::English, "AB*D\nE#", 0, 6, 1, 1},
      {TService::English, "ab\rZ09", 0, 5, 0, 2},
      {TService::English, " -?:().,=/+", 0, 11, 0, 0},
      {TService::English, "GALE *", 2, 6, 1, 2},
      {TService::English, "GALE *", 9, 6, 1, 5},
      {TService::English, "GALE *", -4, 6, 1, 0},
      {TService::Japanese,
       "\x81\x40\x84\x40\x85\x40\x87\x40\x88\x9F\x9F\x40\xE0\x40\xEA\xA4\xEB\x40\x88\x3F\x88\x7F\x88\xFC"
       "\x88\xFD" "A\x81\xAC",
       0, 15, 1, 7},
  };
  for (const auto& c : cases) {
    TMessage m;
    m.Service = c.Service;
    m.Text = c.Text;
    m.Gaps = {{0, -5, false}};  // nothing counted lost for a negative estimate
    Measure(m, c.Doubtful);
    EXPECT_EQ(std::tuple(m.Chars, m.Erasures, m.Suspicious, m.Lost), std::tuple(c.Chars, c.Erasures, c.Suspicious, 0))
        << c.Text << " " << c.Doubtful;
    EXPECT_DOUBLE_EQ(m.Cer, double(c.Erasures + c.Suspicious) / c.Chars) << c.Text;
  }

  // Characters sent while the decoder was out of step: 100 / 14 a second in
  // English, 100 / 40 in Japanese, to the nearest.
  EXPECT_EQ(LostChars(TService::English, 7.0), 50);
  EXPECT_EQ(LostChars(TService::English, 1.0), 7);
  EXPECT_EQ(LostChars(TService::Japanese, 4.0), 10);
  EXPECT_EQ(LostChars(TService::Japanese, 1.0), 3);
  EXPECT_EQ(LostChars(TService::Japanese, 0.3), 1);
  EXPECT_EQ(LostChars(TService::English, 0.0), 0);
  EXPECT_EQ(LostChars(TService::English, -3.0), 0);
  EXPECT_EQ(LostChars(TService::English, std::nan("")), 0);
}

TEST(Message, TheCharactersAfterAGapAreDoubtedToTheEndOfTheLine)
{
  // A gap inside a line and one that took its line end.
  const std::vector<TGap> gaps{{1, 4, false}, {5, 2, true}};
  const std::vector<TUnit> units = ToUnits("AB\nCD\nEF", gaps);
  std::vector<int> doubt;
  for (const TUnit& u : units) doubt.push_back(u.Kind == TUnitKind::Gap ? -u.Lost : u.Doubt);
  EXPECT_EQ(doubt, (std::vector<int>{0, -4, 1, 0, 0, 0, -2, 1, 2}));
  std::string text;
  std::vector<TGap> back;
  FromUnits(units, text, back);
  EXPECT_EQ(text, "AB\nCD\nEF");
  EXPECT_EQ(back, gaps);
}

TEST(Message, ConfidencesStayWithTheirCharacters)
{
  // Through units and back, and through a repair taking a character from the
  // other copy: one confidence per character, each the one it came with.
  const std::vector<TGap> gaps{{3, 5, false}};
  std::vector<TUnit> units = ToUnits("AB\n\x93\x8C*", gaps, std::vector<float>{0.5f, 0.6f, 0.7f, 0.0f});
  std::string text;
  std::vector<TGap> back;
  std::vector<float> confidence;
  FromUnits(units, text, back, &confidence);
  EXPECT_EQ(text, "AB\n\x93\x8C*");
  EXPECT_EQ(back, gaps);
  EXPECT_EQ(confidence, (std::vector<float>{0.5f, 0.6f, 0.7f, 0.0f}));

  TMessage a, b;
  a.Text = "WIND N* 6";
  a.Confidence = {1, 1, 1, 1, 1, 0.9f, 0, 1, 0.8f};
  b.Text = "WIND NW 6";
  b.Confidence = {1, 1, 1, 1, 1, 1, 0.7f, 1, 1};
  Measure(a);
  Measure(b);
  const TMessage m = Merge(a, b);
  EXPECT_EQ(m.Text, "WIND NW 6");
  ASSERT_EQ(m.Confidence.size(), 9u);
  EXPECT_EQ(m.Confidence[6], 0.7f);
}

}  // namespace
}  // namespace brontel::msg
