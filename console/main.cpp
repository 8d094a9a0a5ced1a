// Program entry: the application, the main window, the error display and the stop signals.

#include <QApplication>

#include "console/app_error_display.h"
#include "console/main_window.h"
#include "console/quit_signals.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::port::SetErrorDisplay(velmora::console::MessageBoxErrorDisplay());
  velmora::console::MainWindow window;
  velmora::console::QuitSignals quitSignals;
  QObject::connect(&quitSignals, &velmora::console::QuitSignals::quitRequested, &window,
                   [&window] { window.close(); });
  window.show();
  const int result = app.exec();
  velmora::port::SetErrorDisplay({});
  return result;
}
