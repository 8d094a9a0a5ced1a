#include "console/message_presenter.h"

#include <QMessageBox>

namespace velmora::console {

void MessageBoxPresenter::ShowErrorBox(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QStringLiteral("Ошибка"), text, QMessageBox::Ok);
}

}  // namespace velmora::console
