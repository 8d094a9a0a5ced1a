// A console that starts and closes at once, printing its error boxes one a line: run by the
// settings-file tests as another user than the one that owns the settings file.
#include <cstdio>

#include <QApplication>

#include "console/main_window.h"
#include "console/message_presenter.h"

namespace {

class PrintingPresenter final : public velmora::console::MessagePresenter {
 public:
  void ShowErrorBox(QWidget*, const QString& text) override {
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::console::MainWindow window(nullptr, std::make_unique<PrintingPresenter>());
  window.close();
  return 0;
}
