// Lost sound as the assembler learns of it: the open message marked where the
// sound broke off, its lost characters counted, closed by a long loss.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/assembler.h"

namespace brontel::msg {
namespace {

TEST(AssemblerGap, LostSoundMarksCountsOrClosesTheOpenMessage)
{
  struct TCase {
    const char* Name;
    double Seconds;      // sound lost after the second line
    bool OutOfSync;      // the decoder lost synchronisation (for 2 s) before the sound was lost
    bool Closes;         // the loss alone closes the message
    int Lost;            // characters counted lost
  };
  const double english = 100.0 / 14.0;  // characters per second
  const TCase cases[] = {
      {"short loss", 10.0, false, false, static_cast<int>(10.0 * english + 0.5)},
      {"out of sync first: both count, the loss is one break", 10.0, true, false,
       static_cast<int>(10.0 * english + 0.5) + static_cast<int>(2.0 * english + 0.5)},
      {"as long as the time-out", 120.0, false, true, static_cast<int>(120.0 * english + 0.5)},
      {"far longer: only what the time-out would wait for", 3600.0, false, true,
       static_cast<int>(120.0 * english + 0.5)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TMessage> out;
    TMessageAssembler a([&](TMessage&& m) { out.push_back(std::move(m)); });
    a.Line("ZCZC OA01", 1.0);
    a.Line("FIRST LINE", 2.0);
    double t = 2.5;
    if (c.OutOfSync) {
      a.SyncChanged(false, t);
      t += 2.0;
    }
    a.Gap(t, c.Seconds);
    t += c.Seconds;
    EXPECT_EQ(out.size(), c.Closes ? 1u : 0u);
    // Back in step after the loss; a 7 s loss of sync before it plus the lost
    // sound must not count as the end of the emission.
    a.SyncChanged(true, t + 1.0);
    a.Tick(t + 7.0);
    a.Line("LAST LINE", t + 8.0);
    a.Line("NNNN", t + 9.0);
    a.Finish(t + 10.0);
    ASSERT_FALSE(out.empty());
    const TMessage& m = out[0];
    EXPECT_EQ(m.Id, "OA01");
    ASSERT_EQ(m.Gaps.size(), 1u) << m.Text;
    if (c.Closes) {
      EXPECT_EQ(m.Text, "FIRST LINE");
      EXPECT_FALSE(m.Trailer);
      EXPECT_EQ(m.End, 2.0) << "it ends with its last line";
      EXPECT_EQ(out.size(), 2u) << "what follows is text of its own";
    } else {
      EXPECT_EQ(out.size(), 1u);
      EXPECT_EQ(m.Text, "FIRST LINE\nLAST LINE");
      EXPECT_TRUE(m.Trailer);
      EXPECT_EQ(m.Gaps[0].Offset, std::string("FIRST LINE").size());
    }
    // The loss of sync that came first and the lost sound are one gap; the
    // time it took to get back in step after the loss (1 s) adds to it.
    const int resync = c.OutOfSync && !c.Closes ? static_cast<int>(1.0 * english + 0.5) : 0;
    EXPECT_EQ(m.Gaps[0].Lost, c.Lost + resync);
    EXPECT_EQ(m.Lost, m.Gaps[0].Lost);
  }
}

}  // namespace
}  // namespace brontel::msg
