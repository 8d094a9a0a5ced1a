// Start-up, settings file, status bar, error boxes and the close sequence of the main window.
#include "console/main_window.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QMenu>
#include <QtTest>

#include "console/qt_translations.h"
#include "console/status_panels.h"
#include "dialogs/parameters_dialog.h"
#include "platform/posix/uucp_lock.h"
#include "platform/sim/sim_devices.h"
#include "port/qt/com_combo_box.h"
#include "port/ecomport.h"
#include "tests/dialogs/dialog_roles.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/support/pty_pair.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StatusPanel;
using console::testing::WindowFixture;

namespace {

constexpr StatusPanel kAllPanels[] = {StatusPanel::PortSummary, StatusPanel::State,
                                      StatusPanel::Rx,          StatusPanel::Tx,
                                      StatusPanel::Rts,         StatusPanel::Cts,
                                      StatusPanel::Dsr,         StatusPanel::Progress};

const QString kLinkErrorPrefix = QStringLiteral("Ошибка связи: \"");
const QString kLinkErrorSuffix = QStringLiteral("\". Выберите другой порт для подключения");

QString ConfigBox(const QString& message) {
  return QStringLiteral("Ошибка конфигурационного файла: \"") + message + u'"';
}

// Runs the settings probe (a console that starts and closes at once) with `configHome` as its
// configuration folder, as "nobody" when this process is root; returns what it printed: its
// error boxes, one a line. Bounded: a probe that does not end is killed.
QString RunSettingsProbe(const QString& configHome) {
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const QByteArray probe = VELMORA_SETTINGS_PROBE;
  const QByteArray configVariable = "XDG_CONFIG_HOME=" + QFile::encodeName(configHome);
  const struct passwd* nobody = ::getpwnam("nobody");
  const bool dropToNobody = ::geteuid() == 0;
  if (dropToNobody && !nobody) return "no user nobody";
  const pid_t child = ::fork();
  if (child == 0) {
    // Only calls that are safe after fork in a threaded process, up to exec.
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    if (dropToNobody && (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                         ::setuid(nobody->pw_uid) != 0))
      ::_exit(126);
    char* const argv[] = {const_cast<char*>(probe.constData()), nullptr};
    char* const envp[] = {const_cast<char*>(configVariable.constData()),
                          const_cast<char*>("QT_QPA_PLATFORM=offscreen"),
                          const_cast<char*>("HOME=/tmp"), const_cast<char*>("XDG_RUNTIME_DIR=/tmp"),
                          nullptr};
    ::execve(argv[0], argv, envp);
    ::_exit(127);
  }
  ::close(out[1]);
  QByteArray printed;
  QElapsedTimer clock;
  clock.start();
  int status = 0;
  for (;;) {
    struct pollfd readable {out[0], POLLIN, 0};
    if (::poll(&readable, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n > 0) printed.append(buffer, n);
      if (n > 0) continue;
    }
    if (::waitpid(child, &status, WNOHANG) == child) break;
    if (clock.elapsed() > 15000) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      printed += "\n(the probe did not end)";
      break;
    }
  }
  ::close(out[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    printed += "\n(the probe failed: status " + QByteArray::number(status) + ")";
  return QString::fromUtf8(printed);
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void componentsCarryTheirFormNames() {
    WindowFixture f;
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    for (const char* name : {"Memo1", "Memo2", "SB1", "Button1", "Button2", "Button3", "Button4",
                             "Button5", "SButton1", "SButton2", "SButton3", "Timer1", "Timer2",
                             "Splitter1", "Panel1", "Panel3", "N7", "N8", "N10", "N11"})
      QVERIFY2(window.findChild<QObject*>(name) != nullptr, name);
    QCOMPARE(window.windowTitle(), QString("Velmora"));
    QVERIFY(f.AsciiButton()->isChecked());
    QVERIFY(!f.HexButton()->isChecked());
    QVERIFY(!f.BinButton()->isChecked());
    // Read-only: what the operator types there goes nowhere.
    QTest::keyClicks(f.ReceiveView(), "typed");
    QCOMPARE(f.ReceivedText(), QString());
    QVERIFY(!f.KeyingDelay()->isActive());
    QVERIFY(f.StateTimer()->isActive());
    QCOMPARE(f.StateTimer()->interval(), 1000);
    for (StatusPanel panel : kAllPanels)
      if (panel != StatusPanel::PortSummary)
        QVERIFY(f.StatusBar()->Panel(panel)->minimumWidth() >= console::StatusPanels::Width(panel));
  }

  // A new user's first start: no settings file. The window comes up with nothing opened and says
  // how to choose a port and which serial adapters there are; the design-time settings stay, and
  // the first close writes the file. A later start opens nothing either until a port was chosen
  // in the parameters dialog; from then on the chosen port opens as always.
  void firstStartOpensNothingAndSaysHowToChooseAPort() {
    WindowFixture f;
    auto loopback = platform::sim::LoopbackPlug::Create();
    f.directory->Add("COM1", loopback->Endpoint());  // even a COM1 that exists is not opened
    f.directory->Add("LOOP", platform::sim::LoopbackPlug::Create()->Endpoint());
    f.sysfs.PlugUsbAdapter("ttyUSB0", "0403", "6001", "A1");
    f.sysfs.AddBoardUart("ttyS0");
    MainWindow& window = f.StartFirstTime();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(f.displayed.isEmpty());
    QVERIFY(!window.Port().Connected());
    QVERIFY(!loopback->IsOpen());
    QCOMPARE(window.PanelText(StatusPanel::State), QString("НЕТ ПОРТА"));
    const QString guide = f.TransmitPane()->toPlainText();
    QVERIFY2(guide.contains("Параметры → Настройка порта") && guide.contains("ttyS0, ttyUSB0"),
             qPrintable(guide));
    QVERIFY2(!guide.contains("LOOP"), qPrintable(guide));
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString("COM1, 9600, 8, 1, None, None"));
    QCOMPARE(window.PanelText(StatusPanel::Rx), QString("Rx: 0"));
    QCOMPARE(window.PanelText(StatusPanel::Tx), QString("Tx: 0"));
    for (StatusPanel panel : {StatusPanel::Rts, StatusPanel::Cts, StatusPanel::Dsr, StatusPanel::Progress})
      QCOMPARE(window.PanelText(panel), QString());
    QCOMPARE(window.Options().rtsCtsMode, 0);
    QCOMPARE(window.Options().keyingDelayMs, 0);
    QCOMPARE(window.Options().lineEnding, 0);
    QCOMPARE(window.Options().viewerPath, QString());
    QVERIFY(!QFile::exists(f.SettingsPath()));

    window.close();
    QVERIFY(f.boxes.isEmpty());
    QByteArray file = f.ReadSettings();
    QVERIFY2(file.contains("[ComPort1]") && file.contains("Port=COM1") && file.contains("BaudRate=9600"),
             file.constData());
    QVERIFY2(file.contains("[Velmora]\nRTS/CTS=0\nTxDelay=0\nCRLF=0\nEditor=\n"), file.constData());

    // The file names COM1, but nobody chose it.
    f.window.reset();
    MainWindow& second = f.StartFirstTime();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(!second.Port().Connected());
    QVERIFY(!loopback->IsOpen());
    QVERIFY(f.TransmitPane()->toPlainText().contains("Параметры → Настройка порта"));
    dialogs::testing::WhenShown<dialogs::ParametersDialog>([](dialogs::ParametersDialog& d) {
      const dialogs::testing::ParametersForm form(d);
      port::TComComboBox* box = &form.PortBox();
      const int index = box->findText(QStringLiteral("LOOP"));
      QVERIFY(index >= 0);
      box->setFocus();  // picked by keyboard, as the operator does
      QTest::keyClick(box, Qt::Key_Home);
      for (int i = 0; i < index; ++i) QTest::keyClick(box, Qt::Key_Down);
      QTest::mouseClick(&form.OkButton(), Qt::LeftButton);
    });
    f.PortSettingsAction()->trigger();
    QVERIFY(second.Port().Connected());
    QCOMPARE(QString::fromStdString(second.Port().Port()), QString("LOOP"));
    second.close();

    f.window.reset();
    MainWindow& third = f.StartFirstTime();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(third.Port().Connected());
    QCOMPARE(QString::fromStdString(third.Port().Port()), QString("LOOP"));
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
  }

  // A settings file written before there were first starts, naming a port, reads as it always
  // did: the port opens and nothing new is written into the file's console section.
  void aSettingsFileWithoutTheFirstStartMarkOpensItsPort() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nPort=COM1\n[Velmora]\nRTS/CTS=0\n");
    auto loopback = platform::sim::LoopbackPlug::Create();
    f.directory->Add("COM1", loopback->Endpoint());
    MainWindow& window = f.StartFirstTime();
    QVERIFY(window.Port().Connected());
    window.close();
    QVERIFY2(!f.ReadSettings().contains("PortChosen"), f.ReadSettings().constData());
  }

