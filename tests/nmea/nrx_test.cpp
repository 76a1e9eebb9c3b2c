// NRX sentences: fields, checksums, the text across sentences, and delivery
// over a real UDP socket.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <limits>
#include <sstream>
#include <tuple>

#include "nmea/nrx.h"
#include "nmea/nrx_out.h"
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

// --- A reader written from the sentence's published description --------------

bool Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool Digits(const std::string& s, std::size_t n)
{
  return s.size() == n && s.find_first_not_of("0123456789") == std::string::npos;
}

struct TNrxRead {
  std::vector<std::string> First;  // "CRNRX" and fields 1 to 13 of the first sentence
  std::string Text;                // the text of all sentences, escapes undone
  int Characters = 0;              // in Text, a two-byte character counting one
};

// Empty when `lines` (with their CR LF) are one message as the format has it;
// otherwise what is wrong.
std::string ReadNrx(const std::vector<std::string>& lines, TNrxRead& out)
{
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    const std::string at = "sentence " + std::to_string(n + 1) + ": ";
    if (line.size() > 82 || line.size() < 10 || line[0] != '$' || line.substr(line.size() - 5, 1) != "*" ||
        line.substr(line.size() - 2) != "\r\n")
      return at + "not $...*hh CR LF within 82 characters";
    const std::string body = line.substr(1, line.size() - 6);
    char sum[3];
    std::snprintf(sum, sizeof sum, "%02X", NmeaChecksum(body));
    if (line.substr(line.size() - 4, 2) != sum) return at + "checksum";
    for (std::size_t i = 0; i < body.size(); ++i) {
      const auto c = static_cast<unsigned char>(body[i]);
      if (c < 0x20 || c > 0x7E || c == '$' || c == '*' || c == '!' || c == '\\' || c == '~')
        return at + "a raw reserved character";
      if (c == '^' && !(i + 2 < body.size() && std::isxdigit(static_cast<unsigned char>(body[i + 1])) &&
                        std::isxdigit(static_cast<unsigned char>(body[i + 2]))))
        return at + "an escape that is not ^hh";
    }
    const std::vector<std::string> f = Fields(line.substr(0, line.size() - 2));
    if (f.size() != 14 || f[0] != "CRNRX") return at + "not 13 fields";
    if (!Digits(f[1], 3) || std::stoi(f[1]) != static_cast<int>(lines.size()) || !Digits(f[2], 3) ||
        std::stoi(f[2]) != static_cast<int>(n + 1) || !Digits(f[3], 2) || (n > 0 && f[3] != out.First[3]))
      return at + "sentence count, number or sequential id";
    if (n == 0) {
      out.First = f;
      const std::string& code = f[4];
      if (!code.empty() && !(code.size() == 4 && std::isupper(code[0]) && std::isupper(code[1]) &&
                             std::isdigit(code[2]) && std::isdigit(code[3])))
        return at + "message code";
      if (!Digits(f[5], 1)) return at + "frequency index";
      if (!(f[6] + f[7] + f[8] + f[9]).empty()) {
        const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const auto num = [](const std::string& t, std::size_t at, std::size_t n) { return std::stoi(t.substr(at, n)); };
        if (f[6].size() != 9 || !Digits(f[6].substr(0, 6), 6) || f[6][6] != '.' || !Digits(f[6].substr(7), 2) ||
            num(f[6], 0, 2) > 23 || num(f[6], 2, 2) > 59 || num(f[6], 4, 2) > 59)
          return at + "time";
        if (!Digits(f[7], 2) || !Digits(f[8], 2) || !Digits(f[9], 4)) return at + "date";
        const int day = num(f[7], 0, 2), month = num(f[8], 0, 2), leap = month == 2 && num(f[9], 0, 4) % 4 == 0;
        if (month < 1 || month > 12 || day < 1 || day > days[month - 1] + leap) return at + "date";
      }
      if (f[10].empty() || !Digits(f[10], f[10].size()) || f[11].empty() || !Digits(f[11], f[11].size()) ||
          (f[12] != "A" && f[12] != "V"))
        return at + "counts or status";
    } else {
      for (int k = 4; k <= 12; ++k)
        if (!f[k].empty()) return at + "field " + std::to_string(k) + " is not null after the first sentence";
    }
    const std::string part = Unescape(f[13]);
    for (std::size_t i = 0; i < part.size(); ++i, ++out.Characters)
      if (Lead(static_cast<unsigned char>(part[i])) && ++i == part.size()) return at + "a two-byte character cut";
    out.Text += part;
  }
  if (out.First.empty()) return "no sentence";
  if (std::stoi(out.First[10]) != out.Characters)
    return "total " + out.First[10] + " for " + std::to_string(out.Characters);
  return {};
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
  m.FrequencyIndex = nrx_frequency::NotOverTheAir;
  m.BadCharacters = 3;
  m.Valid = false;
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
    EXPECT_EQ(f[4], n == 0 ? "JA00" : "") << "the message code in the first sentence only";
    if (n == 0) {
      EXPECT_EQ(f[6], "") << "unknown time";
      EXPECT_EQ(f[10], std::to_string(m.Text.size() - 40)) << "characters, a two-byte one counting one";
      EXPECT_EQ(f[12], "V");
    }
    for (char c : f[13]) EXPECT_TRUE(c >= 0x20 && c < 0x7F && c != ',' && c != '*' && c != '$') << s[n];
    text += Unescape(f[13]);
  }
  EXPECT_EQ(text, m.Text);

  // Past 999 sentences the text is cut, said, and the total is what was sent.
  TNrxMessage huge;
  huge.Text = std::string(60000, 'X');
  bool cut = false;
  const auto all = NrxSentences(huge, 0, &cut);
  EXPECT_TRUE(cut);
  ASSERT_EQ(all.size(), 999u);
  std::size_t carried = 0;
  for (const auto& sentence : all) carried += Fields(sentence)[13].size();
  EXPECT_EQ(Fields(all[0])[10], std::to_string(carried));
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

