// The language of the interface. The window, the dialogs and the notices
// exist in Japanese and in English; which one a user sees is chosen once, at
// start, from the settings file or the environment. Plain C++.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace brontel {

enum class TLanguage : uint8_t { Japanese, English };

// Reads an environment variable: its value, or null when it is not set.
using TEnvironment = std::function<const char*(const char* name)>;

// The language a `[Form] Language=` value asks for ("ja…" Japanese, "en…"
// English, case ignored), or the environment's when the value names neither
// (empty: not set): the first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that
// is set and not empty decides, as for every program's messages. Japanese
// when it starts with "ja", English otherwise (C and POSIX included).
TLanguage ChooseLanguage(std::string_view setting, const TEnvironment& environment);

// The same with the process's environment.
TLanguage ChooseLanguage(std::string_view setting);

// "ja" or "en".
const char* LanguageCode(TLanguage language);

}  // namespace brontel
