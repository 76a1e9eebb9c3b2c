#pragma once

// The texts the evaluation tools send: four English messages and three
// Japanese lines, the same in every tool so that their figures compare.

namespace brontel::eval {

inline const char* const EnglishTexts[] = {
    "ZCZC OA01\nSECURITE. NAVAREA WARNING 123. BUOY OFF STATION IN 12-34.5N 001-23.4W.\n"
    "VESSELS ARE REQUESTED TO KEEP CLEAR AND REPORT SIGHTINGS TO THE COASTGUARD.\nNNNN\n",
    "ZCZC WE42\nGALE WARNING. NORTHERLY WINDS FORCE 8 EXPECTED IN AREA FISHER LATER.\n"
    "SEA ROUGH OR VERY ROUGH, VISIBILITY MODERATE IN RAIN. OUTLOOK: DECREASING 5.\nNNNN\n",
    "ZCZC KA07\nTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 (TEST) ?/=+:,.\n"
    "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS. 2026 DEC 07 1200 UTC.\nNNNN\n",
    "ZCZC GB18\n071030 UTC DEC\nDRIFTING CONTAINER REPORTED 51-02N 001-48E AT 0815 UTC.\n"
    "MARINERS ARE ADVISED TO MAINTAIN A SHARP LOOKOUT.\nCANCEL THIS MSG 081030 UTC DEC.\nNNNN\n",
};

inline const char* const JapaneseTexts[] = {
    "ＺＣＺＣ　航行警報\n東京湾　浮標消灯中\n付近航行の船舶は注意されたい。\n",
    "海上保安庁より\n強風注意報　北の風　やや強く\n波の高さ　２．５メートル\n",
    "ＮＡＶＴＥＸ　試験放送\n漁船は港に戻ること。\n本日１２時から作業を行う\n",
};

}  // namespace brontel::eval
