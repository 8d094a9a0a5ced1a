// A stop signal closes the console at any moment through the window's close sequence: open
// boxes are closed without a click, also during start-up and during the close sequence itself.
#include "console/stop_on_signal.h"

#include <csignal>

#include <QDialog>
#include <QtTest>

#include "platform/sim/sim_devices.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StopOnSignal;
using console::testing::WindowFixture;

namespace {

// Closes whatever box is still open every few seconds, so that boxes nobody closes fail the
// test instead of holding it until the test's time runs out.
class BoxWatchdog {
 public:
  BoxWatchdog() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      fired_ = true;
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
          dialog->reject();
    });
    timer_.start(3000);
  }
  bool Fired() const { return fired_; }

 private:
  QTimer timer_;
  bool fired_ = false;
};

void RaiseLater(int signalNumber, int ms) {
  QTimer::singleShot(ms, [signalNumber] { std::raise(signalNumber); });
}

}  // namespace

class TestStopOnSignal : public QObject {
  Q_OBJECT

 private slots:
  void stopSignalRunsTheCloseSequence_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
  }
  void stopSignalRunsTheCloseSequence() {
    QFETCH(int, signalNumber);
    WindowFixture f;
    StopOnSignal stop;
    MainWindow& window = f.StartOnRadio();
    stop.Attach(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.SetRts(true);
    std::raise(signalNumber);
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(stop.StopRequested());
    QVERIFY(!f.radio->Rts());
    QVERIFY(!f.radio->IsOpen());
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  void stopDuringAnErrorBoxClosesItAndTheWindow() {
    WindowFixture f;
    StopOnSignal stop;
    f.radio = platform::sim::RadioLink::Create();
    MainWindow& window = f.StartShowingBoxes(f.radio->Endpoint());
    stop.Attach(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.SetRts(true);
    BoxWatchdog watchdog;
    RaiseLater(SIGTERM, 100);
    window.ShowLinkError("probe");  // returns when the box has closed
    QVERIFY2(!watchdog.Fired(), "the error box waited for a click");
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(!f.radio->Rts());
    QVERIFY(!f.radio->IsOpen());
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  void stopDuringTheStartUpBoxRunsTheCloseSequence() {
    WindowFixture f;
    StopOnSignal stop;
    BoxWatchdog watchdog;
    RaiseLater(SIGTERM, 100);
    MainWindow& window = f.StartShowingBoxes();  // COM1 opens nothing: the link error box
    QVERIFY2(!watchdog.Fired(), "the start-up box waited for a click");
    QVERIFY(stop.StopRequested());
    QVERIFY(!QFile::exists(f.SettingsPath()));
    stop.Attach(&window);  // as the program does once the window exists
    QVERIFY(QFile::exists(f.SettingsPath()));  // the close sequence ran
  }

  // The close sequence's own boxes (here: the settings cannot be written) close by themselves
  // after a stop, and a second stop while one is up is acted on, not ignored.
  void boxesOfTheCloseSequenceCloseWithoutAClick() {
    WindowFixture f;
    const QString blocker = f.ConfigHome() + "/not-a-folder";
    QFile(blocker).open(QIODevice::WriteOnly);
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
    StopOnSignal stop;
    f.radio = platform::sim::RadioLink::Create();
    MainWindow& window = f.StartShowingBoxes(f.radio->Endpoint());
    stop.Attach(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BoxWatchdog watchdog;
    QTimer counter;
    connect(&counter, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget()) {
        std::raise(SIGTERM);  // the second stop, while a box of the close sequence is up
        counter.stop();
      }
    });
    counter.start(1);
    std::raise(SIGTERM);
    QTRY_VERIFY(!window.isVisible());
    QTRY_VERIFY(!f.radio->IsOpen());
    QTest::qWait(50);
    QVERIFY2(!watchdog.Fired(), "a box of the close sequence waited for a click");
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }
};

QTEST_MAIN(TestStopOnSignal)
#include "test_stop_on_signal.moc"
