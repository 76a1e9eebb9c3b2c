#include "stations/station_list.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>

namespace brontel::stations {

namespace {

constexpr std::string_view Header = "letter,name,country,navarea,frequency_khz,latitude,longitude,times_utc,source";
constexpr std::array<const char*, 21> Roman = {"I",    "II",  "III", "IV",  "V",    "VI",    "VII",
                                               "VIII", "IX",  "X",   "XI",  "XII",  "XIII",  "XIV",
                                               "XV",   "XVI", "XVII", "XVIII", "XIX", "XX", "XXI"};

std::string_view Trim(std::string_view s)
{
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Split(std::string_view line, char sep)
{
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= line.size(); ++k) {
    if (k == line.size() || line[k] == sep) {
      out.push_back(Trim(line.substr(start, k - start)));
      start = k + 1;
    }
  }
  return out;
}

// "0040 0440 2040" -> minutes after midnight, ascending.
bool ParseTimes(std::string_view text, std::vector<int>& out)
{
  out.clear();
  for (std::string_view t : Split(text, ' ')) {
    if (t.empty()) continue;
    if (t.size() != 4 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    const int h = (t[0] - '0') * 10 + (t[1] - '0'), m = (t[2] - '0') * 10 + (t[3] - '0');
    if (h > 23 || m > 59) return false;
    out.push_back(h * 60 + m);
  }
  std::sort(out.begin(), out.end());
  return std::adjacent_find(out.begin(), out.end()) == out.end();
}

bool ParseFrequency(std::string_view text, double& khz)
{
  const std::string s(text);
  char* end = nullptr;
  khz = std::strtod(s.c_str(), &end);
  return !s.empty() && end == s.c_str() + s.size() && IsNavtexFrequency(khz);
}

}  // namespace

bool IsNavtexFrequency(double khz)
{
  for (const double f : {518.0, 490.0, 424.0, 4209.5})
    if (khz == f) return true;
  return false;
}

int ParseNavArea(std::string_view text)
{
  text = Trim(text);
  std::string up;
  for (const char c : text) up.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  std::string_view s = up;
  if (s.starts_with("NAVAREA")) s = Trim(s.substr(7));
  if (!s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int n = s.size() <= 2 ? std::atoi(std::string(s).c_str()) : 0;
    return n >= 1 && n <= 21 ? n : 0;
  }
  for (std::size_t k = 0; k < Roman.size(); ++k)
    if (s == Roman[k]) return static_cast<int>(k) + 1;
  return 0;
}

std::string NavAreaName(int area) { return area >= 1 && area <= 21 ? Roman[area - 1] : "?"; }

bool ParseStations(std::string_view text, std::string_view name, std::vector<TStation>& out, std::string& error)
{
  std::vector<TStation> stations;
  std::set<std::string, std::less<>> sources;
  std::map<std::tuple<char, double, std::string>, int> seen;  // letter, frequency, name -> line
  bool header = false;
  int lineNo = 0;
  std::size_t pos = 0;
  auto fail = [&](const std::string& what) {
    error = std::string(name) + ":" + std::to_string(lineNo) + ": " + what;
    return false;
  };
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    const std::string_view line = Trim(text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos));
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    ++lineNo;
    if (line.empty()) continue;
    if (line.front() == '#') {
      const std::string_view c = Trim(line.substr(1));
      if (c.starts_with("source ")) {
        const std::size_t colon = c.find(':');
        const std::string_view key = Trim(c.substr(7, colon == std::string_view::npos ? std::string_view::npos : colon - 7));
        if (colon == std::string_view::npos || key.empty() || Trim(c.substr(colon + 1)).empty())
          return fail("a source is declared as '# source KEY: description'");
        sources.emplace(key);
      }
      continue;
    }
    if (!header) {
      if (line != Header) return fail("the header must be '" + std::string(Header) + "'");
      header = true;
      continue;
    }
    const std::vector<std::string_view> f = Split(line, ',');
    if (f.size() != 9) return fail("expected 9 fields separated by commas, found " + std::to_string(f.size()));
    TStation s;
    s.Line = lineNo;
    if (f[0].size() != 1 || f[0][0] < 'A' || f[0][0] > 'Z') return fail("letter '" + std::string(f[0]) + "' is not one of A to Z");
    s.Letter = f[0][0];
    if (f[1].empty()) return fail("the name is empty");
    if (f[2].empty()) return fail("the country is empty");
    s.Name = f[1];
    s.Country = f[2];
    s.NavArea = ParseNavArea(f[3]);
    if (!s.NavArea) return fail("NAVAREA '" + std::string(f[3]) + "' is not a number from I to XXI");
    if (!ParseFrequency(f[4], s.FrequencyKhz))
      return fail("frequency '" + std::string(f[4]) + "' is not 518, 490, 424 or 4209.5 (kHz)");
    if (f[5].empty() != f[6].empty()) return fail("give both latitude and longitude, or neither");
    if (!f[5].empty()) {
      const std::optional<double> lat = ParseCoordinate(f[5], true), lon = ParseCoordinate(f[6], false);
      if (!lat) return fail("latitude '" + std::string(f[5]) + "' is not a latitude such as 50-35N");
      if (!lon) return fail("longitude '" + std::string(f[6]) + "' is not a longitude such as 001-18W");
      s.Position = TLatLon{*lat, *lon};
    }
    if (!ParseTimes(f[7], s.Times))
      return fail("times '" + std::string(f[7]) + "' are not distinct UTC times such as 0040 0440");
    if (f[8].empty()) return fail("no source named");
    for (const std::string_view key : Split(f[8], ' '))
      if (!key.empty() && !sources.count(key))
        return fail("source '" + std::string(key) + "' is not declared in a '# source' line above");
    s.Source = f[8];
    const auto [it, fresh] = seen.emplace(std::make_tuple(s.Letter, s.FrequencyKhz, s.Name), lineNo);
    if (!fresh) return fail("repeats the station of line " + std::to_string(it->second));
    stations.push_back(std::move(s));
  }
  if (!header) {
    error = std::string(name) + ": no header line";
    return false;
  }
  out = std::move(stations);
  return true;
}

bool LoadStations(const std::string& path, std::vector<TStation>& out, std::string& error)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  return ParseStations(text.str(), path, out, error);
}

std::string FindStationFile()
{
  namespace fs = std::filesystem;
  std::error_code ec;
  if (const char* env = std::getenv("BRONTEL_STATIONS"); env && *env) return env;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = exe.parent_path().parent_path() / "share" / "brontel" / "navtex-stations.csv";
    if (fs::exists(installed, ec)) return installed.string();
  }
#ifdef BRONTEL_SOURCE_STATIONS
  if (fs::exists(BRONTEL_SOURCE_STATIONS, ec)) return BRONTEL_SOURCE_STATIONS;
#endif
  return {};
}

}  // namespace brontel::stations
