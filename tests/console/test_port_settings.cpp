// The port settings command of the main window: the parameters dialog opened from the menu,
// what OK and Cancel do to the port, the line and the settings file, and the link error box
// with the system's reason.
#include "console/main_window.h"

#include <cerrno>
#include <memory>
#include <optional>

#include <QMenu>
#include <QSpinBox>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include "dialogs/parameters_dialog.h"
#include "port/com_combo_box.h"
#include "port/ecomport.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/port/core_pty_termios.h"
#include "tests/support/pty_pair.h"
#include "tests/support/fake_device.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StatusPanel;
using console::testing::WindowFixture;
using dialogs::ParametersDialog;
using dialogs::testing::WhenShown;

namespace {

const QString kLinkErrorPrefix = QStringLiteral("Ошибка связи: \"");
const QString kLinkErrorSuffix = QStringLiteral("\". Выберите другой порт для подключения");

// A device that refuses to open with the system's number and the device layer's sentence.
class RefusingDevice final : public platform::NamedDevice {
 public:
  RefusingDevice(int error, std::string detail) : error_(error), detail_(std::move(detail)) {}
  platform::OpenResult Open() override {
    ++opens;
    return {nullptr, error_, detail_};
  }
  int opens = 0;

 private:
  int error_;
  std::string detail_;
};

template <typename T>
T& Child(QWidget& dialog, const char* name) {
  T* child = dialog.findChild<T*>(QString::fromLatin1(name));
  if (!child) throw std::runtime_error(std::string("no control ") + name);
  return *child;
}

void PickPort(ParametersDialog& d, const QString& name) {
  auto& box = Child<port::TComComboBox>(d, "CBPort");
  const int index = box.findText(name);
  QVERIFY2(index >= 0, qPrintable(name));
  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Home);
  for (int i = 0; i < index; ++i) QTest::keyClick(&box, Qt::Key_Down);
}

void ClickOk(ParametersDialog& d) { QTest::mouseClick(&Child<QWidget>(d, "Button1"), Qt::LeftButton); }

// "П&раметры" → "&Настройка порта..." as the operator's keyboard does it: Alt+Р opens the menu,
// Н chooses the item. The dialog runs inside the last key press.
void OpenPortSettingsByKeyboard(MainWindow& window) {
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QTest::sendKeyEvent(QTest::Click, &window, Qt::Key(u'Р'), QStringLiteral("р"), Qt::AltModifier);
  QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
  QWidget* menu = QApplication::activePopupWidget();
  QTest::sendKeyEvent(QTest::Click, menu, Qt::Key(u'Н'), QStringLiteral("н"), Qt::NoModifier);
}

}  // namespace

class TestPortSettings : public QObject {
  Q_OBJECT

