#include <QApplication>

#include "console/main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::console::TForm1 form;
  form.show();
  return app.exec();
}
