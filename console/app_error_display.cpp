#include "console/app_error_display.h"

#include "console/cp1251.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace velmora::console {

port::ErrorDisplay MessageBoxErrorDisplay() {
  return [](const std::string& message) {
    const QString text = DecodeCp1251(message);
    const auto show = [text] {
      QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                            text, QMessageBox::Ok);
    };
    if (QThread::currentThread() == qApp->thread())
      show();
    else
      QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
  };
}

}  // namespace velmora::console
