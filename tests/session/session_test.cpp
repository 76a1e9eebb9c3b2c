// The receiver session as every front end uses it: blocks and lost sound in;
// shown text, messages and status out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "session/receiver_session.h"
#include "signal/navtex_signal.h"
#include "support/harness.h"

namespace brontel {
namespace {

// An English emission of `text` at `snrDb` (amplitude 1000) with `lead` s of
// noise before it and 2 s after.
std::vector<int16_t> Emission(const std::string& text, double snrDb, uint32_t seed, double lead = 0.5)
{
  std::vector<uint8_t> codes;
  std::string error;
  EXPECT_TRUE(gen::EnglishCodes(text, codes, error)) << error;
  gen::TFskParams fsk;
  fsk.Amplitude = 1000.0;
  fsk.SnrDb = snrDb;
  fsk.Seed = seed;
  gen::TEmission e;
  e.PhasingSeconds = 3.0;
  std::vector<int16_t> pcm = gen::NoiseOnly(lead, fsk, seed + 100);
  const auto s = gen::ModulateFsk(gen::EmissionBits(codes, e), fsk);
  pcm.insert(pcm.end(), s.begin(), s.end());
  const auto tail = gen::NoiseOnly(2.0, fsk, seed + 200);
  pcm.insert(pcm.end(), tail.begin(), tail.end());
  return pcm;
}

// Collects what the session reports.
struct TEvents final : TSessionListener {
  void MessageDone(const TMessageEvent& e) override
  {
    Messages.push_back(e.Message);
    Stored.push_back(e.Stored);
  }
  void SoundLost(const TGapEvent& e) override { Gaps.push_back(e); }
  void StatusChanged(const TStatusEvent& e) override { Status.push_back(e); }
  void BlockDone(const TBlockEvent& e) override { Ends.push_back(e.End); }
  std::vector<msg::TMessage> Messages;
  std::vector<bool> Stored;
  std::vector<TGapEvent> Gaps;
  std::vector<TStatusEvent> Status;
  std::vector<double> Ends;
};

// Feeds the left-channel samples [from, to) block by block; `each` runs
// before every block with its index among the blocks fed.
template <class F>
void Feed(TReceiverSession& s, const std::vector<int16_t>& pcm, std::size_t from, std::size_t to, F&& each)
{
  std::array<int16_t, BlockSamples> block;
  for (std::size_t start = from, k = 0; start < to; start += FramesPerBlock, ++k) {
    each(k);
    block.fill(0);
    for (std::size_t j = 0; j < FramesPerBlock && start + j < to; ++j) block[2 * j] = pcm[start + j];
    s.ProcessBlock(block);
  }
}

TSessionOptions Beside(TDecoderPath shown, TTextSink* sink)
{
  TSessionOptions o;
  o.Decoder = shown;
  o.RobustBeside = true;
  o.Sink = sink;
  return o;
}

TEST(Session, MessagesComeFromTheRobustPathWhateverIsShownAndAViewSwitchChangesNothing)
{
  // 2 dB: the exact path cannot read it; the robust path can.
  const std::string body = "GALE WARNING SEA AREA FISHER\nWIND NW 8 VEERING N LATER";
  const std::vector<int16_t> pcm = Emission("ZCZC OA07\n" + body + "\nNNNN\n", 2.0, 11);
  std::vector<std::vector<msg::TMessage>> runs;
  for (int switches : {0, 1, 7}) {
    test::TRecordingSink shown;
    TReceiverSession s(Beside(TDecoderPath::Exact, &shown));
    TEvents events;
    s.AddListener(&events);
    std::string error;
    ASSERT_TRUE(s.StartMessages({}, error)) << error;
    EXPECT_EQ(s.MessagePath(), TDecoderPath::Robust);
    const std::size_t blocks = pcm.size() / FramesPerBlock;
    Feed(s, pcm, 0, pcm.size(), [&](std::size_t k) {
      // The view flips at evenly spread blocks, the first mid-message.
      if (switches > 0 && k % (blocks / (switches + 1)) == 0 && k > 0)
        s.SetDecoder(s.Decoder() == TDecoderPath::Exact ? TDecoderPath::Robust : TDecoderPath::Exact);
    });
    s.Finish();
    ASSERT_EQ(events.Messages.size(), 1u) << "switches " << switches;
    const msg::TMessage& m = events.Messages[0];
    EXPECT_EQ(m.Id, "OA07");
    EXPECT_EQ(m.Decoder, "robust");
    EXPECT_EQ(m.Text, body);
    EXPECT_EQ(msg::StatusOf(m), msg::TStatus::Complete);
    runs.push_back(events.Messages);
  }
  for (std::size_t i = 1; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i][0].Text, runs[0][0].Text);
    EXPECT_EQ(runs[i][0].Cer, runs[0][0].Cer);
  }
}

