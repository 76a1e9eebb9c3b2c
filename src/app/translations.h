// The interface's translations on the Qt side. The Japanese texts of the
// main window, the device dialog and the notice window are their own source
// texts, with an English translation; the texts added since are written in
// English, with a Japanese translation. Installing a language puts Brontel's
// translator (brontel_ja.qm or brontel_en.qm) and, for Japanese, Qt's own
// (the standard buttons and menus) into the application.
//
//   TTranslations translations;
//   translations.Install(ChooseLanguage(settings.Language));
//   ... build the windows ...
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "app/language.h"

class QTranslator;

namespace brontel {

class TTranslations {
public:
  TTranslations();
  ~TTranslations();  // takes its translators out of the application again
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;

  // Installs the translators of `language` (replacing those this object
  // installed before); windows built afterwards speak it. False when
  // Brontel's own translation could not be loaded (the source texts show).
  bool Install(TLanguage language);

private:
  std::unique_ptr<QTranslator> Own;
  std::unique_ptr<QTranslator> Toolkit;
};

// The language installed last (Japanese, the source language of the
// specified texts, before any).
TLanguage InterfaceLanguage();

// Where Brontel's translations are looked for, in this order: the installed
// folder (share/brontel/translations beside the program's bin folder), then
// the copies built into the program.
QStringList TranslationFolders();

}  // namespace brontel
