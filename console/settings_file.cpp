// The settings file ZORVA.INI: the port's section through the port, the console's four options
// in the section "Velmora".

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "console/cp1251.h"

#include "console/main_window.h"
#include "port/ini_file.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

constexpr char kSection[] = "Velmora";
// "0" while the operator has not chosen a port since a first start, "1" once one was chosen;
// absent from the file of an operator who never had a first start.
constexpr char kPortChosenKey[] = "PortChosen";

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

// A file name is the file system's, not text of the console: it keeps the system's encoding.
std::string FileSystemName(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

QString MainWindow::SettingsFilePath() const {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Velmora/ZORVA.INI");
}

void MainWindow::LoadSettingsFile() {
  const std::string path = FileSystemName(SettingsFilePath());
  // Without a settings file this is a first start: the design-time port was never chosen.
  portChosen_ = QFileInfo::exists(SettingsFilePath());
  try {
    port_.RestoreSettings(port::skIniFile, path);
  } catch (const std::exception& e) {
    ShowSettingsFileError(DecodeCp1251(e.what()));
  }
  try {
    const port::IniFile ini(path);
    if (portChosen_) portChosen_ = ini.ReadString(kSection, kPortChosenKey, "1") != "0";
    options_.rtsCtsMode = ReadInteger(ini, "RTS/CTS", options_.rtsCtsMode);
    options_.keyingDelayMs = ReadInteger(ini, "TxDelay", options_.keyingDelayMs);
    options_.lineEnding = ReadInteger(ini, "CRLF", options_.lineEnding);
    options_.viewerPath =
        DecodeCp1251(ini.ReadString(kSection, "Editor", EncodeCp1251(options_.viewerPath)));
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
    // Kept out of the file of an operator who chose the port, so that it reads as it always did.
    if (!portChosen_ || ini.ValueExists(kSection, kPortChosenKey))
      ini.WriteString(kSection, kPortChosenKey, portChosen_ ? "1" : "0");
  } catch (const std::exception& e) {
    ShowSettingsFileError(DecodeCp1251(e.what()));
  }
}

}  // namespace velmora::console
