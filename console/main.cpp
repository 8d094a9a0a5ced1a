// Program entry: the command line, the application with its icon, the main window, the error
// display and the stop signals.

#include <QApplication>
#include <QDir>
#include <QIcon>

#include "console/app_error_display.h"
#include "console/command_line.h"
#include "console/main_window.h"
#include "console/quit_signals.h"

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
  // Before the window: a stop that comes while it opens the port waits in the signals' pipe and
  // closes the window as soon as the event loop runs, instead of killing the process.
  velmora::console::QuitSignals quitSignals;
  velmora::console::MainWindow window;
  QObject::connect(&quitSignals, &velmora::console::QuitSignals::quitRequested, &window,
                   [&window] { window.close(); });
  window.show();
  const int result = app.exec();
  velmora::port::SetErrorDisplay({});
  return result;
}
