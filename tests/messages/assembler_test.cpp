// The assembler on text streams as the decoders write them.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "messages/assembler.h"

namespace brontel::msg {
namespace {

struct TCollector {
  std::vector<TMessage> Out;
  TMessageAssembler A{[this](TMessage&& m) { Out.push_back(std::move(m)); }};

  // One line per second from time t.
  double Feed(const std::vector<std::string>& lines, double t = 0.0)
  {
    for (const std::string& l : lines) A.Line(l, t++);
    return t;
  }
};

TEST(Assembler, TextStreams)
{
  {
    SCOPED_TRACE("clean messages, garbage before, between and after");
    TCollector c;
    c.Feed({"K7E", "ZCZC OA12", "NAVAREA WARNING 123.", "POSITION 35-12N.", "NNNNNNN", "QX", "ZCZC OA13", "NNNN"});
    c.A.Finish(10);
    ASSERT_EQ(c.Out.size(), 4u);
    EXPECT_EQ(StatusOf(c.Out[0]), TStatus::NoHeader);
    EXPECT_EQ(c.Out[0].Text, "K7E");
    const TMessage& m = c.Out[1];
    EXPECT_EQ(StatusOf(m), TStatus::Complete);
    EXPECT_EQ(m.Id, "OA12");
    EXPECT_EQ(m.Station, 'O');
    EXPECT_EQ(m.Subject, 'A');
    EXPECT_EQ(m.Serial, 12);
    EXPECT_EQ(m.Text, "NAVAREA WARNING 123.\nPOSITION 35-12N.");
    EXPECT_EQ(m.Start, 1.0);
    EXPECT_EQ(m.End, 4.0);
    EXPECT_EQ(m.Cer, 0.0);
    EXPECT_EQ(c.Out[2].Text, "QX");
    EXPECT_EQ(c.Out[3].Id, "OA13");
    EXPECT_EQ(StatusOf(c.Out[3]), TStatus::Complete);
  }
  {
    SCOPED_TRACE("full-width Japanese header and trailer");
    TCollector c;
    // ＺＣＺＣ　ＪＡ０１ / 東京湾 / ＮＮＮＮ in code page 932.
    c.Feed({"\x82\x79\x82\x62\x82\x79\x82\x62\x81\x40\x82\x69\x82\x60\x82\x4F\x82\x50", "\x93\x8C\x8B\x9E\x98\x70",
            "\x82\x6D\x82\x6D\x82\x6D\x82\x6D"});
    ASSERT_EQ(c.Out.size(), 1u);
    EXPECT_EQ(c.Out[0].Id, "JA01");
    EXPECT_EQ(c.Out[0].Service, TService::Japanese);
    EXPECT_EQ(StatusOf(c.Out[0]), TStatus::Complete);
    EXPECT_EQ(c.Out[0].Chars, 3);
    EXPECT_EQ(c.Out[0].Cer, 0.0);
  }
  {
    SCOPED_TRACE("lost header, lost trailer, back to back, cut by the end of input");
    TCollector c;
    c.Feed({"REST OF A MESSAGE", "NNNN", "ZCZC EB01", "FORECAST", "ZCZC EB02 GALE", "NNNN", "ZCZC EA03", "CUT"});
    c.A.Finish(20);
    ASSERT_EQ(c.Out.size(), 4u);
    EXPECT_EQ(StatusOf(c.Out[0]), TStatus::NoHeader);
    EXPECT_TRUE(c.Out[0].Trailer);
    EXPECT_EQ(StatusOf(c.Out[1]), TStatus::NoTrailer);
    EXPECT_EQ(c.Out[1].Text, "FORECAST");
    EXPECT_EQ(StatusOf(c.Out[2]), TStatus::Complete);
    EXPECT_EQ(c.Out[2].Text, "GALE");
    EXPECT_EQ(c.Out[3].Id, "EA03");
    EXPECT_EQ(StatusOf(c.Out[3]), TStatus::NoTrailer);
  }
  {
    SCOPED_TRACE("the line ends lost around a trailer: what follows it on its line is read");
    TCollector c;
    c.Feed({"ZCZC OA14", "GALE NNNNN ZCZC OA15", "FOG", "NNNN"});
    ASSERT_EQ(c.Out.size(), 2u);
    EXPECT_EQ(std::tuple(c.Out[0].Id, c.Out[0].Text, StatusOf(c.Out[0])), std::tuple("OA14", "GALE", TStatus::Complete));
    EXPECT_EQ(std::tuple(c.Out[1].Id, c.Out[1].Text, StatusOf(c.Out[1])), std::tuple("OA15", "FOG", TStatus::Complete));
  }
  {
    SCOPED_TRACE("headers with errors");
    TCollector c;
    c.Feed({"ZC*C OA12", "X", "NNNN", "ZCZC O*12", "Y", "NNNN", "ZCZCOA12", "NNNN", "ZCZC 0A12", "NNNN", "CZC OA12", "NNNN"});
    ASSERT_EQ(c.Out.size(), 5u);
    for (const TMessage& m : c.Out) EXPECT_EQ(StatusOf(m), TStatus::HeaderErrors) << m.Id;
    EXPECT_EQ(c.Out[4].Id, "OA12");
    EXPECT_EQ(c.Out[0].Id, "OA12");
    EXPECT_EQ(c.Out[1].Id, "O*12");
    EXPECT_EQ(c.Out[1].Station, 'O');
    EXPECT_EQ(c.Out[1].Subject, 0);
  }
}

TEST(Assembler, EndOfEmissionTimeOutAndErrorEstimate)
{
  TCollector c;
  const double t = c.Feed({"ZCZC OB01", "WIND NW 6"});
  c.A.SyncChanged(false, t);
  c.A.Tick(t + 3);
  EXPECT_TRUE(c.Out.empty());  // a short loss of synchronisation keeps the message open
  c.A.SyncChanged(true, t + 4);
  c.A.Line("SEA ROUGH *", t + 5);
  c.A.SyncChanged(false, t + 6);
  c.A.Tick(t + 20);  // out of synchronisation for longer: the emission has ended
  ASSERT_EQ(c.Out.size(), 1u);
  const TMessage& m = c.Out[0];
  EXPECT_EQ(StatusOf(m), TStatus::NoTrailer);
  EXPECT_EQ(m.Text, "WIND NW 6\nSEA ROUGH *");
  ASSERT_EQ(m.Gaps.size(), 2u);
  EXPECT_EQ(m.Gaps[0].Lost, LostChars(TService::English, 4));
  EXPECT_EQ(m.Erasures, 1);
  EXPECT_EQ(m.Lost, m.Gaps[0].Lost);
  EXPECT_NEAR(m.Cer, double(1 + m.Lost) / (m.Chars + m.Lost), 1e-12);

  c.A.SyncChanged(true, 100);
  c.A.Line("ZCZC OB02", 100);
  c.A.Tick(100 + c.A.Settings().Timeout);
  ASSERT_EQ(c.Out.size(), 2u);
  EXPECT_EQ(c.Out[1].Id, "OB02");
}

TEST(Assembler, ConfidencesTravelWithTheTextOfTheirMessage)
{
  // The decoder's line ends, the header and the trailer carry none of them;
  // a line whose confidences do not match its characters, or that has none,
  // leaves the whole message without.
  const std::vector<float> header(9, 1.0f), trailer(4, 1.0f), body{0.9f, 0.8f, 0.0f, 1.0f}, rest{0.5f, 1.0f};
  struct TCase {
    std::vector<float> Second;  // the confidences given with "GO"
    std::vector<float> Want;
  } cases[] = {
      {rest, {0.9f, 0.8f, 0.0f, 1.0f, 0.5f, 1.0f}},
      {{}, {}},
      {{0.5f}, {}},
  };
  for (const TCase& c : cases) {
    TCollector t;
    t.A.Line("ZCZC OA01", 0, header);
    t.A.Line("AB*D", 1, body);
    t.A.Line("GO", 2, c.Second);
    t.A.Line("NNNN", 3, trailer);
    ASSERT_EQ(t.Out.size(), 1u);
    EXPECT_EQ(t.Out[0].Text, "AB*D\nGO");
    EXPECT_EQ(t.Out[0].Confidence, c.Want);
  }

  // Japanese text outside a message is measured as Japanese, whatever service
  // the decoder reported before it.
  TCollector j;
  j.A.Line("\x93\x8C\x8B\x9E\x98\x70", 0, std::vector<float>(3, 1.0f));  // 東京湾
  j.A.Finish(1);
  ASSERT_EQ(j.Out.size(), 1u);
  EXPECT_EQ(j.Out[0].Service, TService::Japanese);
  EXPECT_EQ(j.Out[0].Suspicious, 0);
  EXPECT_EQ(j.Out[0].Cer, 0.0);
}

TEST(Assembler, TrailersAndHeadersReceivedWithErrors)
{
  // A line of three to five characters, N or erasures with at least three N,
  // ends the message; anything else is text of it.
  const struct {
    const char* Last;
    bool Trailer;
    const char* Text;
  } trailers[] = {
      {"NN*N", true, "GALE"},         {"NNN", true, "GALE"},          {"  NNN  ", true, "GALE"},
      {"N*N*N", true, "GALE"},        {"*NNN", true, "GALE"},         {"NN*", false, "GALE\nNN*"},
      {"NNXN", false, "GALE\nNNXN"}, {"NN*NNN", false, "GALE\nNN*NNN"}, {"SEA NNN", false, "GALE\nSEA NNN"},
      {"NN", false, "GALE\nNN"},
  };
  for (const auto& c : trailers) {
    SCOPED_TRACE(c.Last);
    TCollector t;
    t.Feed({"ZCZC OA12", "GALE", c.Last});
    EXPECT_EQ(t.Out.size(), c.Trailer ? 1u : 0u);
    t.A.Finish(10);
    ASSERT_EQ(t.Out.size(), 1u);
    EXPECT_EQ(t.Out[0].Trailer, c.Trailer);
    EXPECT_EQ(t.Out[0].Text, c.Text);
    EXPECT_EQ(t.Out[0].End, 2.0);
  }

  // A word one edit from ZCZC at the start of a line, followed by a space,
  // starts a message with header errors; B1-B4 are read all the same.
  const struct {
    const char* Header;
    bool Message, Ok;
    const char* Id;
    int Serial;
  } headers[] = {
      {"ZCZC ZA09", true, true, "ZA09", 9},   {"ZCZC  OA12", true, false, "OA12", 12},
      {"ZCZX OA12", true, false, "OA12", 12}, {"ZCZ OA12", true, false, "OA12", 12},
      {"ZXZX OA12", false, false, "", -1},    {"ZC OA12", false, false, "", -1},
      {"ZCZC OA1*", true, false, "OA1*", -1}, {"ZCZC 1A12", true, false, "1A12", 12},
      {"ZCZC O112", true, false, "O112", 12}, {"ZCZC OAX2", true, false, "OAX2", -1},
      {"ZCZC OA", true, false, "OA**", -1},    {"ZCZ*C OA12", true, false, "OA12", 12},
      {" X*CZC OA21", true, false, "OA21", 21},
      {"ZCZ*CZ OA12", false, false, "", -1},
      // Full width, as Japanese stations send it: ＺＣＺＣ　ＺＡ０９.
      {"\x82\x79\x82\x62\x82\x79\x82\x62\x81\x40\x82\x79\x82\x60\x82\x4F\x82\x58", true, true, "ZA09", 9},
  };
  for (const auto& c : headers) {
    SCOPED_TRACE(c.Header);
    TCollector t;
    t.Feed({c.Header, "GALE", "NNNN"});
    ASSERT_EQ(t.Out.size(), 1u);
    const TMessage& m = t.Out[0];
    EXPECT_EQ(m.HasHeader, c.Message);
    EXPECT_EQ(m.HeaderOk, c.Ok);
    EXPECT_EQ(m.Id, c.Id);
    EXPECT_EQ(m.Serial, c.Serial);
    EXPECT_EQ(m.Text, c.Message ? "GALE" : std::string(c.Header) + "\nGALE");
  }
}

TEST(Assembler, TheEmissionEndsEightSecondsOutOfStepAndTheMessageTwoMinutesAfterItsLastLine)
{
  // The last line at 10 s; the decoder out of step from 15 s (from `lost`),
  // for `paused` seconds of that without sound.
  const struct {
    const char* Name;
    double Lost, Paused, Tick;
    bool Closed;
    double End;
  } cases[] = {
      {"out of step 7.9 s", 15.0, 0.0, 22.9, false, 0.0},
      {"out of step 8 s: ended where the decoder lost it", 15.0, 0.0, 23.0, true, 15.0},
      {"lost sound does not count", 15.0, 5.0, 27.9, false, 0.0},
      {"... the time out of step after it does", 15.0, 5.0, 28.0, true, 15.0},
      {"in step: open 119.9 s after the last line", -1.0, 0.0, 129.9, false, 0.0},
      {"in step: closed 120 s after the last line, ending with it", -1.0, 0.0, 130.0, true, 10.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TCollector t;
    t.A.Line("ZCZC OA01", 0.0);
    t.A.Line("GALE", 10.0);
    if (c.Lost >= 0.0) t.A.SyncChanged(false, c.Lost);
    if (c.Paused > 0.0) t.A.Gap(c.Lost + 1.0, c.Paused);
    t.A.Tick(c.Tick);
    ASSERT_EQ(t.Out.size(), c.Closed ? 1u : 0u);
    if (c.Closed) {
      EXPECT_EQ(t.Out[0].End, c.End);
      EXPECT_FALSE(t.Out[0].Trailer);
    }
  }

  // A line that comes as the time-out runs out starts text of its own.
  TCollector t;
  t.A.Line("ZCZC OA01", 0.0);
  t.A.Line("GALE", 5.0);
  t.A.Line("SEA ROUGH", 125.0);
  t.A.Finish(126.0);
  ASSERT_EQ(t.Out.size(), 2u);
  EXPECT_EQ(t.Out[0].Text, "GALE");
  EXPECT_EQ(t.Out[1].Text, "SEA ROUGH");
  EXPECT_FALSE(t.Out[1].HasHeader);
}

TEST(Assembler, MessagesAndFragmentsCarryWhereAndWhenTheyWereReceived)
{
  // A fragment and a message from a recording that began at `Epoch`, heard
  // 5 s and 9 s into it (the fragment ends as the header comes); the same
  // received live has no place in a recording.
  for (const bool recording : {true, false}) {
    std::vector<TMessage> out;
    TAssemblerOptions o;
    o.Decoder = "robust", o.Channel = "right", o.Receiver = "roof", o.Frequency = 490.0;
    o.Epoch = 1000.0, o.Recording = recording;
    TMessageAssembler a([&](TMessage&& m) { out.push_back(std::move(m)); }, o);
    a.Line("SEA ROUGH", 5.0);
    a.Line("ZCZC OA01", 9.0);
    a.Line("NNNN", 11.0);
    ASSERT_EQ(out.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const TMessage& m = out[i];
      EXPECT_EQ(std::tuple(m.HasHeader, m.Decoder, m.Channel, m.Receiver, m.Frequency),
                std::tuple(i == 1, "robust", "right", "roof", std::optional(490.0)));
      EXPECT_EQ(std::pair(m.Start, m.End), i == 0 ? std::pair(1005.0, 1009.0) : std::pair(1009.0, 1011.0));
      EXPECT_EQ(m.Offset, recording ? std::optional(i == 0 ? 5.0 : 9.0) : std::nullopt) << i;
    }
  }
}

TEST(Assembler, DoubtfulCharactersOfEveryLineOfTheMessageCount)
{
  TCollector t;
  t.A.Line("QX", 0.0, {}, 1);  // text outside the message
  t.A.Line("ZCZC OA01", 1.0);
  t.A.Line("GALE WARNING", 2.0, {}, 2);
  t.A.Line("SEA *OUGH", 3.0, {}, 3);
  t.A.Line("NNNN", 4.0, {}, 4);
  t.A.Line("ZCZC OA02", 5.0);
  t.A.Line("AB*", 6.0, {}, 9);  // no more doubtful than characters neither erased nor doubtful already
  t.A.Finish(7.0);
  ASSERT_EQ(t.Out.size(), 3u);
  EXPECT_EQ(t.Out[0].Suspicious, 1);
  EXPECT_EQ(std::tuple(t.Out[1].Chars, t.Out[1].Erasures, t.Out[1].Suspicious), std::tuple(21, 1, 5));
  EXPECT_DOUBLE_EQ(t.Out[1].Cer, 6.0 / 21);
  EXPECT_EQ(std::tuple(t.Out[2].Chars, t.Out[2].Erasures, t.Out[2].Suspicious), std::tuple(3, 1, 2));
  EXPECT_DOUBLE_EQ(t.Out[2].Cer, 1.0);
}

}  // namespace
}  // namespace brontel::msg
