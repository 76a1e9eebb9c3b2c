// Selection of stations and subjects, as on ship receivers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stations/selection.h"

namespace brontel::stations {
namespace {

msg::TMessage Message(const char* id)
{
  msg::TMessage m;
  m.Id = id;
  m.HasHeader = true;
  m.Station = id[0] == '*' ? 0 : id[0];
  m.Subject = id[1] == '*' ? 0 : id[1];
  m.Serial = (id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9') ? (id[2] - '0') * 10 + (id[3] - '0') : -1;
  return m;
}

TEST(Selection, StationsKSubjectsMandatoryOnly)
{
  TSelection sel;
  std::string error;
  ASSERT_TRUE(ParseStations("k", sel.Stations, error)) << error;
  ASSERT_TRUE(ParseSubjects("-", sel.Subjects, error)) << error;
  struct TCase {
    const char* Id;
    bool Selected;
  };
  const std::vector<TCase> cases = {
      {"XA01", false},  // station not selected, whatever the subject
      {"KE01", false},  // forecasts can be deselected
      {"KE00", true},   // serial 00 always passes
      {"XE00", true},
      {"KA05", true},  {"KB05", true}, {"KD05", true}, {"KL05", true},  // cannot be deselected
      {"*A05", true},   // unreadable station: never hidden
      {"*E05", false},
      {"K*05", true},   // unreadable subject
      {"KE**", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(IsSelected(sel, Message(c.Id)), c.Selected) << c.Id;
  sel.Subjects.reset();  // a selection made without the parser still keeps A, B, D and L
  for (const TCase& c : cases) EXPECT_EQ(IsSelected(sel, Message(c.Id)), c.Selected) << c.Id;
  msg::TMessage fragment;  // text without a header
  EXPECT_TRUE(IsSelected(sel, fragment));
  for (const char* id : {"XA01", "KE01", "QZ12"}) EXPECT_TRUE(IsSelected(TSelection::All(), Message(id))) << id;
}

TEST(Selection, SettingsAndCommandLineValues)
{
  struct TCase {
    const char* Text;
    bool Subjects;
    const char* Formatted;  // nullptr: rejected
  };
  const std::vector<TCase> cases = {
      {"K", false, "K"},          {"a, b d", false, "ABD"},   {"", false, "*"},
      {"*", false, "*"},          {"-", false, "-"},          {"E", true, "ABDEL"},
      {"-", true, "ABDL"},        {" * ", true, "*"},         {"zyxA", false, "AXYZ"},
      {"K1", false, nullptr},     {"*K", false, nullptr},     {"-E", true, nullptr},
      {"K;L", false, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::bitset<26> letters;
    std::string error;
    const bool ok = c.Subjects ? ParseSubjects(c.Text, letters, error) : ParseStations(c.Text, letters, error);
    ASSERT_EQ(ok, c.Formatted != nullptr) << error;
    if (!ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    const std::string formatted = FormatLetters(letters);
    EXPECT_EQ(formatted, c.Formatted);
    std::bitset<26> again;
    ASSERT_TRUE(c.Subjects ? ParseSubjects(formatted, again, error) : ParseStations(formatted, again, error));
    EXPECT_EQ(again, letters) << "round trip";
  }
}

}  // namespace
}  // namespace brontel::stations
