// The fonts of Brontel's windows. The forms are laid out for the Japanese
// Gothic faces "ＭＳ ゴシック" (monospaced: a full-width character is exactly
// two half-width columns) and "ＭＳ Ｐゴシック" (proportional); here they are
// Noto Sans Mono CJK JP and Noto Sans CJK JP (fonts-noto-cjk), named
// explicitly and sized in pixels, never left to the font configuration's
// default.
#pragma once

#include <QFont>
#include <QString>

namespace brontel {

inline constexpr const char* GothicFamily = "Noto Sans Mono CJK JP";   // for "ＭＳ ゴシック"
inline constexpr const char* PGothicFamily = "Noto Sans CJK JP";       // for "ＭＳ Ｐゴシック"

// "ＭＳ ゴシック" with a character height of `pixels`.
inline QFont GothicFont(int pixels)
{
  QFont font(QString::fromLatin1(GothicFamily));
  font.setPixelSize(pixels);
  font.setStyleHint(QFont::Monospace, QFont::PreferMatch);
  font.setFixedPitch(true);
  font.setKerning(false);
  return font;
}

// "ＭＳ Ｐゴシック" with a character height of `pixels`: the forms' own font.
inline QFont PGothicFont(int pixels)
{
  QFont font(QString::fromLatin1(PGothicFamily));
  font.setPixelSize(pixels);
  font.setStyleHint(QFont::SansSerif, QFont::PreferMatch);
  return font;
}

}  // namespace brontel
