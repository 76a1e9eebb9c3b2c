// The memo's start-up text: banner and broadcast schedule.
#pragma once

#include <string>

namespace brontel {

inline constexpr int BannerLineCount = 24;  // the last one empty
inline constexpr int BannerColumns = 50;    // width of every framed line

// The 24 lines in code page 932, each followed by "\r\n": exactly what the
// memo holds (and what is saved or copied) before any text is received.
const std::string& MemoBanner();

}  // namespace brontel