// Every sentence the sender writes for a message, read back by the reader
// above, field by field.
TEST(Nrx, MessagesReadBackFieldByField)
{
  // 34 characters: a space (so that bytes and characters do not line up),
  // then two-byte ones with trail bytes that are '\\' and '~' in ASCII.
  std::string japanese = " ";
  for (int i = 0; i < 11; ++i) japanese += "\x83\x5C\x95\x5C\x81\x7E";
  std::string longText;
  for (int i = 0; i < 30; ++i) longText += "LINE " + std::to_string(i % 10) + ", $5*^!~\\\n";
  struct TCase {
    const char* What;
    std::string Id;
    bool HeaderOk;
    msg::TService Service;
    double End, Khz;
    int Forced;
    std::string Text;
    int Chars, Lost;
    double Cer;
    // expected: message code, frequency index, time, day, month, year, total, bad, status
    std::vector<std::string> Want;
  };
  const std::vector<TCase> cases = {
      {"erased header character", "KA3*", false, msg::TService::English, 1796640125.5, 518.0, 9,
       "STORM WARNING\n", 13, 0, 0.0, {"", "9", "104205.50", "07", "12", "2026", "15", "0", "V"}},
      {"received at 23:59:59.996", "EA01", true, msg::TService::English, 1798761599.996, 0.0, -1,
       "GALE WARNING\n", 12, 0, 0.0, {"EA01", "2", "000000.00", "01", "01", "2027", "14", "0", "A"}},
      {"header errors and losses", "EA12", false, msg::TService::English, 1814356859.994, 4209.5, -1,
       "WRECK IN P*SITION 50-10N 001-20\n", 31, 3, 0.13,
       {"EA12", "3", "120059.99", "30", "06", "2027", "33", "4", "V"}},
      {"Japanese", "JA05", true, msg::TService::Japanese, 1796640125.5, 0.0, -1, japanese + "\n", 34, 0, 0.0,
       {"JA05", "0", "104205.50", "07", "12", "2026", "36", "0", "A"}},
      {"long", "NA10", true, msg::TService::English, 1796640125.5, 490.0, -1, longText, 450, 10, 0.039,
       {"NA10", "1", "104205.50", "07", "12", "2026", "510", "18", "A"}},
  };

  test::TUdpListener plotter(2);
  ASSERT_TRUE(plotter.Ok());
  TNrxSender tx;
  std::string error;
  ASSERT_TRUE(tx.Open(plotter.Address(), error)) << error;
  msg::TMessage skipped;
  skipped.Id = "ZZ99";
  skipped.HasHeader = skipped.Repeat = true;
  EXPECT_TRUE(tx.Send(skipped, 518.0, error)) << "a repeat is not sent";
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const TCase& c = cases[k];
    msg::TMessage m;
    m.HasHeader = true;
    std::tie(m.Id, m.HeaderOk, m.Service, m.End, m.Text) = std::tie(c.Id, c.HeaderOk, c.Service, c.End, c.Text);
    std::tie(m.Chars, m.Lost, m.Cer) = std::tie(c.Chars, c.Lost, c.Cer);
    tx.ForceFrequencyIndex(c.Forced);
    ASSERT_TRUE(tx.Send(m, c.Khz, error)) << error;

    std::vector<std::string> lines{plotter.Receive()};
    while (lines.back().size() > 10 && lines.size() < static_cast<std::size_t>(std::stoi(lines[0].substr(7, 3))))
      lines.push_back(plotter.Receive());
    TNrxRead read;
    ASSERT_EQ(ReadNrx(lines, read), "") << c.What << "\n" << lines.back();
    EXPECT_EQ(read.First[3], "0" + std::to_string(k)) << "one number per message sent: " << c.What;
    EXPECT_EQ(std::vector<std::string>(read.First.begin() + 4, read.First.begin() + 13), c.Want) << c.What;
    std::string crlf;
    for (const char ch : c.Text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    EXPECT_EQ(read.Text, crlf) << c.What;
  }
  EXPECT_EQ(tx.Failures(), 0);
}

