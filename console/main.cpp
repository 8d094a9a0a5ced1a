// Program entry: the application, its translations, the error display, the stop signals and the
// main window.

#include <QApplication>

#include "console/app_error_display.h"
#include "console/main_window.h"
#include "console/qt_translations.h"
#include "console/stop_on_signal.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::console::InstallQtRussianTranslations(app);
  velmora::port::SetErrorDisplay(velmora::console::MessageBoxErrorDisplay());
  // Before the window, so that a stop during its start-up boxes is not lost.
  velmora::console::StopOnSignal stopOnSignal;
  int result = 0;
  {
    velmora::console::MainWindow window;
    stopOnSignal.Attach(&window);
    if (!stopOnSignal.StopRequested()) {
      window.show();
      result = app.exec();
    }
  }
  velmora::port::SetErrorDisplay({});
  return result;
}
