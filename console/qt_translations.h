#pragma once
// Qt's own texts (the panes' context menus, the standard dialogs' buttons) in Russian, like the
// rest of the interface, from the translations Qt ships (Debian: qt6-translations-l10n).

class QCoreApplication;

namespace velmora::console {

// Installs the translator on `app`; false when Qt's Russian translations are not installed, in
// which case Qt's texts stay in English.
bool InstallQtRussianTranslations(QCoreApplication& app);

}  // namespace velmora::console