// A front end that shows the robust path and reads nothing of the exact one
// spares the exact chain: the robust text is the same, no exact bits are
// taken, and the exact path decodes once it is shown.
TEST(Session, TheExactChainRunsOnlyOnceSomethingReadsIt)
{
  const std::string first = "FIRST WARNING ONLY THE ROBUST PATH READS";
  const std::string second = "SECOND WARNING BOTH PATHS READ";
  std::vector<int16_t> pcm = Emission("ZCZC OC01\n" + first + "\nNNNN\n", 20.0, 21);
  const std::size_t firstEnd = pcm.size() / FramesPerBlock * FramesPerBlock;
  pcm.resize(firstEnd);
  const std::vector<int16_t> later = Emission("ZCZC OC02\n" + second + "\nNNNN\n", 20.0, 22);
  pcm.insert(pcm.end(), later.begin(), later.end());

  struct TBits final : TSessionListener {
    void BlockDone(const TBlockEvent& e) override { Taken += e.Bits.size(); }
    std::size_t Taken = 0;
  };
  std::vector<std::string> robust;
  for (const bool beside : {true, false}) {
    TSessionOptions o;
    o.Decoder = TDecoderPath::Robust;
    o.ExactBeside = beside;
    TReceiverSession s(o);
    TBits bits;
    s.AddListener(&bits);
    Feed(s, pcm, 0, firstEnd, [](std::size_t) {});
    const std::string exactBefore = s.Receiver().Text.MemoText;
    EXPECT_EQ(bits.Taken > 0, beside);
    EXPECT_EQ(exactBefore.find(first) != std::string::npos, beside) << exactBefore;
    s.SetDecoder(TDecoderPath::Exact);
    Feed(s, pcm, firstEnd, pcm.size(), [](std::size_t) {});
    s.Finish();
    EXPECT_NE(s.Receiver().Text.MemoText.find(second), std::string::npos) << "beside " << beside;
    robust.push_back(s.Receiver().RobustText.MemoText);
  }
  EXPECT_NE(robust[0].find(first), std::string::npos) << robust[0];
  EXPECT_EQ(robust[1], robust[0]);
}

