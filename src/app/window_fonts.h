// The fonts of Brontel's windows. The windows are laid out for two Japanese
// Gothic faces: a monospaced one (a full-width character is exactly two
// half-width columns) and a proportional one, at a character height of 12
// pixels. They are IPAGothic and IPAPGothic (fonts-ipafont-gothic), whose
// metrics at that size are the ones the layout was made for; Noto Sans Mono
// CJK JP and Noto Sans CJK JP (fonts-noto-cjk) stand in for any character the
// IPA faces lack. Every family is named explicitly and every size given in
// pixels, never left to the font configuration's default.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace brontel {

inline constexpr const char* GothicFamily = "IPAGothic";
inline constexpr const char* GothicFallback = "Noto Sans Mono CJK JP";
inline constexpr const char* PGothicFamily = "IPAPGothic";
inline constexpr const char* PGothicFallback = "Noto Sans CJK JP";

// The monospaced Gothic with a character height of `pixels`: the memo and the
// line being received.
inline QFont GothicFont(int pixels)
{
  QFont font;
  font.setFamilies({QString::fromLatin1(GothicFamily), QString::fromLatin1(GothicFallback)});
  font.setPixelSize(pixels);
  font.setStyleHint(QFont::Monospace, QFont::PreferMatch);
  font.setFixedPitch(true);
  font.setKerning(false);
  return font;
}

// The proportional Gothic with a character height of `pixels`: the windows'
// own font.
inline QFont PGothicFont(int pixels)
{
  QFont font;
  font.setFamilies({QString::fromLatin1(PGothicFamily), QString::fromLatin1(PGothicFallback)});
  font.setPixelSize(pixels);
  font.setStyleHint(QFont::SansSerif, QFont::PreferMatch);
  return font;
}

// The centre-frequency read-out's font: the monospaced Noto face with a
// character height of `pixels`.
inline QFont ReadoutFont(int pixels)
{
  QFont font(QString::fromLatin1(GothicFallback));
  font.setPixelSize(pixels);
  font.setStyleHint(QFont::Monospace, QFont::PreferMatch);
  font.setFixedPitch(true);
  font.setKerning(false);
  return font;
}

}  // namespace brontel