// The bad characters are those the error estimate counts, whatever it
// counted them from, and only a message with its header whole and an
// estimated error rate below 4 % is valid.
TEST(Nrx, BadCharactersAndStatusFollowTheErrorEstimate)
{
  struct TCase {
    bool HeaderOk;
    int Chars, Lost;
    double Cer;
    int Bad;
    bool Valid;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const TCase& c : std::vector<TCase>{{true, 100, 0, 0.0, 0, true}, {true, 1000, 0, 0.0399, 40, true},
                                           {true, 100, 0, 0.04, 4, false}, {true, 30, 3, 0.13, 4, false},
                                           {false, 100, 0, 0.0, 0, false}, {true, 10, 90, 0.9, 90, false},
                                           {true, 10, 0, nan, 10, false}}) {
    msg::TMessage m;
    std::tie(m.HeaderOk, m.Chars, m.Lost, m.Cer) = std::tuple(c.HeaderOk, c.Chars, c.Lost, c.Cer);
    const TNrxMessage n = ToNrx(m, 2);
    EXPECT_EQ(std::pair(n.BadCharacters, n.Valid), std::pair(c.Bad, c.Valid)) << c.Cer;
  }
}

// Ports outside 1 to 65535 are refused (never wrapped), a broadcast address
// can be sent to, and a send that fails is counted.
TEST(Nrx, DestinationsAreCheckedAndFailuresCounted)
{
  std::string host, port, error;
  for (const char* bad : {"127.0.0.1:70000", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:", "127.0.0.1:x1", ":10110",
                          "127.0.0.1", "", "127.0.0.1:-1", "127.0.0.1:4294967297"})
    EXPECT_FALSE(SplitUdpDestination(bad, host, port, error)) << bad;
  ASSERT_TRUE(SplitUdpDestination("[::1]:65535", host, port, error)) << error;
  EXPECT_EQ(host + " " + port, "::1 65535");

  TUdpSender broadcast;
  ASSERT_TRUE(broadcast.Open("127.255.255.255:10110", error)) << error;
  EXPECT_TRUE(broadcast.Send("$CRNRX\r\n", error)) << error;

  // A link-local address on an interface that does not exist: every send fails.
  TNrxSender tx;
  if (!tx.Open("[fe80::1%4242]:10110", error)) GTEST_SKIP() << "no IPv6: " << error;
  msg::TMessage m;
  m.Id = "KA01";
  m.HasHeader = true;
  m.Text = "TEST\n";
  EXPECT_FALSE(tx.Send(m, 518.0, error));
  EXPECT_NE(error.find("KA01"), std::string::npos) << error;
  EXPECT_FALSE(tx.Send(m, 518.0, error));
  EXPECT_EQ(tx.Failures(), 2);
}

}  // namespace
}  // namespace brontel
