// The settings file ZORVA.INI: the port's section through the port, the console's four options
// in the section "Velmora".

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "console/main_window.h"
#include "port/ini_file.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

constexpr char kSection[] = "Velmora";

// The message of a value that is not a whole number, as the integer conversion words it.
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(const std::string& text)
      : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

int32_t ReadInteger(const port::IniFile& ini, const char* key, int32_t current) {
  const std::string text = ini.ReadString(kSection, key, std::to_string(current));
  const std::optional<int32_t> value = port::ParseWholeNumber(text);
  if (!value) throw ConversionError(text);
  return *value;
}

}  // namespace

QString MainWindow::SettingsFilePath() const {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Velmora/ZORVA.INI");
}

void MainWindow::LoadSettingsFile() {
  const std::string path = SettingsFilePath().toStdString();
  try {
    port_.RestoreSettings(port::skIniFile, path);
  } catch (const std::exception& e) {
    ShowSettingsFileError(QString::fromLocal8Bit(e.what()));
  }
  try {
    const port::IniFile ini(path);
    options_.rtsCtsMode = ReadInteger(ini, "RTS/CTS", options_.rtsCtsMode);
    options_.keyingDelayMs = ReadInteger(ini, "TxDelay", options_.keyingDelayMs);
    options_.lineEnding = ReadInteger(ini, "CRLF", options_.lineEnding);
    options_.viewerPath = QString::fromStdString(
        ini.ReadString(kSection, "Editor", options_.viewerPath.toStdString()));
  } catch (const std::exception& e) {
    ShowSettingsFileError(QString::fromLocal8Bit(e.what()));
  }
  ShowPortSummary();
}

void MainWindow::SaveSettingsFile() {
  const QString path = SettingsFilePath();
  // The per-user folder may not exist yet; a folder that cannot be made shows as a refused
  // write below.
  QDir().mkpath(QFileInfo(path).absolutePath());
  try {
    port_.SaveSettings(port::skIniFile, path.toStdString());
  } catch (const std::exception& e) {
    ShowSettingsFileError(QString::fromLocal8Bit(e.what()));
  }
  try {
    port::IniFile ini(path.toStdString());
    ini.WriteString(kSection, "RTS/CTS", std::to_string(options_.rtsCtsMode));
    ini.WriteString(kSection, "TxDelay", std::to_string(options_.keyingDelayMs));
    ini.WriteString(kSection, "CRLF", std::to_string(options_.lineEnding));
    ini.WriteString(kSection, "Editor", options_.viewerPath.toStdString());
  } catch (const std::exception& e) {
    ShowSettingsFileError(QString::fromLocal8Bit(e.what()));
  }
}

}  // namespace velmora::console
