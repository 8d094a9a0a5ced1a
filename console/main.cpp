// Program entry: the application, the main window, the error display and the stop signals.

#include <QApplication>

#include "console/app_error_display.h"
#include "console/main_window.h"
#include "console/quit_signals.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
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
