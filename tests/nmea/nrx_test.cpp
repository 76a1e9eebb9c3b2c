// NRX sentences: fields, checksums, the text across sentences, and delivery
// over a real UDP socket.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "nmea/nrx.h"
#include "nmea/udp_sender.h"
#include "support/udp_listener.h"

namespace brontel {
namespace {

std::vector<std::string> Fields(const std::string& sentence)
{
  // "$" … "*hh": the fields between, split at commas.
  std::vector<std::string> f;
  std::stringstream in(sentence.substr(1, sentence.size() - 4));
  for (std::string s; std::getline(in, s, ',');) f.push_back(s);
  if (!sentence.empty() && sentence[sentence.size() - 4] == ',') f.push_back("");
  return f;
}

std::string Unescape(const std::string& s)
{
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '^' && i + 2 < s.size()) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

TEST(Nrx, OneShortMessage)
{
  TNrxMessage m;
  m.Id = "EA01";
  m.ReceivedUtc = 1796640125.5;  // 2026-12-07 10:42:05.5 UTC
  m.Text = "GALE WARNING";
  const auto s = NrxSentences(m, 7);
  ASSERT_EQ(s.size(), 1u);
  const auto f = Fields(s[0]);
  const std::vector<std::string> want = {"CRNRX", "001", "001", "07", "EA01", "2", "104205.50", "07", "12", "2026",
                                         "12", "0", "A", "GALE WARNING"};
  EXPECT_EQ(f, want);
  char sum[3];
  std::snprintf(sum, sizeof sum, "%02X", NmeaChecksum(s[0].substr(1, s[0].size() - 4)));
  EXPECT_EQ(s[0].substr(s[0].size() - 2), sum);
  EXPECT_EQ(NmeaChecksum("GPGLL,5057.970,N,00146.110,E,142451,A"), 0x27u);  // a published example
}

TEST(Nrx, LongTextWithReservedCharactersSurvivesTheSplit)
{
  TNrxMessage m;
  m.Id = "JA00";
  m.Frequency = TNrxFrequency::NotOverTheAir;
  m.BadCharacters = 3;
  for (int i = 0; i < 40; ++i) m.Text += "LINE " + std::to_string(i) + ", $5*^!~\\ \x88\x9F\r\n";
  const auto s = NrxSentences(m, 123);
  ASSERT_GT(s.size(), 10u);
  std::string text;
  for (std::size_t n = 0; n < s.size(); ++n) {
    EXPECT_LE(s[n].size() + 2, 82u) << n;
    const auto f = Fields(s[n]);
    ASSERT_EQ(f.size(), 14u) << s[n];
    EXPECT_EQ(std::stoi(f[1]), static_cast<int>(s.size()));
    EXPECT_EQ(std::stoi(f[2]), static_cast<int>(n + 1));
    EXPECT_EQ(f[3], "23");
    EXPECT_EQ(f[4], "JA00");
    if (n == 0) {
      EXPECT_EQ(f[6], "") << "unknown time";
      EXPECT_EQ(f[10], std::to_string(m.Text.size()));
      EXPECT_EQ(f[12], "V");
    }
    for (char c : f[13]) EXPECT_TRUE(c >= 0x20 && c < 0x7F && c != ',' && c != '*' && c != '$') << s[n];
    text += Unescape(f[13]);
  }
  EXPECT_EQ(text, m.Text);
}

TEST(Nrx, SentencesArriveOverUdp)
{
  test::TUdpListener rx(2);
  ASSERT_TRUE(rx.Ok());
  TUdpSender tx;
  std::string error;
  ASSERT_TRUE(tx.Open(rx.Address(), error)) << error;
  TNrxMessage m;
  m.Id = "DA12";
  m.Text = std::string(200, 'X');
  const auto sentences = NrxSentences(m, 1);
  for (const auto& s : sentences) ASSERT_TRUE(tx.Send(s + "\r\n", error)) << error;
  for (const auto& s : sentences) EXPECT_EQ(rx.Receive(), s + "\r\n");

  EXPECT_FALSE(tx.Open("no-port-here", error));
  EXPECT_FALSE(tx.Open("host.invalid:10110", error));
}

}  // namespace
}  // namespace brontel
