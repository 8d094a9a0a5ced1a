// Program entry: the application, the main window, the error display and the stop signals.

#include <QApplication>

#include "console/app_error_display.h"
#include "console/main_window.h"
#include "console/quit_signals.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::port::SetErrorDisplay(velmora::console::MessageBoxErrorDisplay());
  velmora::console::TForm1 form;
  velmora::console::QuitSignals quitSignals;
  QObject::connect(&quitSignals, &velmora::console::QuitSignals::quitRequested, &form,
                   [&form] { form.close(); });
  form.show();
  const int result = app.exec();
  velmora::port::SetErrorDisplay({});
  return result;
}
