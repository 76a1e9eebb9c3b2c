// Code page 932 (Shift_JIS) text to UTF-8, through glibc iconv.
#pragma once

#include <string>
#include <string_view>

namespace brontel {

// Converts code page 932 bytes to UTF-8. A byte sequence that is not valid
// code page 932 becomes U+FFFD (one per offending byte); nothing is dropped
// silently and the rest of the text still converts.
std::string Cp932ToUtf8(std::string_view text);

// UTF-8 to code page 932; false if some character has no code page 932 form.
bool Utf8ToCp932(std::string_view text, std::string& out);

}  // namespace brontel
