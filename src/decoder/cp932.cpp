#include "decoder/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace brontel {

namespace {

// One conversion; on an invalid or incomplete input sequence `onBad` decides
// what to emit and the input advances by one byte. Returns false if onBad refuses.
template <typename OnBad>
bool Convert(const char* to, const char* from, std::string_view text, std::string& out, OnBad onBad)
{
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char buf[256];
  bool ok = true;
  while (inLeft > 0) {
    char* o = buf;
    std::size_t oLeft = sizeof buf;
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, o - buf);
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: skip one byte of input.
    if (!onBad(out)) {
      ok = false;
      break;
    }
    ++in;
    --inLeft;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view text)
{
  std::string out;
  Convert("UTF-8", "CP932", text, out, [](std::string& o) {
    o.append("\xEF\xBF\xBD");
    return true;
  });
  return out;
}

bool Utf8ToCp932(std::string_view text, std::string& out)
{
  return Convert("CP932", "UTF-8", text, out, [](std::string&) { return false; });
}

}  // namespace brontel
