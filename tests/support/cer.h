// Character error rate of received text against the text that was sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brontel::test {

// The characters (code points) of UTF-8 text; an invalid byte counts as one character.
std::u32string CodePoints(std::string_view utf8);

// Insertions, deletions and substitutions that turn `got` into `sent`.
std::size_t EditDistance(std::u32string_view got, std::u32string_view sent);

// Characters of `sent` found in order in `got` (longest common subsequence).
std::size_t CommonChars(std::u32string_view got, std::u32string_view sent);

// Edit distance over the length of `sent`, both UTF-8; 0 for two empty texts.
double CharErrorRate(std::string_view gotUtf8, std::string_view sentUtf8);

}  // namespace brontel::test
