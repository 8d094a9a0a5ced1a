// The two modal error boxes: link errors (opening, closing the port) and settings-file errors.

#include "console/main_window.h"
#include "console/message_presenter.h"

namespace velmora::console {

void TForm1::ShowLinkError(const QString& message) {
  presenter_->ShowErrorBox(this, QStringLiteral("Ошибка связи: \"") + message +
                                     QStringLiteral("\". Выберите другой порт для подключения"));
  ShowState(QStringLiteral("ОШИБКА"));
  StopTxDelay();
}

void TForm1::ShowConfigError(const QString& message) {
  presenter_->ShowErrorBox(this, QStringLiteral("Ошибка конфигурационного файла: \"") + message +
                                     QStringLiteral("\""));
  ShowState(QStringLiteral("ОШИБКА"));
}

}  // namespace velmora::console
