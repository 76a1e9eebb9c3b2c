#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace brontel {

namespace {

TLanguage Installed = TLanguage::Japanese;

}  // namespace

TLanguage InterfaceLanguage() { return Installed; }

QStringList TranslationFolders()
{
  return {QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/brontel/translations")),
          QStringLiteral(":/i18n")};
}

TTranslations::TTranslations() = default;

TTranslations::~TTranslations()
{
  if (Own) QCoreApplication::removeTranslator(Own.get());
  if (Toolkit) QCoreApplication::removeTranslator(Toolkit.get());
}

bool TTranslations::Install(TLanguage language)
{
  if (Own) QCoreApplication::removeTranslator(Own.get());
  if (Toolkit) QCoreApplication::removeTranslator(Toolkit.get());
  Own = std::make_unique<QTranslator>();
  Toolkit.reset();
  Installed = language;

  const QString name = QStringLiteral("brontel_") + QString::fromLatin1(LanguageCode(language));
  bool loaded = false;
  for (const QString& folder : TranslationFolders())
    if ((loaded = Own->load(name, folder))) break;
  if (loaded) QCoreApplication::installTranslator(Own.get());

  // Qt's own texts are English already; Japanese where Qt's translations are installed.
  if (language == TLanguage::Japanese) {
    Toolkit = std::make_unique<QTranslator>();
    if (Toolkit->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      QCoreApplication::installTranslator(Toolkit.get());
    else
      Toolkit.reset();
  }
  return loaded;
}

}  // namespace brontel
