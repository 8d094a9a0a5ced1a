// The port settings command of the main window: the parameters dialog opened from the menu,
// what OK and Cancel do to the port, the line and the settings file, and the link error box
// with the system's reason.
#include "console/main_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include "dialogs/parameters_dialog.h"
#include "port/qt/com_combo_box.h"
#include "port/ecomport.h"
#include "tests/dialogs/dialog_roles.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/port/core_pty_termios.h"
#include "tests/support/pty_pair.h"
#include "tests/support/fake_device.h"
#include "tests/support/watchdog.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StatusPanel;
using console::testing::WindowFixture;
using dialogs::ParametersDialog;
using dialogs::testing::ParametersForm;
using dialogs::testing::WhenShown;

namespace {

QString ConfigBox(const QString& message, const QString& details = {}) {
  return QStringLiteral("Ошибка конфигурационного файла: \"") + message + u'"' +
         (details.isEmpty() ? QString() : "\n\n" + details);
}

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

void PickPort(ParametersDialog& d, const QString& name) {
  auto& box = ParametersForm(d).PortBox();
  const int index = box.findText(name);
  QVERIFY2(index >= 0, qPrintable(name));
  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Home);
  for (int i = 0; i < index; ++i) QTest::keyClick(&box, Qt::Key_Down);
}

