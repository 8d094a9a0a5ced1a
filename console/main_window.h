#pragma once
// The console's main window.

#include <QMainWindow>

namespace velmora::console {

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
};

}  // namespace velmora::console
