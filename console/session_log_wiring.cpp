// The session log's wiring to the window: started when the port opens and ended when it is
// closed (a lost device ends nothing: its return belongs to the same session), and the window's
// own events written into it.

#include <QPlainTextEdit>

#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "port/text_forms.h"

namespace velmora::console {

void MainWindow::AttachSessionLog() {
  sessionLog_.SetFailureReporter([this](const QString& line) { AppendMarkerLine(line); });
  // Not called when the device is lost: the session goes on to hear of its return.
  port_.OnBeforeClose = [this](port::TCustomComPort&) {
    Guarded([&] {
      sessionLog_.WriteEvent(QStringLiteral("Порт %1 закрыт").arg(QString::fromLocal8Bit(port_.Port())));
      sessionLog_.Stop();
      WantFrameLines();
    });
  };
  connect(this, &MainWindow::RtsChanged, this, [this](bool on) {
    sessionLog_.WriteEvent(on ? QStringLiteral("RTS поднят") : QStringLiteral("RTS снят"));
  });
  connect(this, &MainWindow::LinkTestEnded, this, [this](const QString& summary) {
    sessionLog_.WriteEvent(QStringLiteral("Проверка канала: ") + summary);
  });
}

void MainWindow::LogPortOpened() {
  sessionLog_.Start(options_.sessionLogFolder);
  WantFrameLines();
  const QStringList line = {
      DecodeCp1251(port::BaudRateText(port_.BaudRate())),
      DecodeCp1251(port::DataBitsText(port_.DataBits())),
      DecodeCp1251(port::ParityText(port_.Parity().Bits())),
      DecodeCp1251(port::StopBitsText(port_.StopBits())),
  };
  sessionLog_.WriteEvent(
      QStringLiteral("Порт %1 открыт: %2").arg(QString::fromLocal8Bit(port_.Port()), line.join(QStringLiteral(", "))));
}

void MainWindow::FollowSessionLogFolder() {
  if (options_.sessionLogFolder.isEmpty()) {
    sessionLog_.WriteEvent(QStringLiteral("Журнал сеанса выключен"));
    sessionLog_.Stop();
    WantFrameLines();
    return;
  }
  if (!port_.Connected() && !sessionLog_.Active()) return;
  const bool wasActive = sessionLog_.Active();
  sessionLog_.Start(options_.sessionLogFolder);
  WantFrameLines();
  if (!wasActive) sessionLog_.WriteEvent(QStringLiteral("Журнал сеанса включён"));
}

}  // namespace velmora::console
