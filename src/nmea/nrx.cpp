#include "nmea/nrx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "messages/message.h"

namespace brontel {

namespace {

constexpr std::size_t MaxSentence = 82;  // characters, "$" to the line end
constexpr std::size_t Framing = 1 + 3 + 2;  // "$", "*hh", CR LF
constexpr int MaxSentences = 999;

bool Reserved(unsigned char c)
{
  switch (c) {
    case '\r': case '\n': case '$': case '*': case ',': case '!': case '\\': case '^': case '~': return true;
    default: return c < 0x20 || c > 0x7E;
  }
}

void Escape(std::string_view bytes, std::string& out)
{
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (Reserved(c)) {
      char esc[4];
      std::snprintf(esc, sizeof esc, "^%02X", c);
      out += esc;
    } else {
      out.push_back(ch);
    }
  }
}

// The text as it goes into sentences: one entry per character (a two-byte
// character is one), escaped where needed, so that a cut between entries
// never splits an escape or a character.
std::vector<std::string> Characters(std::string_view text)
{
  std::vector<std::string> out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t len = msg::UnitAt(text, pos).Bytes.size();
    Escape(text.substr(pos, len), out.emplace_back());
    pos += len;
  }
  return out;
}

bool WellFormedCode(std::string_view id)
{
  const auto letter = [](char c) { return c >= 'A' && c <= 'Z'; };
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return id.size() == 4 && letter(id[0]) && letter(id[1]) && digit(id[2]) && digit(id[3]);
}

// "hhmmss.ss,dd,mm,yyyy" of `utc` rounded once to 0.01 s, so that a carry
// reaches the minute, hour, day, month and year; null fields when unknown.
std::string TimeFields(double utc)
{
  constexpr double LastSecond = 253402300799.0;  // 9999-12-31 23:59:59
  if (!(utc >= 0.0 && utc <= LastSecond)) return ",,,";
  const long long centis = std::llround(utc * 100.0);
  const std::time_t seconds = static_cast<std::time_t>(centis / 100);
  std::tm t{};
  if (!gmtime_r(&seconds, &t) || t.tm_year + 1900 > 9999) return ",,,";
  char out[64];
  std::snprintf(out, sizeof out, "%02d%02d%02d.%02d,%02d,%02d,%04d", t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<int>(centis % 100), t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
  return out;
}

std::string Finish(const std::string& body)
{
  char sum[4];
  std::snprintf(sum, sizeof sum, "*%02X", NmeaChecksum(body));
  return "$" + body + sum;
}

}  // namespace

unsigned NmeaChecksum(std::string_view body)
{
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  return sum;
}

std::vector<std::string> NrxSentences(const TNrxMessage& message, int sequentialId, bool* cut)
{
  const std::vector<std::string> chars = Characters(message.Text);
  const int seq = ((sequentialId % 100) + 100) % 100;

  // Fields 1 to 3; the sentence count has a fixed width of three digits, so
  // the room for text is known before the count.
  auto start = [&](int count, int number) {
    char h[48];
    std::snprintf(h, sizeof h, "CRNRX,%03d,%03d,%02d,", count, number, seq);
    return std::string(h);
  };
  // Fields 4 to 12 of the first sentence, for a text of `total` characters.
  auto details = [&](std::size_t total) {
    std::string d = WellFormedCode(message.Id) ? message.Id : std::string();
    d += ',';
    const int index = message.FrequencyIndex;
    if (index >= 0 && index <= 9) d += static_cast<char>('0' + index);
    d += ',' + TimeFields(message.ReceivedUtc) + ',' + std::to_string(total) + ',' +
         std::to_string(std::max(0, message.BadCharacters)) + ',' + (message.Valid ? 'A' : 'V') + ',';
    return d;
  };
  const std::string later = ",,,,,,,,,";  // fields 4 to 12 after the first sentence

  std::vector<std::pair<std::size_t, std::size_t>> spans;  // [first, last) of chars per sentence
  const std::size_t firstHead = start(1, 1).size() + details(chars.size()).size();
  std::size_t i = 0;
  do {
    const std::size_t head = spans.empty() ? firstHead : start(1, 1).size() + later.size();
    const std::size_t room = MaxSentence - Framing - head;
    std::size_t used = 0, j = i;
    while (j < chars.size() && used + chars[j].size() <= room) used += chars[j++].size();
    spans.emplace_back(i, j);
    i = j;
  } while (i < chars.size() && static_cast<int>(spans.size()) < MaxSentences);
  const std::size_t sent = spans.back().second;
  if (cut) *cut = sent < chars.size();
  // A cut text has fewer characters: its total is no longer, so the first
  // sentence still has room for the same characters.
  const std::string first = details(sent);

  std::vector<std::string> out;
  const int count = static_cast<int>(spans.size());
  for (int n = 0; n < count; ++n) {
    std::string body = start(count, n + 1) + (n == 0 ? first : later);
    for (std::size_t k = spans[n].first; k < spans[n].second; ++k) body += chars[k];
    out.push_back(Finish(body));
  }
  return out;
}

}  // namespace brontel
