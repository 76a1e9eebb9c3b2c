#include "stations/selection.h"

namespace brontel::stations {

namespace {

bool Has(const std::bitset<26>& set, char c) { return c >= 'A' && c <= 'Z' && set.test(static_cast<std::size_t>(c - 'A')); }

bool ParseLetters(std::string_view text, std::bitset<26>& letters, std::string& error)
{
  std::bitset<26> out;
  bool any = false, all = false, none = false;
  for (const char raw : text) {
    if (raw == ' ' || raw == ',' || raw == '\t') continue;
    if (raw == '*' || raw == '-') {
      (raw == '*' ? all : none) = true;
      continue;
    }
    const char c = (raw >= 'a' && raw <= 'z') ? static_cast<char>(raw - 'a' + 'A') : raw;
    if (c < 'A' || c > 'Z') {
      error = std::string(1, '\'').append(1, raw).append("' in '").append(text).append("' is not a letter from A to Z");
      return false;
    }
    out.set(static_cast<std::size_t>(c - 'A'));
    any = true;
  }
  if (int(all) + int(none) + int(any) > 1) {
    error = std::string(1, '\'').append(text).append("' mixes letters, '*' (all) and '-' (none)");
    return false;
  }
  letters = any || none ? out : std::bitset<26>().set();
  return true;
}

}  // namespace

TSelection TSelection::All()
{
  TSelection s;
  s.Stations.set();
  s.Subjects.set();
  return s;
}

bool IsSelected(const TSelection& selection, char station, char subject, int serial)
{
  if (serial == 0) return true;
  const bool knownStation = station >= 'A' && station <= 'Z';
  const bool knownSubject = subject >= 'A' && subject <= 'Z';
  if (knownStation && !Has(selection.Stations, station)) return false;
  if (knownSubject && MandatorySubjects.find(subject) == std::string_view::npos && !Has(selection.Subjects, subject))
    return false;
  return true;
}

bool IsSelected(const TSelection& selection, const msg::TMessage& m)
{
  if (!m.HasHeader) return true;
  return IsSelected(selection, m.Station, m.Subject, m.Serial);
}

bool ParseStations(std::string_view text, std::bitset<26>& stations, std::string& error)
{
  return ParseLetters(text, stations, error);
}

bool ParseSubjects(std::string_view text, std::bitset<26>& subjects, std::string& error)
{
  if (!ParseLetters(text, subjects, error)) return false;
  for (const char c : MandatorySubjects) subjects.set(static_cast<std::size_t>(c - 'A'));
  return true;
}

std::string FormatLetters(const std::bitset<26>& letters)
{
  if (letters.all()) return "*";
  if (letters.none()) return "-";
  std::string out;
  for (std::size_t k = 0; k < 26; ++k)
    if (letters.test(k)) out.push_back(static_cast<char>('A' + k));
  return out;
}

}  // namespace brontel::stations