TEST(Session, TenSecondsOfLostSoundMidMessageAreMarkedNotWritten)
{
  const std::string first = "LINE ONE OF THE WARNING IS LONG ENOUGH TO BE CUT";
  const std::string text = "ZCZC OB12\n" + first + "\nLINE TWO OF THE WARNING GOES ON FOR A WHILE\n" +
                           "LINE THREE IS LOST IN THE GAP WHILE THE RECEIVER IS BUSY\n" +
                           "LINE FOUR IS RECEIVED AGAIN AFTER THE GAP\nNNNN\n";
  const std::vector<int16_t> pcm = Emission(text, 30.0, 3);
  const std::size_t cut = 12 * SampleRate, lost = 10 * SampleRate;  // 10 s from 12 s in
  ASSERT_GT(pcm.size(), cut + lost + 5 * SampleRate);

  for (TDecoderPath shown : {TDecoderPath::Exact, TDecoderPath::Robust}) {
    SCOPED_TRACE(shown == TDecoderPath::Robust ? "robust shown" : "exact shown");
    test::TRecordingSink sink;
    TReceiverSession s(Beside(shown, &sink));
    TEvents events;
    s.AddListener(&events);
    std::string error;
    ASSERT_TRUE(s.StartMessages({}, error)) << error;
    Feed(s, pcm, 0, cut, [](std::size_t) {});
    const double before = s.Time();
    s.NoteGap(100);
    EXPECT_DOUBLE_EQ(s.Time(), before + 10.0) << "the clock counts the lost blocks";
    Feed(s, pcm, cut + lost, pcm.size(), [](std::size_t) {});
    s.Finish();

    ASSERT_EQ(events.Gaps.size(), 1u);
    EXPECT_EQ(events.Gaps[0].Blocks, 100);
    EXPECT_DOUBLE_EQ(events.Gaps[0].Start, before);
    // Block times run on after the gap.
    const auto after = std::find_if(events.Ends.begin(), events.Ends.end(), [&](double t) { return t > before; });
    ASSERT_NE(after, events.Ends.end());
    EXPECT_NEAR(*after, before + 10.1, 1e-9);

    ASSERT_EQ(events.Messages.size(), 1u) << "one message across the gap";
    const msg::TMessage& m = events.Messages[0];
    EXPECT_EQ(m.Id, "OB12");
    EXPECT_EQ(m.Text.find("audio lost"), std::string::npos) << m.Text;
    ASSERT_FALSE(m.Gaps.empty());
    EXPECT_GE(m.Lost, msg::LostChars(msg::TService::English, 10.0)) << "the lost seconds count as lost characters";
    EXPECT_NE(m.Text.find("LINE FOUR"), std::string::npos) << "the text after the gap belongs to the message";
    EXPECT_FALSE(m.Trailer && m.Gaps.empty());

    // The memo of either path shows where sound was lost.
    for (TDecoderPath path : {TDecoderPath::Exact, TDecoderPath::Robust}) {
      s.SetDecoder(path);
      EXPECT_NE(s.Text().MemoText.find("--- 10.0 s of audio lost ---\r\n"), std::string::npos);
    }
    EXPECT_NE(sink.Memo.find("--- 10.0 s of audio lost ---"), std::string::npos);
  }
}

TEST(Session, ALossLongerThanTheTimeOutClosesTheMessage)
{
  const std::vector<int16_t> pcm = Emission("ZCZC OC01\nFIRST PART OF THE TEXT\nSECOND\nNNNN\n", 30.0, 5);
  TReceiverSession s(Beside(TDecoderPath::Robust, nullptr));
  TEvents events;
  s.AddListener(&events);
  std::string error;
  ASSERT_TRUE(s.StartMessages({}, error)) << error;
  const std::size_t cut = 9 * SampleRate;
  Feed(s, pcm, 0, cut, [](std::size_t) {});
  s.NoteGap(1300);  // 130 s: longer than the two minutes a message waits for a line
  // Closed by the gap, before any later block (the store writer's outcome
  // comes from its own thread).
  for (int i = 0; i < 500 && events.Messages.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    s.PollMessages();
  }
  ASSERT_EQ(events.Messages.size(), 1u) << "closed by the gap, before any later block";
  EXPECT_EQ(events.Messages[0].Id, "OC01");
  EXPECT_FALSE(events.Messages[0].Trailer);
  EXPECT_FALSE(events.Messages[0].Gaps.empty());
  EXPECT_GT(events.Messages[0].Lost, 0);
  Feed(s, pcm, cut, pcm.size(), [](std::size_t) {});
  s.Finish();
  for (std::size_t i = 1; i < events.Messages.size(); ++i) EXPECT_NE(events.Messages[i].Id, "OC01");
}

TEST(Session, StatusIsReportedWhenItChangesAndTheExactPathAloneMakesTheMessages)
{
  const std::vector<int16_t> pcm = Emission("ZCZC OD02\nPLAIN\nNNNN\n", 30.0, 8);
  TReceiverSession s;  // the exact path alone
  TEvents events;
  s.AddListener(&events);
  std::string error;
  ASSERT_TRUE(s.StartMessages({}, error)) << error;
  EXPECT_EQ(s.MessagePath(), TDecoderPath::Exact);
  s.ReportStatus();
  Feed(s, pcm, 0, pcm.size(), [](std::size_t) {});
  s.Finish();
  ASSERT_EQ(events.Messages.size(), 1u);
  EXPECT_EQ(events.Messages[0].Decoder, "exact");
  EXPECT_EQ(events.Messages[0].Text, "PLAIN");

  ASSERT_GE(events.Status.size(), 2u);
  EXPECT_EQ(events.Status[0].Before, nullptr);
  EXPECT_EQ(events.Status[0].Time, 0.0);
  bool synced = false;
  for (std::size_t i = 1; i < events.Status.size(); ++i) {
    const TStatusEvent& e = events.Status[i];
    EXPECT_FALSE(e.Now.Robust);
    EXPECT_NE(e.Now.Decoder, events.Status[i - 1].Now.Decoder) << "reported only when it changed, at " << e.Time;
    synced = synced || e.Now.Decoder.InSync;
  }
  EXPECT_TRUE(synced);
  EXPECT_LT(events.Status.size(), 12u);
}

