#include "messages/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "decoder/cp932.h"

namespace brontel::msg {

namespace {

std::string Letter(char c) { return c ? std::string(1, c) : std::string("?"); }

// Reads exactly `n` digits at text[pos].
bool Digits(std::string_view text, std::size_t& pos, int n, int& value)
{
  if (pos + static_cast<std::size_t>(n) > text.size()) return false;
  value = 0;
  for (int k = 0; k < n; ++k) {
    const char c = text[pos++];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::string IsoTime(double utc)
{
  if (!std::isfinite(utc)) return "?";
  const std::time_t t = static_cast<std::time_t>(std::floor(utc));
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return "?";
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

bool ParseIsoTime(std::string_view text, double& utc)
{
  std::size_t pos = 0;
  int year, month, day, hour = 0, minute = 0, second = 0;
  auto expect = [&](char c) { return pos < text.size() && text[pos++] == c; };
  if (!Digits(text, pos, 4, year) || !expect('-') || !Digits(text, pos, 2, month) || !expect('-') ||
      !Digits(text, pos, 2, day))
    return false;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
    ++pos;
    if (!Digits(text, pos, 2, hour) || !expect(':') || !Digits(text, pos, 2, minute)) return false;
    if (pos < text.size() && text[pos] == ':' && (++pos, !Digits(text, pos, 2, second))) return false;
  }
  if (pos < text.size() && text[pos] == 'Z') ++pos;
  if (pos != text.size()) return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  // The date is checked before the seconds are added: a leap second (23:59:60)
  // is the second after 23:59:59, not a day that does not exist.
  const std::time_t t = timegm(&tm);
  if (tm.tm_mday != day) return false;  // 31 April and the like
  utc = static_cast<double>(t) + second;
  return true;
}

std::string TMessageFormatter::Text(const TMessage& m, bool utf8, bool withChannel, std::optional<double> doubtBelow)
{
  char cer[32];
  std::snprintf(cer, sizeof cer, "%.1f %%", m.Cer * 100.0);
  std::string head = IsoTime(m.Start) + "  ";
  if (m.HasHeader) {
    head += m.Id + "  station " + Letter(m.Station) + "  subject " + Letter(m.Subject);
    const std::string_view name = SubjectName(m.Subject);
    if (!name.empty()) head += " (" + std::string(name) + ")";
    head += "  serial ";
    if (m.Serial >= 0) {
      char serial[16];
      std::snprintf(serial, sizeof serial, "%02d", m.Serial);
      head += serial;
    } else {
      head += "?";
    }
  } else {
    head += "text outside a message";
  }
  head += "  errors " + std::string(cer) + "  " + std::string(StatusName(StatusOf(m)));
  if (m.Repeat) head += "  repeat";
  if (m.Copies > 1) head += " (" + std::to_string(m.Copies) + " copies)";
  if (withChannel) head += "  " + m.Channel + " channel";
  std::string out = head + "\n";
  const std::string text = doubtBelow ? MarkDoubt(m.Text, m.Confidence, *doubtBelow) : m.Text;
  out += utf8 ? Cp932ToUtf8(text) : text;
  if (!m.Text.empty() && m.Text.back() != '\n') out += '\n';
  out += '\n';
  return out;
}

std::string TMessageFormatter::JsonLine(const TMessage& m) { return JsonLine(m, nullptr); }

std::string TMessageFormatter::JsonLine(const TMessage& m, const TJsonExtras& extras) { return JsonLine(m, &extras); }

std::string TMessageFormatter::JsonLine(const TMessage& m, const TJsonExtras* extras)
{
  using json = nlohmann::ordered_json;
  json j;
  j["id"] = m.Id;
  j["station"] = m.Station ? json(std::string(1, m.Station)) : json(nullptr);
  if (extras) j["station_name"] = extras->StationName ? json(*extras->StationName) : json(nullptr);
  j["subject"] = m.Subject ? json(std::string(1, m.Subject)) : json(nullptr);
  j["subject_name"] = std::string(SubjectName(m.Subject));
  j["serial"] = m.Serial >= 0 ? json(m.Serial) : json(nullptr);
  j["text"] = Cp932ToUtf8(m.Text);
  if (extras) {
    j["positions"] = json::array();
    // To 1e-5 degrees (about a metre): the positions are written in minutes.
    const auto round = [](double x) { return std::round(x * 1e5) / 1e5; };
    for (const auto& p : extras->Positions) j["positions"].push_back({round(p[0]), round(p[1])});
  }
  j["status"] = std::string(StatusName(StatusOf(m)));
  j["header_ok"] = m.HeaderOk;
  j["trailer"] = m.Trailer;
  j["chars"] = m.Chars;
  j["erasures"] = m.Erasures;
  j["suspicious"] = m.Suspicious;
  j["lost"] = m.Lost;
  j["cer"] = std::round(m.Cer * 10000.0) / 10000.0;
  if (!m.Confidence.empty()) {
    json confidence = json::array();
    for (const float p : m.Confidence) confidence.push_back(std::round(std::clamp(p, 0.0f, 1.0f) * 1000.0) / 1000.0);
    j["confidence"] = std::move(confidence);
  }
  j["start"] = IsoTime(m.Start);
  j["end"] = IsoTime(m.End);
  if (m.Offset) j["offset"] = std::round(*m.Offset * 10.0) / 10.0;
  j["service"] = std::string(ServiceName(m.Service));
  j["decoder"] = m.Decoder;
  j["channel"] = m.Channel;
  if (!m.Receiver.empty()) j["receiver"] = m.Receiver;
  if (m.Frequency) j["frequency"] = *m.Frequency;
  j["repeat"] = m.Repeat;
  j["copies"] = m.Copies;
  if (m.StoreId) j["store_id"] = m.StoreId;
  // Text converted from code page 932 is valid UTF-8; replace anything else rather than throw.
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace brontel::msg
