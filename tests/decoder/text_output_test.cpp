#include <gtest/gtest.h>

#include "decoder/text_output.h"
#include "support/harness.h"

namespace brontel {
namespace {

TEST(TextOutput, EditShowsTheEndOfTheLineInPairs)
{
  TTextStore t;
  ShowEditLine(t, std::string(100, 'A'));
  EXPECT_EQ(t.EditText.size(), 48u);
  std::string line49 = "X" + std::string(48, 'B');
  ShowEditLine(t, line49);
  EXPECT_EQ(t.EditText, std::string(47, 'B'));
  ShowEditLine(t, "SHORT");
  EXPECT_EQ(t.EditText, "SHORT");
}

TEST(TextOutput, MemoKeepsTheNewestBytes)
{
  TTextStore t;
  test::TRecordingSink sink;
  t.Sink = &sink;
  const std::string line(998, 'L');  // 1000 bytes with its line end
  for (int i = 0; i < 64; ++i) AppendMemoLine(t, line);
  EXPECT_EQ(t.MemoText.size(), 63998u);
  EXPECT_EQ(sink.Memo, t.MemoText);
  EXPECT_EQ(sink.Lines.size(), 64u);

  // Growing to 64010 bytes drops the first 12.
  TTextStore u;
  u.MemoText = std::string(63000, 'a');
  AppendMemoLine(u, std::string(1008, 'b'));
  EXPECT_EQ(u.MemoText.size(), 63998u);
  EXPECT_EQ(u.MemoText.substr(0, 4), "aaaa");
  EXPECT_EQ(u.MemoText.size() - u.MemoText.find('b'), 1010u);

  // An odd excess is rounded up to a whole pair: 63997 bytes remain.
  TTextStore v;
  v.MemoText = std::string(63997, 'a');
  AppendMemoLine(v, "");
  EXPECT_EQ(v.MemoText.size(), 63997u);
}

TEST(TextOutput, FlushWritesAndClearDiscards)
{
  test::THarness h;
  h.Ch().LineText = "PARTIAL";
  ShowEditLine(h.Rx->Text, h.Ch().LineText);
  ClearLine(*h.Rx, 0);
  EXPECT_TRUE(h.Sink.Lines.empty());
  EXPECT_TRUE(h.Sink.Edit.empty());

  h.Ch().LineText = "KEPT";
  ShowEditLine(h.Rx->Text, h.Ch().LineText);
  FlushLine(*h.Rx, 0);
  ASSERT_EQ(h.Sink.Lines.size(), 1u);
  EXPECT_EQ(h.Rx->Text.MemoText, "KEPT\r\n");
  EXPECT_TRUE(h.Rx->Text.EditText.empty());

  // An empty line writes nothing and leaves the edit alone.
  h.Rx->Text.EditText = "UNTOUCHED";
  const int editUpdates = h.Sink.EditUpdates;
  FlushLine(*h.Rx, 0);
  EXPECT_EQ(h.Sink.Lines.size(), 1u);
  EXPECT_EQ(h.Rx->Text.EditText, "UNTOUCHED");
  EXPECT_EQ(h.Sink.EditUpdates, editUpdates);
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

TEST(TextOutput, ALineThatNeverEndsIsWrittenAtTheLimit)
{
  // Synchronised English text without a line feed: the line is written to the
  // memo when it reaches the limit, and the next one starts empty.
  test::THarness h;
  for (std::size_t i = 0; i < LineLimit + 10; ++i) HandleEngCode(h.Ch(), h.Rx->Text, 0x71);  // 'A'
  ASSERT_EQ(h.Sink.Lines.size(), 1u);
  EXPECT_EQ(h.Sink.Lines[0], std::string(LineLimit, 'A'));
  EXPECT_EQ(h.Ch().LineText, std::string(10, 'A'));
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

TEST(TextOutput, ConfidencesAreWrittenAndEmptiedWithTheirLine)
{
  struct TSink final : TTextSink {
    void LineWritten(std::string_view, std::span<const float> confidence) override
    {
      Written.emplace_back(confidence.begin(), confidence.end());
    }
    std::vector<std::vector<float>> Written;
  } sink;
  TTextStore t;
  t.Sink = &sink;
  std::string line = "AB";
  std::vector<float> confidence{0.5f, 1.0f};
  FlushLine(t, line, confidence);
  confidence = {0.25f};  // an empty line writes nothing, stray confidences go
  FlushLine(t, line, confidence);
  EXPECT_TRUE(confidence.empty());
  line.assign(LineLimit, 'A');  // a line at the limit goes with its confidences
  confidence.assign(LineLimit, 0.75f);
  LineGrew(t, line, confidence);
  EXPECT_TRUE(line.empty() && confidence.empty());
  EXPECT_EQ(sink.Written, (std::vector<std::vector<float>>{{0.5f, 1.0f}, std::vector<float>(LineLimit, 0.75f)}));
}

}  // namespace
}  // namespace brontel
