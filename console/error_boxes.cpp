// The two modal error boxes: link errors (opening, closing the port) and settings-file errors.

#include "console/cp1251.h"
#include "console/main_window.h"
#include "console/message_presenter.h"
#include "port/ecomport.h"

namespace velmora::console {

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
  // The reason is the system's own sentence (paths, group names), in the system's encoding; the
  // message is the engine's single-byte text.
  if (const auto* portError = dynamic_cast<const port::EComPort*>(&error))
    reason = QString::fromLocal8Bit(portError->Detail());
  ShowLinkError(DecodeCp1251(error.what()), reason);
}

void MainWindow::ShowSettingsFileError(const QString& message, const QString& details) {
  QString text = QStringLiteral("Ошибка конфигурационного файла: \"") + message + QStringLiteral("\"");
  if (!details.isEmpty()) text += QStringLiteral("\n\n") + details;
  presenter_->ShowErrorBox(this, text);
  ShowState(QStringLiteral("ОШИБКА"));
}

}  // namespace velmora::console