  void settingsReadBackAndWrittenAtClose() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nBaudRate=19200\nParity=Even\n"
                    "[Velmora]\nRTS/CTS=1\nTxDelay=35\nCRLF=2\nEditor=/usr/bin/less\n");
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QVERIFY(f.boxes.isEmpty());
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString("COM1, 19200, 8, 1, Even, None"));
    QCOMPARE(window.Options().rtsCtsMode, 1);
    QCOMPARE(window.Options().keyingDelayMs, 35);
    QCOMPARE(window.Options().lineEnding, 2);
    QCOMPARE(window.Options().viewerPath, QString("/usr/bin/less"));
    window.Options().lineEnding = 3;
    window.close();
    const QByteArray file = f.ReadSettings();
    QVERIFY2(file.contains("[Velmora]\nRTS/CTS=1\nTxDelay=35\nCRLF=3\nEditor=/usr/bin/less\n"),
             file.constData());
    QVERIFY2(file.contains("BaudRate=19200"), file.constData());
  }

  void unwritableSettingsFolderReportsBothSectionsAtClose() {
    WindowFixture f;
    // The configuration "folder" is a file: nothing below it can be made or written.
    const QString blocker = f.ConfigHome() + "/not-a-folder";
    QFile(blocker).open(QIODevice::WriteOnly);
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QVERIFY(f.boxes.isEmpty());
    window.close();
    QCOMPARE(f.boxes.size(), 2);
    QCOMPARE(f.boxes[0], ConfigBox(port::EComPort(port::kErrStoreSettings).what()));
    QCOMPARE(f.boxes[1], ConfigBox("Unable to write to " + blocker + "/Velmora/ZORVA.INI"));
    QVERIFY(!window.Port().Connected());  // the port is closed all the same
  }

  // Every crossing between the file's bytes and the window's text is Windows-1251: a viewer
  // path in that code page reads as its letters and goes back byte for byte.
  void editorPathInWindows1251SurvivesAClose() {
    WindowFixture f;
    const QByteArray editor = "C:\\\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB\\view.exe";
    f.WriteSettings("[Velmora]\nRTS/CTS=0\nTxDelay=0\nCRLF=0\nEditor=" + editor + "\n");
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QCOMPARE(window.Options().viewerPath, QString("C:\\Программы\\view.exe"));
    window.close();
    QVERIFY2(f.ReadSettings().contains("\nEditor=" + editor + "\n"), f.ReadSettings().constData());
  }

  // No text on the status bar moves or widens the window: its least width is fixed before it
  // is shown, whatever the port is called, and a long port summary is cut short, not the
  // window widened (a window manager places a window anew when it widens after showing).
  void longPortNameNeitherWidensNorMovesTheWindow() {
    const QString longName =
        QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    // Place, size and least width as shown (the bar's size grip appears with the window).
    struct Shown {
      QRect geometry;
      int leastWidth = -1;
    };
    const auto show = [](MainWindow& window) {
      window.show();
      if (!QTest::qWaitForWindowExposed(&window)) return Shown{};
      return Shown{window.geometry(), window.minimumSizeHint().width()};
    };
    Shown shortName;
    {
      WindowFixture f;
      shortName = show(f.Start(platform::sim::LoopbackPlug::Create()->Endpoint()));
      // The usual summary is shown whole.
      f.StatusBar()->Refresh();
      QCOMPARE(f.StatusBar()->Panel(StatusPanel::PortSummary)->text(),
               QString("COM1, 9600, 8, 1, None, None"));
    }
    QVERIFY(shortName.leastWidth > 0);
    QVERIFY(shortName.leastWidth <= shortName.geometry.width());
    QVERIFY(shortName.geometry.width() >= 646);
    QCOMPARE(shortName.geometry.height(), 480);
    WindowFixture f;
    f.WriteSettings(("[ComPort1]\nPort=" + longName + "\n").toLatin1());
    MainWindow& window = f.Start();  // no such device: the link error box is recorded
    const Shown longNameShown = show(window);
    QCOMPARE(longNameShown.leastWidth, shortName.leastWidth);
    QCOMPARE(longNameShown.geometry, shortName.geometry);
    const QRect placed = window.geometry();
    const int shortNameWidth = shortName.leastWidth;

    const QString summary = longName + ", 9600, 8, 1, None, None";
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), summary);
    f.StatusBar()->Refresh();
    QLabel* panel = f.StatusBar()->Panel(StatusPanel::PortSummary);
    // Cut short in the port name's middle; the line settings after it stay whole.
    QVERIFY2(panel->text().contains(QChar(0x2026)), qPrintable(panel->text()));
    QVERIFY2(panel->text().endsWith(", 9600, 8, 1, None, None"), qPrintable(panel->text()));
    QCOMPARE(panel->toolTip(), summary);

    // The longest texts every other panel can be given change nothing either.
    window.ShowState("ПЕРЕДАЧА");
    for (StatusPanel counter : {StatusPanel::Rx, StatusPanel::Tx})
      f.StatusBar()->SetPanelText(counter, "Rx: -2147483648");
    f.StatusBar()->SetPanelText(StatusPanel::Progress, "100%");
    f.StatusBar()->Refresh();
    QTest::qWait(50);
    QCOMPARE(window.minimumSizeHint().width(), shortNameWidth);
    QCOMPARE(window.geometry(), placed);
    for (StatusPanel shown : {StatusPanel::State, StatusPanel::Rx, StatusPanel::Progress})
      QCOMPARE(f.StatusBar()->Panel(shown)->text(), window.PanelText(shown));
  }

  // The panes' context menus and the standard dialogs' buttons speak Russian like the rest.
  void qtOwnTextsAreRussian() {
    QVERIFY(console::InstallQtRussianTranslations(*QCoreApplication::instance()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("Отмена"));
    WindowFixture f;
    f.StartOnRadio();
    std::unique_ptr<QMenu> menu(f.TransmitPane()->createStandardContextMenu());
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text();
    QVERIFY2(texts.join('|').contains("&Копировать"), qPrintable(texts.join('|')));
  }

  // A settings file that exists but cannot be read is not replaced by one holding only what
  // the console writes: both writes are refused and every setting in it is kept. As root
  // everything is readable, so the console runs as the unprivileged user "nobody" then.
  void unreadableSettingsFileIsNotReplaced() {
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString folder = home.path() + "/Velmora";
    const QString file = folder + "/ZORVA.INI";
    QVERIFY(QDir().mkpath(folder));
    const QByteArray content = "[ComPort1]\nPort=COM7\nBaudRate=19200\n[Velmora]\nTxDelay=40\n";
    {
      QFile settings(file);
      QVERIFY(settings.open(QIODevice::WriteOnly));
      settings.write(content);
    }
    // Everyone may pass the folders and write into the settings folder, so that only the
    // unreadable file can stop the write.
    QVERIFY(::chmod(QFile::encodeName(home.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
    QVERIFY(::chmod(QFile::encodeName(file).constData(), ::geteuid() == 0 ? 0600 : 0) == 0);

    const QString output = RunSettingsProbe(home.path());
    QVERIFY2(output.contains("Unable to write to " + file), qPrintable(output));
    QVERIFY2(output.contains(port::EComPort(port::kErrStoreSettings).what()), qPrintable(output));
    ::chmod(QFile::encodeName(file).constData(), 0600);
    QFile settings(file);
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), content);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"ZORVA.INI"});  // nothing left over
  }

  void portThatCannotBeOpenedLeavesTheWindowUsable() {
    WindowFixture f;
    MainWindow& window = f.Start();  // no device answers to COM1
    QCOMPARE(f.boxes.size(), 1);
    // The exact text, then the system's reason in the operator's terms.
    QCOMPARE(f.boxes[0], kLinkErrorPrefix + port::EComPort(port::kErrOpen, ENOENT).what() + kLinkErrorSuffix +
                             "\n\nНет устройства /dev/COM1.");
    QVERIFY(!window.Port().Connected());
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ОШИБКА"));
    for (StatusPanel panel : {StatusPanel::Rts, StatusPanel::Cts, StatusPanel::Dsr})
      QCOMPARE(window.PanelText(panel), QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The closed port does not pass for an idle one.
    QTRY_COMPARE_WITH_TIMEOUT(window.PanelText(StatusPanel::State), QString("НЕТ ПОРТА"), 3000);

    // Keys on the closed port: the operator is told once how to open one, not by an error per
    // key; nothing goes out or is counted, and the pane still shows the keys.
    f.Type("ab");
    f.Key(Qt::Key_Return, "\r");
    f.Type("c");
    QVERIFY2(f.displayed.isEmpty(), qPrintable(f.displayed.join('\n')));
    const QString pane = f.TransmitPane()->toPlainText();
    QCOMPARE(pane.count("Порт закрыт"), 1);
    QVERIFY2(pane.contains("Параметры → Настройка порта"), qPrintable(pane));
    QVERIFY2(pane.endsWith("ab\nc"), qPrintable(pane));
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QVERIFY(!window.RtsRaised());
    QCOMPARE(window.PanelText(StatusPanel::State), QString("НЕТ ПОРТА"));

    window.close();
    QCOMPARE(f.boxes.size(), 1);  // closing a closed port shows nothing
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  // Any local user may plant a FIFO where the port's lock file goes. Opening the port then
  // refuses it at once, naming that file, and the window keeps answering: the operator's keys
  // reach the transmit pane and the port can be chosen again.
  void aFifoPlantedAsThePortsLockFileLeavesTheWindowAnswering() {
    test::PtyPair pty;
    const std::string lock = std::string(platform::posix::kUucpLockFolder) + "/" +
                             platform::posix::UucpLock::FileName(pty.SlavePath());
    ::unlink(lock.c_str());
    QCOMPARE(::mkfifo(lock.c_str(), 0666), 0);
    struct Removal {
      std::string path;
      ~Removal() { ::unlink(path.c_str()); }
    } removal{lock};
    WindowFixture f;
    f.WriteSettings(("[ComPort1]\nPort=" + pty.SlavePath() + "\n").c_str());
    QElapsedTimer started;
    started.start();
    MainWindow& window = f.Start();
    QVERIFY2(started.elapsed() < 5000, "opening waited on the FIFO");
    QVERIFY(!window.Port().Connected());
    QCOMPARE(f.boxes.size(), 1);
    QVERIFY2(f.boxes[0].contains(QString::fromStdString(lock)), qPrintable(f.boxes[0]));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    f.Type("ok");
    QVERIFY2(f.TransmitPane()->toPlainText().endsWith("ok"), qPrintable(f.TransmitPane()->toPlainText()));
    QTRY_COMPARE_WITH_TIMEOUT(window.PanelText(StatusPanel::State), QString("НЕТ ПОРТА"), 3000);
    window.close();
  }

  void lineIndicatorsFollowTheLoopbackWiring() {
    WindowFixture f;
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    // DTR and RTS are dropped at start, so the plug shows neither DSR nor CTS.
    QTRY_COMPARE(window.PanelText(StatusPanel::Cts), QString());
    QCOMPARE(window.PanelText(StatusPanel::Dsr), QString());
    window.Port().SetDTRState(true);
    QTRY_COMPARE(window.PanelText(StatusPanel::Dsr), QString("DSR"));
    window.SetRts(true);
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString("RTS"));
    QTRY_COMPARE(window.PanelText(StatusPanel::Cts), QString("CTS"));
    window.SetRts(false);
    QTRY_COMPARE(window.PanelText(StatusPanel::Cts), QString());
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString());
    window.Port().SetDTRState(true);
    window.close();
    // Just before it closes the port reports both lines off.
    QCOMPARE(window.PanelText(StatusPanel::Cts), QString());
    QCOMPARE(window.PanelText(StatusPanel::Dsr), QString());
  }

  void modemThatAssertsDsrShowsItAtOnce() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();  // the radio modem is powered: DSR on
    QCOMPARE(window.PanelText(StatusPanel::Dsr), QString("DSR"));
    QCOMPARE(window.PanelText(StatusPanel::Cts), QString());
  }

  void countersResetAndStatusWords() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    f.Type("ab");
    f.radio->InjectReceived("xyz");
    window.OnLineErrors(port::TComErrors{port::erFrame});
    window.OnReceiveBufferAlmostFull();
    window.OnReceiveBufferAlmostFull();
    QTRY_COMPARE(window.CounterFigures().RxCount, 3);
    QCOMPARE(window.CounterFigures().TxCount, 2);
    QCOMPARE(window.CounterFigures().ComErrorCount, 1);
    QCOMPARE(window.CounterFigures().BufErrorCount, 2);
    QTRY_VERIFY(!window.RtsRaised());
    window.ResetCounters();
    QCOMPARE(window.CounterFigures().RxCount, 0);
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QCOMPARE(window.CounterFigures().ComErrorCount, 0);
    QCOMPARE(window.CounterFigures().BufErrorCount, 0);
    QCOMPARE(window.PanelText(StatusPanel::Rx), QString("Rx: 0"));
    QCOMPARE(window.PanelText(StatusPanel::Tx), QString("Tx: 0"));

    // Timer2 leaves the word alone while RTS is held raised.
    window.SetRts(true);
    window.ShowState("ПЕРЕДАЧА");
    window.OnIdleTick();
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ПЕРЕДАЧА"));
    window.SetRts(false);
    window.OnIdleTick();
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ОЖИДАНИЕ"));
  }

  void cancelledParametersChangeNothing() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    dialogs::testing::WhenShown<QDialog>([](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    f.PortSettingsAction()->trigger();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(!QFile::exists(f.SettingsPath()));  // nothing saved after a cancel
    QCOMPARE(window.PanelText(StatusPanel::PortSummary), QString("COM1, 9600, 8, 1, None, None"));
  }

  void exitMenuRunsTheCloseSequence() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.SetRts(true);
    f.ExitAction()->trigger();
    QVERIFY(!window.isVisible());
    QVERIFY(!f.radio->Rts());
    QVERIFY(!f.radio->IsOpen());
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  void clearButtonsEmptyThePanes() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    f.TransmitPane()->setPlainText("typed");
    f.radio->InjectReceived("received");
    QTRY_COMPARE(window.CounterFigures().RxCount, 8);
    QTest::mouseClick(f.ClearTransmitButton(), Qt::LeftButton);
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
    QTest::mouseClick(f.ClearReceiveButton(), Qt::LeftButton);
    window.ReceiveContent().Flush();
    QCOMPARE(f.ReceiveView()->toPlainText(), QString());
    QCOMPARE(window.CounterFigures().RxCount, 8);  // the counters are not touched
  }

  void transmitPaneEmptiesPastTwoThousandLines() {
    WindowFixture f;
    f.StartOnRadio();
    QStringList lines;
    for (int i = 0; i < 2000; ++i) lines << QString("line %1").arg(i);
    f.TransmitPane()->setPlainText(lines.join('\n'));
    QVERIFY(!f.TransmitPane()->toPlainText().isEmpty());  // exactly 2000 lines stay
    f.TransmitPane()->appendPlainText("one more");
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
