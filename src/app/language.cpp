#include "app/language.h"

#include <cctype>
#include <cstdlib>
#include <optional>

namespace brontel {

namespace {

// The language a locale or language name starts with; nothing when it names
// neither of ours.
std::optional<TLanguage> Named(std::string_view name)
{
  const auto starts = [&](const char* prefix) {
    return name.size() >= 2 && std::tolower(static_cast<unsigned char>(name[0])) == prefix[0] &&
           std::tolower(static_cast<unsigned char>(name[1])) == prefix[1];
  };
  if (starts("ja")) return TLanguage::Japanese;
  if (starts("en")) return TLanguage::English;
  return std::nullopt;
}

}  // namespace

TLanguage ChooseLanguage(std::string_view setting, const TEnvironment& environment)
{
  while (!setting.empty() && std::isspace(static_cast<unsigned char>(setting.front()))) setting.remove_prefix(1);
  if (const std::optional<TLanguage> chosen = Named(setting)) return *chosen;
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = environment ? environment(name) : nullptr;
    if (!value || !*value) continue;
    // LANGUAGE may list several languages ("ja:en"): the first one counts.
    std::string_view first(value);
    first = first.substr(0, first.find(':'));
    return Named(first).value_or(TLanguage::English);
  }
  return TLanguage::English;
}

TLanguage ChooseLanguage(std::string_view setting)
{
  return ChooseLanguage(setting, [](const char* name) -> const char* { return std::getenv(name); });
}

const char* LanguageCode(TLanguage language) { return language == TLanguage::Japanese ? "ja" : "en"; }

}  // namespace brontel
