#include "nmea/nrx.h"

#include <cstdio>
#include <ctime>

namespace brontel {

namespace {

constexpr std::size_t MaxSentence = 82;  // characters, "$" to the line end
constexpr int MaxSentences = 999;

bool Reserved(unsigned char c)
{
  switch (c) {
    case '\r': case '\n': case '$': case '*': case ',': case '!': case '\\': case '^': case '~': return true;
    default: return c < 0x20 || c > 0x7E;
  }
}

// The text as sentence fields: one entry per character, escaped where needed,
// so that a sentence never splits an escape.
std::vector<std::string> Escaped(std::string_view text)
{
  std::vector<std::string> out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (Reserved(c)) {
      char esc[4];
      std::snprintf(esc, sizeof esc, "^%02X", c);
      out.emplace_back(esc);
    } else {
      out.emplace_back(1, ch);
    }
  }
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

std::vector<std::string> NrxSentences(const TNrxMessage& message, int sequentialId)
{
  const std::vector<std::string> parts = Escaped(message.Text);
  const int seq = ((sequentialId % 100) + 100) % 100;

  // The fields of the first sentence after the message code.
  char details[96] = ",,,,,,,";
  const int total = static_cast<int>(message.Text.size());
  const char status = message.BadCharacters > 0 ? 'V' : 'A';
  const std::time_t when = static_cast<std::time_t>(message.ReceivedUtc);
  std::tm utc{};
  if (message.ReceivedUtc >= 0.0 && gmtime_r(&when, &utc)) {
    const double seconds = utc.tm_sec + (message.ReceivedUtc - static_cast<double>(when));
    std::snprintf(details, sizeof details, "%d,%02d%02d%05.2f,%02d,%02d,%04d,%d,%d,%c",
                  static_cast<int>(message.Frequency), utc.tm_hour, utc.tm_min, seconds, utc.tm_mday,
                  utc.tm_mon + 1, utc.tm_year + 1900, total, message.BadCharacters, status);
  } else {
    std::snprintf(details, sizeof details, "%d,,,,,%d,%d,%c", static_cast<int>(message.Frequency), total,
                  message.BadCharacters, status);
  }

  // Cut the text so that every sentence fits; the sentence count field has a
  // fixed width of three digits, so the room is known before the count.
  auto head = [&](int count, int number) {
    char h[48];
    std::snprintf(h, sizeof h, "CRNRX,%03d,%03d,%02d,%s,", count, number, seq, message.Id.c_str());
    return std::string(h) + (number == 1 ? std::string(details) : std::string(",,,,,,,")) + ",";
  };
  auto room = [&](int number) { return MaxSentence - 1 - head(1, number).size() - 3 - 2; };

  std::vector<std::pair<std::size_t, std::size_t>> spans;  // [first, last) of parts per sentence
  std::size_t i = 0;
  do {
    const std::size_t limit = room(static_cast<int>(spans.size()) + 1);
    std::size_t used = 0, j = i;
    while (j < parts.size() && used + parts[j].size() <= limit) used += parts[j++].size();
    spans.emplace_back(i, j);
    i = j;
  } while (i < parts.size() && static_cast<int>(spans.size()) < MaxSentences);

  std::vector<std::string> out;
  const int count = static_cast<int>(spans.size());
  for (int n = 0; n < count; ++n) {
    std::string body = head(count, n + 1);
    for (std::size_t k = spans[n].first; k < spans[n].second; ++k) body += parts[k];
    out.push_back(Finish(body));
  }
  return out;
}

}  // namespace brontel
