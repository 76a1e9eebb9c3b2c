#include "app/message_window_settings.h"

#include <string>

#include "app/private_profile.h"

namespace brontel {

namespace {

constexpr const char* Section = "MessageWindow";

std::vector<int32_t> ReadWidths(const std::string& text)
{
  std::vector<int32_t> widths;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t comma = text.find(',', start);
    const int32_t w = ProfileInt(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), 0);
    if (w <= 0) break;
    widths.push_back(w);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return widths;
}

}  // namespace

TMessageWindowSettings LoadMessageWindowSettings(const std::string& path)
{
  TPrivateProfile p;
  p.Load(path);
  const TMessageWindowSettings d;
  TMessageWindowSettings s;
  s.InFile = p.Get(Section, "Width").has_value();
  s.Left = p.GetInt(Section, "Left", d.Left);
  s.Top = p.GetInt(Section, "Top", d.Top);
  s.Width = p.GetInt(Section, "Width", d.Width);
  s.Height = p.GetInt(Section, "Height", d.Height);
  s.Split = p.GetInt(Section, "Split", d.Split);
  s.Columns = ReadWidths(p.GetString(Section, "Columns", ""));
  const std::string sort = p.GetString(Section, "Sort", "");
  if (const std::size_t comma = sort.find(','); comma != std::string::npos) {
    s.SortColumn = ProfileInt(sort.substr(0, comma), -1);
    s.SortAscending = sort.substr(comma + 1) == "a";
  }
  // A file that holds nothing of the window yet: the first start, where it opens.
  s.Open = p.GetBool(Section, "Open", !s.InFile);
  s.ShowAll = p.GetBool(Section, "ShowAll", d.ShowAll);
  s.NewOnly = p.GetBool(Section, "NewOnly", d.NewOnly);
  s.Stations = p.GetString("Messages", "Stations", d.Stations);
  s.Subjects = p.GetString("Messages", "Subjects", d.Subjects);
  s.Position = p.GetString("Station", "Position", d.Position);
  return s;
}

bool SaveMessageWindowSettings(const std::string& path, const TMessageWindowSettings& s, bool selection,
                               std::string& reason, const TFileWriteCalls& calls)
{
  TPrivateProfile p;
  if (p.Load(path, &reason) == TPrivateProfile::TLoad::Failed) return false;
  p.Set(Section, "Left", std::to_string(s.Left));
  p.Set(Section, "Top", std::to_string(s.Top));
  p.Set(Section, "Width", std::to_string(s.Width));
  p.Set(Section, "Height", std::to_string(s.Height));
  p.Set(Section, "Split", std::to_string(s.Split));
  std::string widths;
  for (const int32_t w : s.Columns) {
    if (!widths.empty()) widths.push_back(',');
    widths += std::to_string(w);
  }
  p.Set(Section, "Columns", widths);
  p.Set(Section, "Sort", std::to_string(s.SortColumn) + (s.SortAscending ? ",a" : ",d"));
  p.Set(Section, "Open", s.Open ? "1" : "0");
  p.Set(Section, "ShowAll", s.ShowAll ? "1" : "0");
  p.Set(Section, "NewOnly", s.NewOnly ? "1" : "0");
  if (selection) {
    // A value that would break the file's lines is not written; the old one stays.
    p.Set("Messages", "Stations", s.Stations);
    p.Set("Messages", "Subjects", s.Subjects);
    p.Set("Station", "Position", s.Position);
  }
  return p.Save(path, reason, calls);
}

}  // namespace brontel
