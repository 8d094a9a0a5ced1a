#include "console/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velmora::console {

bool InstallQtRussianTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  // "qtbase_ru" covers the widgets and dialogs the console uses.
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace velmora::console
