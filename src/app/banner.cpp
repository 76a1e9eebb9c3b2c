// The text the memo shows until the first line is received: a framed banner
// and the NAVTEX broadcast schedule of the Japanese coast stations. Every
// framed line is 50 columns wide in a monospaced font (a full-width
// character takes two columns, so in code page 932 columns equal bytes).
#include "app/banner.h"

#include <string_view>

#include "decoder/cp932.h"

namespace brontel {

namespace {

// UTF-8; the last line is empty.
constexpr std::string_view BannerLines[] = {
    "//////////////////////////////////////////////////",
    "//  Brontel ver.1.0.0 build001                  //",
    "//////////////////////////////////////////////////",
    "//  ナブテックス放送スケジュール                //",
    "//       英文                                   //",
    "//        518kHz CW BW>250Hz                    //",
    "//         那覇  門司  横浜  小樽  釧路         //",
    "//         0200  0210  0220  0230  0240         //",
    "//         0600  0610  0620  0630  0640         //",
    "//         1000  1010  1020  1030  1040         //",
    "//         1400  1410  1420  1430  1440         //",
    "//         1800  1810  1820  1830  1840         //",
    "//         2200  2210  2220  2230  2240 JST     //",
    "//       和文                                   //",
    "//        424kHz CW BW>250Hz                    //",
    "//         那覇  門司  横浜  小樽  釧路         //",
    "//         0100  0117  0134  0151  0208         //",
    "//         0500  0517  0534  0551  0608         //",
    "//         0900  0917  0934  0951  1008         //",
    "//         1300  1317  1334  1351  1408         //",
    "//         1700  1717  1734  1751  1708         //",
    "//         2100  2117  2134  2151  2208 JST     //",
    "//////////////////////////////////////////////////",
    "",
};

}  // namespace

const std::string& MemoBanner()
{
  static const std::string banner = [] {
    std::string text;
    for (const std::string_view line : BannerLines) {
      std::string bytes;
      Utf8ToCp932(line, bytes);  // every character has a code page 932 form
      text += bytes;
      text += "\r\n";
    }
    return text;
  }();
  return banner;
}

}  // namespace brontel