// A strong signal 20 Hz off, then the same station 13 dB weaker and 26 Hz
// off: the robust path's figures are reported live (never a reporting step
// behind for longer than the interval), yet at most once per interval while
// only the figures move, and the second signal's figures do get reported.
TEST(Session, SignalFiguresAreReportedLiveButAtMostOncePerInterval)
{
  const auto emission = [](double snrDb, double offset, uint32_t seed) {
    std::vector<uint8_t> codes;
    std::string error;
    EXPECT_TRUE(gen::EnglishCodes("ZCZC OA01\nTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789\nNNNN\n", codes, error));
    gen::TFskParams fsk;
    fsk.Amplitude = 4000.0;
    fsk.SnrDb = snrDb;
    fsk.Offset = offset;
    fsk.Seed = seed;
    gen::TEmission e;
    e.PhasingSeconds = 4.0;
    return gen::ModulateFsk(gen::EmissionBits(codes, e), fsk);
  };
  std::vector<int16_t> pcm = emission(25.0, 20.0, 3);
  const std::size_t second = pcm.size();
  const auto weak = emission(12.0, 26.0, 4);
  pcm.insert(pcm.end(), weak.begin(), weak.end());

  // Each report with the one before it (an event's Before lives only as long
  // as the call).
  struct TReports final : TSessionListener {
    void StatusChanged(const TStatusEvent& e) override
    {
      Status.push_back(e);
      Before.push_back(e.Before ? *e.Before : TReceiverStatus{});
    }
    std::vector<TStatusEvent> Status;
    std::vector<TReceiverStatus> Before;
  };
  TReceiverSession s(Beside(TDecoderPath::Exact, nullptr));
  TReports events;
  s.AddListener(&events);
  s.ReportStatus();
  Feed(s, pcm, 0, pcm.size(), [&](std::size_t) {
    // Before every block: what was reported last is never a step behind the
    // estimate for longer than the interval.
    const TStatusEvent& last = events.Status.back();
    const TReceiverStatus now = s.FullStatus();
    if (now.Signal && last.Now.Signal && s.Time() - last.Time > SignalReportIntervalS + 1e-9) {
      EXPECT_FALSE(SignalMoved(now, last.Now)) << "stale since " << last.Time << " at " << s.Time();
    }
  });

  int figures = 0;
  for (std::size_t i = 1; i < events.Status.size(); ++i) {
    const TStatusEvent& e = events.Status[i];
    const TReceiverStatus& before = events.Before[i];
    ASSERT_NE(e.Before, nullptr);
    EXPECT_EQ(before.SnrDb, events.Status[i - 1].Now.SnrDb) << "Before is the status reported last";
    if (e.Now.Decoder != before.Decoder || e.Now.Signal != before.Signal) {
      continue;
    }
    ++figures;
    EXPECT_TRUE(SignalMoved(e.Now, before)) << "at " << e.Time;
    EXPECT_GE(e.Time - events.Status[i - 1].Time, SignalReportIntervalS - 1e-9) << "at " << e.Time;
  }
  EXPECT_GE(figures, 3) << "the figures are followed while the signal lasts";
  // The weak signal's figures were reported, not left at the strong one's.
  const double secondStart = static_cast<double>(second) / SampleRate;
  const auto weakReport = std::find_if(events.Status.begin(), events.Status.end(), [&](const TStatusEvent& e) {
    return e.Time > secondStart && e.Now.Signal && e.Now.SnrDb < 17.0 && e.Now.OffsetHz > 23.0;
  });
  EXPECT_NE(weakReport, events.Status.end());
}

}  // namespace
}  // namespace brontel
