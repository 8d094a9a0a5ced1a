// The two modal error boxes: link errors (opening, closing the port) and settings-file errors.

#include "console/cp1251.h"
#include "console/main_window.h"
#include "console/message_presenter.h"
#include "port/ecomport.h"

namespace velmora::console {

namespace {

// The device layer's sentence is the system's text with the port's name (or its path) in it,
// and that name is the port's own bytes: it reads here as the status bar and the parameters
// dialog show it, the rest as the system wrote it.
QString ReasonText(const std::string& detail, const std::string& portName) {
  if (portName.empty()) return QString::fromLocal8Bit(detail);
  QString text;
  size_t from = 0;
  for (size_t at = detail.find(portName); at != std::string::npos; at = detail.find(portName, from)) {
    text += QString::fromLocal8Bit(detail.substr(from, at - from)) + DecodeCp1251(portName);
    from = at + portName.size();
  }
  return text + QString::fromLocal8Bit(detail.substr(from));
}

}  // namespace

void MainWindow::ShowLinkError(const QString& message, const QString& reason) {
  QString text = QStringLiteral("Ошибка связи: \"") + message +
                 QStringLiteral("\". Выберите другой порт для подключения");
  // A new user who lacks the device's group learns here what to do about it.
  if (!reason.isEmpty()) {
    QString sentence = reason;
    sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(u'.')) sentence += u'.';
    text += QStringLiteral("\n\n") + sentence;
  }
  presenter_->ShowErrorBox(this, text);
  ShowState(QStringLiteral("ОШИБКА"));
  StopKeyingDelay();
}

void MainWindow::ShowLinkError(const std::exception& error) {
  QString reason;
  // The message is the engine's single-byte text.
  if (const auto* portError = dynamic_cast<const port::EComPort*>(&error))
    reason = ReasonText(portError->Detail(), port_.Port());
  ShowLinkError(DecodeCp1251(error.what()), reason);
}

void MainWindow::ShowSettingsFileError(const QString& message, const QString& details) {
  QString text = QStringLiteral("Ошибка конфигурационного файла: \"") + message + QStringLiteral("\"");
  if (!details.isEmpty()) text += QStringLiteral("\n\n") + details;
  presenter_->ShowErrorBox(this, text);
  ShowState(QStringLiteral("ОШИБКА"));
}

}  // namespace velmora::console
