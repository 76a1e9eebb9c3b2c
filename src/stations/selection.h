// Which messages to receive, as on ship receivers: a set of stations (B1
// letters) and a set of subjects (B2 letters). Navigational warnings (A),
// meteorological warnings (B), search and rescue (D) and additional
// navigational warnings (L) cannot be deselected, and a message numbered 00
// always passes.
//
// A message outside the selection is still stored, marked as outside it; it
// is not announced, raises no alert, is not sent on (NRX, JSON, the text
// outputs) and is hidden in message lists unless the user asks for all.
#pragma once

#include <bitset>
#include <string>
#include <string_view>

#include "messages/message.h"

namespace brontel::stations {

// Subjects no selection can leave out.
inline constexpr std::string_view MandatorySubjects = "ABDL";

struct TSelection {
  std::bitset<26> Stations;  // bit k: letter 'A' + k
  std::bitset<26> Subjects;  // always holds MandatorySubjects

  static TSelection All();
  bool operator==(const TSelection&) const = default;
};

// Whether `m` is inside the selection. A message whose station or subject
// could not be read is inside: a damaged header must not hide a warning.
bool IsSelected(const TSelection& selection, const msg::TMessage& m);
bool IsSelected(const TSelection& selection, char station, char subject, int serial);

// Letter sets as written in the settings file ([Messages] Stations=,
// Subjects=) and on the command line (--stations, --subjects): letters,
// upper or lower case, optionally separated by spaces or commas; "*" or an
// empty value for all, "-" for none. Parsing subjects adds the mandatory
// ones. False with `error` naming the offending character.
bool ParseStations(std::string_view text, std::bitset<26>& stations, std::string& error);
bool ParseSubjects(std::string_view text, std::bitset<26>& subjects, std::string& error);
// "*" for all letters, "-" for none, else the letters in alphabetical order
// ("ABDEL"); what the parsers read back to the same set.
std::string FormatLetters(const std::bitset<26>& letters);

}  // namespace brontel::stations
