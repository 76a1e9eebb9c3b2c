#include <gtest/gtest.h>

#include <bit>

#include "decoder/code_table.h"
#include "support/harness.h"

namespace brontel {
namespace {

TEST(CodeTable, HoldsExactlyTheWeightFourCodes)
{
  int withText = 0;
  for (int c = 0; c < 127; ++c) {
    const bool weight4 = std::popcount(static_cast<unsigned>(c)) == 4;
    if (!weight4) {
      EXPECT_TRUE(CodeTable()[0][c].empty()) << c;
      EXPECT_TRUE(CodeTable()[1][c].empty()) << c;
    }
    withText += !CodeTable()[0][c].empty();
  }
  EXPECT_EQ(withText, 34);  // 0x66 is the one weight-4 code without text
  for (int c : {0x4B, 0x56, 0x65, 0x69, 0x6C, 0x66}) EXPECT_TRUE(CodeTable()[1][c].empty()) << c;
  EXPECT_EQ(CodeTable()[0][0x71], "A");
  EXPECT_EQ(CodeTable()[1][0x71], "-");
}

TEST(CodeTable, ShiftsChooseTheRow)
{
  test::THarness h;
  for (uint8_t c : {0x36, 0x17, 0x2D, 0x17}) HandleEngCode(h.Ch(), h.Rx->Text, c);
  EXPECT_EQ(h.Ch().LineText, "5T");
  HandleEngCode(h.Ch(), h.Rx->Text, 0x36);
  HandleEngCode(h.Ch(), h.Rx->Text, 0x74);
  EXPECT_EQ(h.Ch().LineText, "5TBEEP");
  HandleEngCode(h.Ch(), h.Rx->Text, 0x2B);
  HandleEngCode(h.Ch(), h.Rx->Text, 0x1D);
  HandleEngCode(h.Ch(), h.Rx->Text, 0x0F);  // carriage return: nothing
  HandleEngCode(h.Ch(), h.Rx->Text, 0x78);
  HandleEngCode(h.Ch(), h.Rx->Text, 0x33);
  EXPECT_EQ(h.Ch().LineText, "5TBEEP  ");
  HandleEngCode(h.Ch(), h.Rx->Text, 0x1B);
  HandleEngCode(h.Ch(), h.Rx->Text, 0x1B);  // a second line feed writes no blank line
  ASSERT_EQ(h.Sink.Lines.size(), 1u);
  EXPECT_EQ(h.Sink.Lines[0], "5TBEEP  ");
  EXPECT_EQ(h.Ch().Shift, 1);
}

TEST(CodeTable, JisPairsBecomeShiftJis)
{
  EXPECT_EQ(JisToShiftJis(0x30, 0x21), (std::array<uint8_t, 2>{0x88, 0x9F}));
  EXPECT_EQ(JisToShiftJis(0x24, 0x22), (std::array<uint8_t, 2>{0x82, 0xA0}));
  EXPECT_EQ(JisToShiftJis(0x21, 0x21), (std::array<uint8_t, 2>{0x81, 0x40}));
  EXPECT_EQ(JisToShiftJis(0x21, 0x60), (std::array<uint8_t, 2>{0x81, 0x80}));
  EXPECT_EQ(JisToShiftJis(0x5F, 0x21), (std::array<uint8_t, 2>{0xE0, 0x40}));
  EXPECT_EQ(JisToShiftJis(0x7E, 0x7E), (std::array<uint8_t, 2>{0xEF, 0xFC}));
  // Out-of-range values still give two non-zero bytes.
  const auto low = JisToShiftJis(0x00, 0x00);
  EXPECT_NE(low[0], 0);
  EXPECT_NE(low[1], 0);
}

TEST(CodeTable, JapaneseControlValues)
{
  test::THarness h;
  auto feed = [&](std::initializer_list<uint8_t> d) {
    for (uint8_t v : d) HandleJisByte(h.Ch(), h.Rx->Text, v);
  };
  feed({0x30, 0x21, 0x24});  // one character and a held byte
  EXPECT_EQ(h.Ch().LineText, "\x88\x9F");
  feed({0x0A});  // line feed writes the line, the held byte is dropped
  ASSERT_EQ(h.Sink.Lines.size(), 1u);
  EXPECT_EQ(h.Sink.Lines[0], "\x88\x9F");
  EXPECT_EQ(h.Ch().KanjiCount, 0);
  feed({0x24, 0x0D, 0x24, 0x22});  // carriage return drops a held byte too
  EXPECT_EQ(h.Ch().LineText, "\x82\xA0");
  feed({0x04});  // phasing data discards the line without writing it
  EXPECT_TRUE(h.Ch().LineText.empty());
  EXPECT_TRUE(h.Rx->Text.EditText.empty());
  feed({0x21, 0x21, 0x19});
  EXPECT_TRUE(h.Ch().LineText.empty());
  EXPECT_EQ(h.Sink.Lines.size(), 1u);
}

}  // namespace
}  // namespace brontel
