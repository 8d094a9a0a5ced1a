// The settings file ZORVA.INI: the port's section through the port, the console's four options
// in the section "Velmora".

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "console/cp1251.h"

#include "console/main_window.h"
#include "console/settings_values.h"
#include "port/ini_file.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

constexpr char kSection[] = "Velmora";
// "0" while the operator has not chosen a port since a first start, "1" once one was chosen;
// absent from the file of an operator who never had a first start.
constexpr char kPortChosenKey[] = "PortChosen";

// A file name is the file system's, not text of the console: it keeps the system's encoding.
std::string FileSystemName(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

QString MainWindow::SettingsFilePath() const {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Velmora/ZORVA.INI");
}

void MainWindow::LoadSettingsFile() {
  const std::string path = FileSystemName(SettingsFilePath());
  const port::IniFile ini(path);
  // Without a settings file this is a first start: the design-time port was never chosen. Nor
  // was one in a file that cannot be read.
  portChosen_ = QFileInfo::exists(SettingsFilePath()) && ini.ReadError() == 0;
  // A FIFO, a device or a file far too large in its place is not read (every key then reads as
  // absent) and never written over; the operator learns why at once.
  if (const int unread = ini.ReadError()) {
    ShowSettingsFileError(QStringLiteral("Файл ") + SettingsFilePath() + QStringLiteral(" не прочитан"),
                          SettingsFileUnreadReason(unread) +
                              QStringLiteral(". Действуют настройки по умолчанию; файл не будет перезаписан."));
    ShowPortSummary();
    return;
  }
  try {
    port_.RestoreSettings(port::skIniFile, path);
    // The port's parsers take any text and put their default in place of one they do not know.
    const QStringList unknown = CheckLineSettings(ini, port_.Name());
    if (!unknown.isEmpty())
      ShowSettingsFileError(QStringLiteral("Нераспознанные значения в разделе [") +
                                DecodeCp1251(port_.Name()) + u']',
                            unknown.join(u'\n'));
  } catch (const std::exception& e) {
    ShowSettingsFileError(DecodeCp1251(e.what()));
  }
  try {
    if (portChosen_) portChosen_ = ini.ReadString(kSection, kPortChosenKey, "1") != "0";
    // Each option on its own: a bad one does not cost the ones after it.
    const OptionsRead read = ReadConsoleOptions(ini, options_);
    options_ = read.options;
    LoadSendCommands(ini);
    if (!read.problems.isEmpty())
      ShowSettingsFileError(read.conversionError.isEmpty()
                                ? QStringLiteral("Недопустимые значения в разделе [Velmora]")
                                : read.conversionError,
                            read.problems.join(u'\n'));
  } catch (const std::exception& e) {
    ShowSettingsFileError(DecodeCp1251(e.what()));
  }
  ShowPortSummary();
}

void MainWindow::SaveSettingsFile() {
  const QString path = SettingsFilePath();
  // The per-user folder may not exist yet; a folder that cannot be made shows as a refused
  // write below.
  QDir().mkpath(QFileInfo(path).absolutePath());
  const std::string name = FileSystemName(path);
  try {
    port_.SaveSettings(port::skIniFile, name);
  } catch (const std::exception& e) {
    ShowSettingsFileError(DecodeCp1251(e.what()));
  }
  try {
    port::IniFile ini(name);
    ini.WriteString(kSection, "RTS/CTS", std::to_string(options_.rtsCtsMode));
    ini.WriteString(kSection, "TxDelay", std::to_string(options_.keyingDelayMs));
    ini.WriteString(kSection, "CRLF", std::to_string(options_.lineEnding));
    ini.WriteString(kSection, "Editor", EncodeCp1251(options_.viewerPath));
    ini.WriteString(kSection, "SendMode", std::string(SendModeKey(options_.sendMode)));
    ini.WriteString(kSection, "SendCheck", std::string(CheckKindKey(options_.sendCheck)));
    SaveSendCommands(ini);
    // Written once the operator has had a session log, so that other files read as they did.
    if (!options_.sessionLogFolder.isEmpty() || ini.ValueExists(kSection, "SessionLog"))
      ini.WriteString(kSection, "SessionLog", EncodeCp1251(options_.sessionLogFolder));
    const ConsoleOptions defaults;
    for (const KeyerKey& key : kKeyerKeys)
      if (options_.*key.member != defaults.*key.member || ini.ValueExists(kSection, key.name))
        ini.WriteString(kSection, key.name, std::to_string(options_.*key.member));
    // Only once set: the file of an operator who never did reads as it always did.
    if (options_.frameGapMs != 0 || ini.ValueExists(kSection, "FrameGap"))
      ini.WriteString(kSection, "FrameGap", std::to_string(options_.frameGapMs));
    // Kept out of the file of an operator who chose the port, so that it reads as it always did.
    if (!portChosen_ || ini.ValueExists(kSection, kPortChosenKey))
      ini.WriteString(kSection, kPortChosenKey, portChosen_ ? "1" : "0");
  } catch (const std::exception& e) {
    ShowSettingsFileError(DecodeCp1251(e.what()));
  }
}

}  // namespace velmora::console
