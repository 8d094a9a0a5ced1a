// Program entry: the command line, the application with its icon and translations, the error
// display, the stop signals and the main window.

#include <QApplication>
#include <QDir>
#include <QIcon>

#include "console/app_error_display.h"
#include "console/command_line.h"
#include "console/main_window.h"
#include "console/qt_translations.h"
#include "console/stop_on_signal.h"

int main(int argc, char* argv[]) {
  QCoreApplication::setApplicationName(QStringLiteral("velmora"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
  const velmora::console::CommandLineReply commandLine =
      velmora::console::ReadCommandLine(velmora::console::ArgumentsOf(argc, argv));
  if (!commandLine.startWindow) return velmora::console::FinishWithoutWindow(commandLine);

  QApplication app(argc, argv);
  velmora::console::InstallQtRussianTranslations(app);
  // Every window and dialog takes this icon; Wayland finds it through the desktop entry.
  QIcon icon;
  for (const QFileInfo& size : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files))
    icon.addFile(size.filePath());
  QApplication::setWindowIcon(icon);
  QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
  velmora::port::SetErrorDisplay(velmora::console::MessageBoxErrorDisplay());
  // Before the window, so that a stop during its start-up boxes (one shown while the window
  // opens the port) is not lost.
  velmora::console::StopOnSignal stopOnSignal;
  int result = 0;
  {
    velmora::console::MainWindow window;
    // The toolkit ends the loop when its last window closes, but not while a box without an
    // owner (an error shown while no window was active) is still going away: end it with ours.
    QObject::connect(&window, &velmora::console::MainWindow::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    stopOnSignal.Attach(&window);
    if (!stopOnSignal.StopRequested()) {
      window.show();
      result = app.exec();
    }
  }
  velmora::port::SetErrorDisplay({});
  return result;
}
