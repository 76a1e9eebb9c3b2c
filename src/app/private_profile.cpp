#include "app/private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

namespace brontel {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t MaxFileBytes = 16u << 20;  // a settings file is a few hundred bytes

std::string Reason(int err) { return std::error_code(err, std::generic_category()).message(); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b)
{
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// A section line "[name]": its name.
std::optional<std::string_view> SectionOf(std::string_view line)
{
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  t.remove_prefix(1);
  const std::size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;  // "[name" alone is no section
  return Trim(t.substr(0, close));
}

struct TKeyLine {
  std::string_view Key, Value;
};

// A key line "key=value" (not a comment, not a section).
std::optional<TKeyLine> KeyOf(std::string_view line)
{
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TKeyLine{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

std::string_view Unquote(std::string_view v)
{
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

int HexDigit(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t ProfileInt(std::string_view text, int32_t def)
{
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 3 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return def;

  uint64_t magnitude = 0;
  for (const char c : s) {
    const int d = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return def;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (magnitude > 0xFFFFFFFFull) return def;
  }
  if (base == 16) {
    // 32 bits as the two's complement pattern, then the sign.
    const auto bits = static_cast<uint32_t>(magnitude);
    const uint32_t value = negative ? 0u - bits : bits;
    return static_cast<int32_t>(value);
  }
  if (negative) {
    if (magnitude > 2147483648ull) return def;
    return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  }
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return def;
  return static_cast<int32_t>(magnitude);
}

bool ProfileBool(std::string_view text, bool def) { return ProfileInt(text, def ? 1 : 0) != 0; }

TPrivateProfile::TLoad TPrivateProfile::Load(const std::string& path, std::string* error)
{
  Lines.clear();
  Bom = false;
  auto fail = [&](int err, const char* reason = nullptr) {
    if (error) *error = reason ? std::string(reason) : Reason(err);
    return TLoad::Failed;
  };

  // Never blocks: a pipe would wait for a writer, a device for its data.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return TLoad::Missing;
    return fail(errno);
  }
  if (S_ISDIR(st.st_mode)) return fail(EISDIR);
  if (!S_ISREG(st.st_mode)) return fail(0, NotRegularFileReason);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return TLoad::Missing;
    return fail(errno);
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // replaced since the look above
    ::close(fd);
    return fail(0, NotRegularFileReason);
  }
  std::string data;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return fail(err);
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > MaxFileBytes) {
      ::close(fd);
      return fail(EFBIG);
    }
  }
  ::close(fd);

  std::string_view rest = data;
  if (rest.substr(0, Utf8Bom.size()) == Utf8Bom) {
    Bom = true;
    rest.remove_prefix(Utf8Bom.size());
  }
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) {
      Lines.push_back({std::string(rest), {}});
      break;
    }
    std::string_view line = rest.substr(0, nl);
    const bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.remove_suffix(1);
    Lines.push_back({std::string(line), cr ? "\r\n" : "\n"});
    rest.remove_prefix(nl + 1);
  }
  return TLoad::Ok;
}

const std::string& TPrivateProfile::NewLineEnd() const
{
  static const std::string lf = "\n";
  for (const TLine& line : Lines)
    if (!line.End.empty()) return line.End;
  return lf;
}

std::string TPrivateProfile::Text() const
{
  std::string out;
  if (Bom) out += Utf8Bom;
  for (const TLine& line : Lines) {
    out += line.Text;
    out += line.End.empty() ? NewLineEnd() : line.End;  // a last line gets its end when written
  }
  return out;
}

bool TPrivateProfile::Save(const std::string& path, std::string& error, const TFileWriteCalls& calls) const
{
  return WriteFileAtomically(path, Text(), error, calls);
}

std::optional<std::string> TPrivateProfile::Get(std::string_view section, std::string_view key) const
{
  bool inSection = false, seen = false;
  for (const TLine& entry : Lines) {
    const std::string& line = entry.Text;
    if (const auto name = SectionOf(line)) {
      if (seen) break;  // only the first section of that name counts
      inSection = SameName(*name, section);
      seen = inSection;
      continue;
    }
    if (!inSection) continue;
    if (const auto kv = KeyOf(line); kv && SameName(kv->Key, key)) return std::string(Unquote(kv->Value));
  }
  return std::nullopt;
}

std::string TPrivateProfile::GetString(std::string_view section, std::string_view key,
                                       std::string_view def) const
{
  const auto v = Get(section, key);
  return v ? *v : std::string(def);
}

int32_t TPrivateProfile::GetInt(std::string_view section, std::string_view key, int32_t def) const
{
  const auto v = Get(section, key);
  return v ? ProfileInt(*v, def) : def;
}

bool TPrivateProfile::GetBool(std::string_view section, std::string_view key, bool def) const
{
  const auto v = Get(section, key);
  return v ? ProfileBool(*v, def) : def;
}

bool TPrivateProfile::Set(std::string_view section, std::string_view key, std::string_view value)
{
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty() || HasLineEnd(section) || HasLineEnd(key) || HasLineEnd(value) ||
      section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
      key.front() == ';' || key.front() == '[')
    return false;

  std::string newLine(key);
  newLine.push_back('=');
  newLine.append(value);
  const std::string end = NewLineEnd();
  std::size_t i = 0;
  for (; i < Lines.size(); ++i) {
    const auto name = SectionOf(Lines[i].Text);
    if (name && SameName(*name, section)) break;
  }
  if (i == Lines.size()) {
    if (!Lines.empty() && Lines.back().End.empty()) Lines.back().End = end;
    if (!Lines.empty() && !Trim(Lines.back().Text).empty()) Lines.push_back({{}, end});
    std::string header(1, '[');
    header.append(section);
    header.push_back(']');
    Lines.push_back({std::move(header), end});
    Lines.push_back({std::move(newLine), end});
    return true;
  }

  std::size_t lastContent = i;  // the section line or its last non-blank line
  for (std::size_t j = i + 1; j < Lines.size(); ++j) {
    if (SectionOf(Lines[j].Text)) break;
    if (const auto kv = KeyOf(Lines[j].Text); kv && SameName(kv->Key, key)) {
      Lines[j].Text = std::move(newLine);
      return true;
    }
    if (!Trim(Lines[j].Text).empty()) lastContent = j;
  }
  if (Lines[lastContent].End.empty()) Lines[lastContent].End = end;
  Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), TLine{std::move(newLine), end});
  return true;
}

}  // namespace brontel
