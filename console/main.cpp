// Program entry: the command line, the application with its icon, the main window, the error
// display and the stop signals.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>

#include "console/app_error_display.h"
#include "console/command_line.h"
#include "console/main_window.h"
#include "console/quit_signals.h"

namespace {

void CloseModalWindows() {
  // A box that refuses to close (none of ours does) must not keep this loop going.
  for (int left = 16; left > 0; --left) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication::setApplicationName(QStringLiteral("velmora"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
  const velmora::console::CommandLineReply commandLine =
      velmora::console::ReadCommandLine(velmora::console::ArgumentsOf(argc, argv));
  if (!commandLine.startWindow) return velmora::console::FinishWithoutWindow(commandLine);

  QApplication app(argc, argv);
  // Every window and dialog takes this icon; Wayland finds it through the desktop entry.
  QIcon icon;
  for (const QFileInfo& size : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files))
    icon.addFile(size.filePath());
  QApplication::setWindowIcon(icon);
  QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
  velmora::port::SetErrorDisplay(velmora::console::MessageBoxErrorDisplay());
  // A stop may come at any moment, also while a modal box holds the event loop: one shown while
  // the window opens the port, or the report of a lost device. The boxes are closed, then the
  // window with its close sequence; a stop that comes while the window is being made closes it
  // as soon as it exists.
  velmora::console::QuitSignals quitSignals;
  velmora::console::MainWindow* made = nullptr;
  bool stopRequested = false;
  QObject::connect(&quitSignals, &velmora::console::QuitSignals::quitRequested, &app, [&] {
    stopRequested = true;
    CloseModalWindows();
    if (made) made->close();
  });
  velmora::console::MainWindow window;
  made = &window;
  int result = 0;
  if (stopRequested) {
    window.close();
  } else {
    window.show();
    result = app.exec();
  }
  velmora::port::SetErrorDisplay({});
  return result;
}
