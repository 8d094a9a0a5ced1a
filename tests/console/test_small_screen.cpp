// The main window and the parameters dialog on a small screen: 1024 × 768 pixels at 150 %
// scaling, 683 × 512 points. Both open whole on it, every control within reach.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QScreen>

#include "dialogs/frames_dialog.h"
#include "dialogs/parameters_dialog.h"
#include "tests/dialogs/dialog_roles.h"
#include "tests/dialogs/modal_driver.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::testing::WindowFixture;
using dialogs::ParametersDialog;

namespace {

QRect FreeArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

bool Within(const QRect& inner, const QRect& outer) { return outer.contains(inner); }

QString Describe(const QRect& r) {
  return QStringLiteral("%1,%2 %3×%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

}  // namespace

class TestSmallScreen : public QObject {
  Q_OBJECT

 private slots:
  void screenIsTheSmallOne() {
    const QSize free = FreeArea().size();
    QVERIFY2(free.width() <= 683 && free.height() <= 512, qPrintable(Describe(FreeArea())));
  }

  void mainWindowOpensWhole() {
    WindowFixture f;
    MainWindow& window = f.Start();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY2(Within(window.frameGeometry(), FreeArea()),
             qPrintable(Describe(window.frameGeometry()) + " on " + Describe(FreeArea())));
  }

  void parametersDialogOpensWholeOverTheWindow() {
    WindowFixture f;
    MainWindow& window = f.Start();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QRect dialogFrame;
    QRect chooseViewer;
    QRect okButton;
    dialogs::testing::WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      dialogFrame = d.frameGeometry();
      const dialogs::testing::ParametersForm form(d);
      for (auto [button, place] :
           {std::pair{&form.ChooseViewerButton(), &chooseViewer}, std::pair{&form.OkButton(), &okButton}})
        *place = QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
      d.reject();
    });
    f.PortSettingsAction()->trigger();
    QVERIFY(dialogFrame.isValid());
    QVERIFY2(Within(dialogFrame, FreeArea()), qPrintable(Describe(dialogFrame) + " on " + Describe(FreeArea())));
    QVERIFY2(Within(chooseViewer, FreeArea()), qPrintable(Describe(chooseViewer)));  // the "..." button
    QVERIFY2(Within(okButton, FreeArea()), qPrintable(Describe(okButton)));
  }

  void framesDialogOpensWholeOverTheWindow() {
    WindowFixture f;
    MainWindow& window = f.Start();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QRect dialogFrame;
    QRect lastLine;
    dialogs::testing::WhenShown<dialogs::FramesDialog>([&](dialogs::FramesDialog& d) {
      dialogFrame = d.frameGeometry();
      const QWidget* line = d.findChild<QWidget*>("FrameLine12");
      lastLine = QRect(line->mapToGlobal(QPoint(0, 0)), line->size());
      d.reject();
    });
    window.findChild<QAction*>("N12")->trigger();
    QVERIFY(dialogFrame.isValid());
    QVERIFY2(Within(dialogFrame, FreeArea()), qPrintable(Describe(dialogFrame) + " on " + Describe(FreeArea())));
    QVERIFY2(Within(lastLine, FreeArea()), qPrintable(Describe(lastLine)));
  }
};

int main(int argc, char** argv) {
  // One screen of 1024 × 768 pixels, scaled by one and a half, with window frames.
  QTemporaryDir folder;
  const QString config = folder.filePath("screen.json");
  QFile file(config);
  if (!folder.isValid() || !file.open(QIODevice::WriteOnly)) return 1;
  const QJsonObject screen{{"name", "Small"}, {"x", 0},           {"y", 0},
                           {"width", 1024},   {"height", 768},     {"logicalDpi", 96},
                           {"logicalBaseDpi", 96}, {"dpr", 1}};
  file.write(QJsonDocument(QJsonObject{{"windowFrameMargins", true}, {"screens", QJsonArray{screen}}}).toJson());
  file.close();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
  qputenv("QT_SCALE_FACTOR", "1.5");
  QApplication app(argc, argv);
  TestSmallScreen test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_small_screen.moc"