void ClickOk(ParametersDialog& d) { QTest::mouseClick(&ParametersForm(d).OkButton(), Qt::LeftButton); }

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
    f.PortSettingsAction()->trigger();
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
      ParametersForm(d).KeyingDelay().setValue(35);
      ClickOk(d);
    });
    f.PortSettingsAction()->trigger();
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
    f.PortSettingsAction()->trigger();
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
      QCOMPARE(ParametersForm(d).PortBox().currentIndex(), -1);
      QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&ParametersForm(d).PortBox()));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&ParametersForm(d).BaudBox()));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);  // 9600 → 14400
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);  // → 19200
      for (int i = 0; i < 4; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&ParametersForm(d).OkButton()));
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
      auto& baud = ParametersForm(d).BaudBox();
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
    // The port is named by a link of the test's own: once the link is gone nobody can bring the
    // name back, whereas the pseudo-terminal's number goes to the next program (a test running
    // beside this one) that asks for one.
    QTemporaryDir links;
    QVERIFY(links.isValid());
    const std::string slave = (links.path() + "/adapter").toStdString();
    QVERIFY(::symlink(pty->SlavePath().c_str(), slave.c_str()) == 0);
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + slave.c_str() + "\n");
    MainWindow& window = f.Start();
    QVERIFY(window.Port().Connected());
    bool shown = false;
    WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      shown = true;
      ::unlink(slave.c_str());
      pty.reset();  // both ends gone: the device is lost
      QTRY_VERIFY(!window.Port().Connected());
      auto& baud = ParametersForm(d).BaudBox();
      baud.setFocus();
      QTest::keyClick(&baud, Qt::Key_Down);
      ClickOk(d);
    });
    f.PortSettingsAction()->trigger();
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
    QTimer::singleShot(0, &window, [&] { f.PortSettingsAction()->trigger(); });
    // The bound ends with this test: on qApp it would fire in a later test, into this one's
    // gone locals.
    QObject bound;
    QTimer::singleShot(5000, &bound, [&] {
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
      auto& baud = ParametersForm(d).BaudBox();
      baud.setFocus();
      QTest::keyClick(&baud, Qt::Key_Down);
      ClickOk(d);
    });
    f.PortSettingsAction()->trigger();
    QCOMPARE(window.Port().BaudRate(), port::br14400);
    f.Type("b\r");
    QTRY_VERIFY(!window.RtsRaised());
    QTRY_COMPARE(QByteArray::fromStdString(f.radio->Heard()), QByteArray("ab\r\n"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
  }

  // --- the settings file as an operator or another program may have left it ------------------

  // Every option is read whatever befell the others; the box names each key not taken as it
  // stood and what was taken instead, and a value beyond what the dialog offers is brought into
  // its range (a keying delay of 2 000 000 000 ms keyed the radio for 23 days).
  void optionsAreReadEachOnItsOwnAndBroughtIntoRange_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("rtsCts");
    QTest::addColumn<int>("txDelay");
    QTest::addColumn<int>("crLf");
    QTest::addColumn<QString>("editor");
    QTest::newRow("as the dialog writes them")
        << QByteArray("RTS/CTS=1\nTxDelay=35\nCRLF=2\nEditor=x\n") << QString() << 1 << 35 << 2 << "x";
    QTest::newRow("TxDelay letters")
        << QByteArray("RTS/CTS=1\nTxDelay=abc\nCRLF=2\nEditor=x\n")
        << ConfigBox("'abc' is not a valid integer value",
                     "Ключ TxDelay: значение «abc» не является целым числом; оставлено 0")
        << 1 << 0 << 2 << "x";
    QTest::newRow("RTS/CTS empty is no default")
        << QByteArray("RTS/CTS=\nTxDelay=20\n")
        << ConfigBox("'' is not a valid integer value",
                     "Ключ RTS/CTS: значение «» не является целым числом; оставлено 0")
        << 0 << 20 << 0 << "";
    QTest::newRow("delay of weeks")
        << QByteArray("TxDelay=2000000000\nCRLF=3\n")
        << ConfigBox("Недопустимые значения в разделе [Velmora]",
                     "Ключ TxDelay: значение «2000000000» вне пределов 0..100; принято 100")
        << 0 << 100 << 3 << "";
    QTest::newRow("every number out of range")
        << QByteArray("RTS/CTS=-2\nTxDelay=-5\nCRLF=7\nEditor=v\n")
        << ConfigBox("Недопустимые значения в разделе [Velmora]",
                     "Ключ RTS/CTS: значение «-2» не 0 и не 1; принято 1\n"
                     "Ключ TxDelay: значение «-5» вне пределов 0..100; принято 0\n"
                     "Ключ CRLF: значение «7» вне пределов 0..3; принято 0")
        << 1 << 0 << 0 << "v";
    QTest::newRow("a fraction and a range")
        << QByteArray("RTS/CTS=1\nTxDelay=1.5\nCRLF=9\n")
        << ConfigBox("'1.5' is not a valid integer value",
                     "Ключ TxDelay: значение «1.5» не является целым числом; оставлено 0\n"
                     "Ключ CRLF: значение «9» вне пределов 0..3; принято 0")
        << 1 << 0 << 0 << "";
  }
  void optionsAreReadEachOnItsOwnAndBroughtIntoRange() {
    QFETCH(QByteArray, section);
    QFETCH(QString, box);
    WindowFixture f;
    f.WriteSettings("[Velmora]\n" + section);
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QCOMPARE(f.boxes, box.isEmpty() ? QStringList() : QStringList{box});
    QTEST(int(window.Options().rtsCtsMode), "rtsCts");
    QTEST(int(window.Options().keyingDelayMs), "txDelay");
    QTEST(int(window.Options().lineEnding), "crLf");
    QTEST(window.Options().viewerPath, "editor");
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString("COM1, 9600, 8, 1, None, None"));
    QCOMPARE(window.PanelText(StatusPanel::State) == "ОШИБКА", !box.isEmpty());
  }

  // The port's parsers put their default in place of a text they do not know; the operator is
  // told which key held what, and what the port took.
  void unknownLineSettingsAreNamed() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nBaudRate=9601\nStopBits=1\nDataBits=8\nParity=Evn\n"
                    "FlowControl=none\n[Velmora]\nTxDelay=10\n");
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QCOMPARE(f.boxes, QStringList{ConfigBox("Нераспознанные значения в разделе [ComPort1]",
                                            "Ключ BaudRate раздела [ComPort1]: значение «9601» не "
                                            "распознано; принято 9600\n"
                                            "Ключ Parity раздела [ComPort1]: значение «Evn» не "
                                            "распознано; принято None")});
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString("COM1, 9600, 8, 1, None, None"));
    QCOMPARE(window.Options().keyingDelayMs, 10);  // the options are read all the same
  }

  // What stands in the settings file's place and is no settings file is not read (a FIFO would
  // hold the window in open() for ever) and never written over at close.
  void whatIsNoSettingsFileIsToldAndLeftAlone_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("fifo") << "fifo" << "это не обычный файл (канал или устройство)";
    QTest::newRow("megabytes") << "large" << "файл больше 64 КиБ, это не файл настроек";
  }
  void whatIsNoSettingsFileIsToldAndLeftAlone() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    WindowFixture f;
    QByteArray large;
    if (kind == "fifo") {
      QVERIFY(QDir().mkpath(f.ConfigHome() + "/Velmora"));
      QCOMPARE(::mkfifo(QFile::encodeName(f.SettingsPath()).constData(), 0600), 0);
    } else {
      large = "[Velmora]\nTxDelay=40\n" + QByteArray(2 * 1024 * 1024, ';');
      f.WriteSettings(large);
    }
    {
      const test::Watchdog bound(std::chrono::seconds(20), "starting on a settings file that is none");
      MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
      QCOMPARE(f.boxes, QStringList{ConfigBox("Файл " + f.SettingsPath() + " не прочитан",
                                              reason + ". Действуют настройки по умолчанию; файл "
                                                       "не будет перезаписан.")});
      QCOMPARE(window.Options().keyingDelayMs, 0);
      window.close();
    }
    if (kind == "fifo")
      QCOMPARE(QFileInfo(f.SettingsPath()).isFile(), false);
    else
      QCOMPARE(f.ReadSettings(), large);
    QCOMPARE(QDir(f.ConfigHome() + "/Velmora").entryList(QDir::Files | QDir::System), QStringList{"ZORVA.INI"});
  }

  // A viewer path the settings file's code page cannot hold would come back from it as another
  // path with '?' in it: the dialog refuses it and keeps the old one.
  void viewerPathOutsideWindows1251IsRefusedInTheDialog() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString viewer = folder.filePath("viewer-\u4E2D");
    QFile program(viewer);
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.close();
    program.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    WindowFixture f;
    f.WriteSettings("[Velmora]\nEditor=/usr/bin/less\n");
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QString refusal;
    WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      WhenShown<QFileDialog>([&](QFileDialog& files) {
        WhenShown<QMessageBox>([&](QMessageBox& box) {
          refusal = box.text();
          box.accept();
        });
        files.selectFile(viewer);
        static_cast<QDialog&>(files).accept();
      });
      QTest::mouseClick(&ParametersForm(d).ChooseViewerButton(), Qt::LeftButton);
      QCOMPARE(ParametersForm(d).ViewerField().text(), QString("/usr/bin/less"));
      ClickOk(d);
    });
    f.PortSettingsAction()->trigger();
    QVERIFY2(refusal.contains(viewer) && refusal.contains("Windows-1251"), qPrintable(refusal));
    QCOMPARE(window.Options().viewerPath, QString("/usr/bin/less"));
    QVERIFY2(f.ReadSettings().contains("\nEditor=/usr/bin/less\n"), f.ReadSettings().constData());
  }
};

QTEST_MAIN(TestPortSettings)
#include "test_port_settings.moc"
