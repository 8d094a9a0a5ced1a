// The two modal error boxes: link errors (opening, closing the port) and settings-file errors.

#include "console/main_window.h"
#include "console/message_presenter.h"

namespace velmora::console {

void MainWindow::ShowLinkError(const QString& message) {
  presenter_->ShowErrorBox(this, QStringLiteral("Ошибка связи: \"") + message +
                                     QStringLiteral("\". Выберите другой порт для подключения"));
  ShowState(QStringLiteral("ОШИБКА"));
  StopKeyingDelay();
}

void MainWindow::ShowSettingsFileError(const QString& message) {
  presenter_->ShowErrorBox(this, QStringLiteral("Ошибка конфигурационного файла: \"") + message +
                                     QStringLiteral("\""));
  ShowState(QStringLiteral("ОШИБКА"));
}

}  // namespace velmora::console