 private slots:
  void okOnAClosedPortOpensItAndWritesTheSettingsFile() {
    WindowFixture f;
    auto loopback = platform::sim::LoopbackPlug::Create();
    f.directory->Add("LOOP", loopback->Endpoint());
    MainWindow& window = f.Start();  // no device answers to COM1
    QCOMPARE(f.boxes.size(), 1);
    QVERIFY(!window.Port().Connected());
    WhenShown<ParametersDialog>([](ParametersDialog& d) {
      PickPort(d, "LOOP");
      ClickOk(d);
    });
    f.Child<QAction>("N8")->trigger();
    QCOMPARE(f.boxes.size(), 1);
    QVERIFY(window.Port().Connected());
    QVERIFY(loopback->IsOpen());
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString("LOOP, 9600, 8, 1, None, None"));
    QVERIFY2(f.ReadSettings().contains("[ComPort1]\nPort=LOOP\n"), f.ReadSettings().constData());
  }

  void okOnAPortThatStillFailsTriesOnceAndSavesAllTheSame() {
    WindowFixture f;
    auto device = std::make_shared<RefusingDevice>(
        EBUSY, "устройство /dev/ttyUSB0 занято: его открыла другая программа или другой порт этой программы");
    MainWindow& window = f.Start(device);
    QCOMPARE(device->opens, 1);
    WhenShown<ParametersDialog>([](ParametersDialog& d) {
      Child<QSpinBox>(d, "SE1").setValue(35);
      ClickOk(d);
    });
    f.Child<QAction>("N8")->trigger();
    QCOMPARE(device->opens, 2);
    QCOMPARE(f.boxes.size(), 2);
    QVERIFY(!window.Port().Connected());
    QVERIFY2(f.ReadSettings().contains("TxDelay=35"), f.ReadSettings().constData());
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ОШИБКА"));
  }

  void theLinkErrorBoxAddsWhatTheOperatorCanDo() {
    WindowFixture f;
    f.Start(std::make_shared<RefusingDevice>(
        EACCES, "нет прав на открытие /dev/ttyUSB0: устройство принадлежит группе 'dialout', а пользователь op "
                "в неё не входит; добавьте пользователя в эту группу (usermod -aG dialout op) и войдите в систему "
                "заново"));
    QCOMPARE(f.boxes.size(), 1);
    QCOMPARE(f.boxes[0], kLinkErrorPrefix + port::EComPort(port::kErrOpen, EACCES).what() + kLinkErrorSuffix +
                             "\n\nНет прав на открытие /dev/ttyUSB0: устройство принадлежит группе 'dialout', "
                             "а пользователь op в неё не входит; добавьте пользователя в эту группу "
                             "(usermod -aG dialout op) и войдите в систему заново.");
  }

  void aPortChosenThatCannotBeOpenedIsALinkError() {
    WindowFixture f;
    auto loopback = platform::sim::LoopbackPlug::Create();
    auto refusing = std::make_shared<RefusingDevice>(ENOENT, "нет устройства /dev/ttyUSB7");
    f.directory->Add("REFUSING", refusing);
    MainWindow& window = f.Start(loopback->Endpoint());
    QVERIFY(window.Port().Connected());
    WhenShown<ParametersDialog>([](ParametersDialog& d) {
      PickPort(d, "REFUSING");
      ClickOk(d);
    });
    f.Child<QAction>("N8")->trigger();
    QCOMPARE(refusing->opens, 1);  // the dialog's reopen, not a second try by the window
    QCOMPARE(f.boxes.size(), 1);
    QVERIFY2(f.boxes[0].endsWith("\n\nНет устройства /dev/ttyUSB7."), qPrintable(f.boxes[0]));
    QVERIFY(f.displayed.isEmpty());
    QVERIFY(!window.Port().Connected());
    QVERIFY(!loopback->IsOpen());
    QVERIFY(window.PanelText(StatusPanel::PortSummary).startsWith("REFUSING, "));
  }

  // The operator on a pseudo-terminal: the menu by keyboard, a new baud rate by keyboard, OK by
  // keyboard; then the same with Esc.
  void operatorChangesTheBaudRateOfAPseudoTerminalByKeyboard() {
    WindowFixture f;
    test::PtyPair pty;
    const QByteArray slave = QByteArray::fromStdString(pty.SlavePath());
    f.WriteSettings("[ComPort1]\nPort=" + slave + "\nBaudRate=9600\n");
    MainWindow& window = f.Start();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(window.Port().Connected());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    port::test::KernelLine line;
    QVERIFY(port::test::ReadKernelLine(pty.Master(), line));
    QCOMPARE(line.outputSpeed, 9600u);

    bool shown = false;
    WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      shown = true;
      // The pseudo-terminal is not among the listed ports: no selection, nothing picked.
      QCOMPARE(Child<port::TComComboBox>(d, "CBPort").currentIndex(), -1);
      QTRY_COMPARE(QApplication::focusWidget(), &Child<QWidget>(d, "CBPort"));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), QString("CBBaud"));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);  // 9600 → 14400
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);  // → 19200
      for (int i = 0; i < 4; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget()->objectName(), QString("Button1"));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    OpenPortSettingsByKeyboard(window);
    QVERIFY(shown);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(port::test::ReadKernelLine(pty.Master(), line));
    QCOMPARE(line.outputSpeed, 19200u);
    QCOMPARE(window.Port().Port(), pty.SlavePath());
    QVERIFY(window.Port().Connected());
    const QByteArray saved = f.ReadSettings();
    QVERIFY2(saved.contains("Port=" + slave + "\n") && saved.contains("BaudRate=19200\n"), saved.constData());
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString(slave + ", 19200, 8, 1, None, None"));

    // Esc after a change: nothing reaches the line or the file.
    QFile::remove(f.SettingsPath());
    shown = false;
    WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      shown = true;
      auto& baud = Child<port::TComComboBox>(d, "CBBaud");
      baud.setFocus();
      QTest::keyClick(&baud, Qt::Key_End);
      QCOMPARE(baud.currentText(), QString("256000"));
      QTest::keyClick(&baud, Qt::Key_Escape);
    });
    OpenPortSettingsByKeyboard(window);
    QVERIFY(shown);
    QVERIFY(port::test::ReadKernelLine(pty.Master(), line));
    QCOMPARE(line.outputSpeed, 19200u);
    QVERIFY(!QFile::exists(f.SettingsPath()));
    QCOMPARE(window.Port().BaudRate(), port::br19200);

    // The line still carries bytes both ways after OK reconfigured it.
    pty.Write("ping");
    QTRY_COMPARE(f.ReceivedText(), QString("ping"));
  }

  // The adapter is pulled while the dialog is open; the operator then presses OK.
  void deviceLostWhileTheDialogIsOpen() {
    WindowFixture f;
    std::optional<test::PtyPair> pty;
    pty.emplace();
    const std::string slave = pty->SlavePath();
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + slave.c_str() + "\n");
    MainWindow& window = f.Start();
    QVERIFY(window.Port().Connected());
    bool shown = false;
    WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      shown = true;
      pty.reset();  // both ends gone: the device is lost
      QTRY_VERIFY(!window.Port().Connected());
      auto& baud = Child<port::TComComboBox>(d, "CBBaud");
      baud.setFocus();
      QTest::keyClick(&baud, Qt::Key_Down);
      ClickOk(d);
    });
    f.Child<QAction>("N8")->trigger();
    QVERIFY(shown);
    QCOMPARE(window.Port().Port(), slave);
    QCOMPARE(window.Port().BaudRate(), port::br14400);
    QVERIFY(!window.Port().Connected());
    QCOMPARE(f.boxes.size(), 1);  // the one open OK tries, on a device that is not there
    QVERIFY2(f.boxes[0].startsWith(kLinkErrorPrefix), qPrintable(f.boxes[0]));
    QVERIFY2(f.ReadSettings().contains("BaudRate=14400"), f.ReadSettings().constData());
  }

  // A stop signal closes the window while the dialog is open: the program's event loop must end
  // (the dialog belongs to no window, but must not keep the program alive on its own).
  void closingTheWindowWhileTheDialogIsOpenEndsTheProgram() {
    WindowFixture f;
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    bool tied = false;
    WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      // Tied to the window, so the window manager keeps it above it and it ends with it.
      tied = d.windowHandle() && d.windowHandle()->transientParent() == window.windowHandle();
      window.close();
    });
    bool boundReached = false;
    QTimer::singleShot(0, &window, [&] { f.Child<QAction>("N8")->trigger(); });
    QTimer::singleShot(5000, qApp, [&] {
      boundReached = true;
      if (auto* open = QApplication::activeModalWidget()) open->close();
      QCoreApplication::quit();
    });
    QCoreApplication::exec();  // as main() runs it
    QVERIFY(tied);
    QVERIFY2(!boundReached, "the program went on after its window closed");
    QVERIFY(!window.Port().Connected());
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  // The device takes its lines from the settings when they change (RTS down): a transmission
  // keyed until Enter goes on keyed, after the keying delay again, and nothing is sent unkeyed.
  void okDuringAKeyedTransmissionKeepsTheRadioKeyed() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().keyingDelayMs = 50;
    window.Options().lineEnding = 1;
    f.Type("a");
    QTRY_COMPARE(QByteArray::fromStdString(f.radio->Heard()), QByteArray("a"));
    WhenShown<ParametersDialog>([](ParametersDialog& d) {
      auto& baud = Child<port::TComComboBox>(d, "CBBaud");
      baud.setFocus();
      QTest::keyClick(&baud, Qt::Key_Down);
      ClickOk(d);
    });
    f.Child<QAction>("N8")->trigger();
    QCOMPARE(window.Port().BaudRate(), port::br14400);
    f.Type("b\r");
    QTRY_VERIFY(!window.RtsRaised());
    QTRY_COMPARE(QByteArray::fromStdString(f.radio->Heard()), QByteArray("ab\r\n"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
  }
};

QTEST_MAIN(TestPortSettings)
#include "test_port_settings.moc"
