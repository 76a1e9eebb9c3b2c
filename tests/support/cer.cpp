#include "support/cer.h"

#include <algorithm>
#include <vector>

namespace brontel::test {

std::u32string CodePoints(std::string_view utf8)
{
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > utf8.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = len == 1 ? lead : lead & (0x7F >> len);
    for (std::size_t j = 1; j < len; ++j) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + j]) & 0x3F);
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::size_t EditDistance(std::u32string_view got, std::u32string_view sent)
{
  std::vector<std::size_t> prev(sent.size() + 1), cur(sent.size() + 1);
  for (std::size_t j = 0; j <= sent.size(); ++j) prev[j] = j;
  for (std::size_t i = 1; i <= got.size(); ++i) {
    cur[0] = i;
    for (std::size_t j = 1; j <= sent.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (got[i - 1] == sent[j - 1] ? 0 : 1)});
    std::swap(prev, cur);
  }
  return prev[sent.size()];
}

std::size_t CommonChars(std::u32string_view got, std::u32string_view sent)
{
  std::vector<std::size_t> prev(sent.size() + 1, 0), cur(sent.size() + 1, 0);
  for (char32_t g : got) {
    for (std::size_t j = 1; j <= sent.size(); ++j)
      cur[j] = g == sent[j - 1] ? prev[j - 1] + 1 : std::max(prev[j], cur[j - 1]);
    std::swap(prev, cur);
  }
  return prev[sent.size()];
}

double CharErrorRate(std::string_view gotUtf8, std::string_view sentUtf8)
{
  const std::u32string got = CodePoints(gotUtf8), sent = CodePoints(sentUtf8);
  if (sent.empty()) return got.empty() ? 0.0 : 1.0;
  return static_cast<double>(EditDistance(got, sent)) / static_cast<double>(sent.size());
}

}  // namespace brontel::test
