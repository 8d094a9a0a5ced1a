#include "console/main_window.h"

namespace velmora::console {

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle("Velmora");
  resize(640, 480);
}

}  // namespace velmora::console
