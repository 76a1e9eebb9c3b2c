// The error estimate of a message and its characters' confidences.
#include <gtest/gtest.h>

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
