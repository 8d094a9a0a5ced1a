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
      // The program's name as the operator knows it; the application's own name is the
      // command's, in lower case.
      QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Velmora"), text,
                            QMessageBox::Ok);
    };
    if (QThread::currentThread() == qApp->thread())
      show();
    else
      QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
  };
}

}  // namespace velmora::console
