// Start-up, settings file, status bar, error boxes and the close sequence of the main window.
#include "console/main_window.h"

#include <csignal>

#include <QtTest>

#include "console/quit_signals.h"
#include "console/status_panels.h"
#include "platform/sim/sim_devices.h"
#include "port/ecomport.h"
#include "tests/dialogs/modal_driver.h"
#include "window_fixture.h"

using namespace velmora;
using console::TForm1;
using console::testing::WindowFixture;

namespace {

const QString kLinkErrorPrefix = QStringLiteral("Ошибка связи: \"");
const QString kLinkErrorSuffix = QStringLiteral("\". Выберите другой порт для подключения");

QString ConfigBox(const QString& message) {
  return QStringLiteral("Ошибка конфигурационного файла: \"") + message + u'"';
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void componentsCarryTheirFormNames() {
    WindowFixture f;
    TForm1& form = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    for (const char* name : {"Memo1", "Memo2", "SB1", "Button1", "Button2", "Button3", "Button4",
                             "Button5", "SButton1", "SButton2", "SButton3", "Timer1", "Timer2",
                             "Splitter1", "Panel1", "Panel3", "N7", "N8", "N10", "N11"})
      QVERIFY2(form.findChild<QObject*>(name) != nullptr, name);
    QCOMPARE(form.windowTitle(), QString("Velmora"));
    QVERIFY(form.SButton1->isChecked());
    QVERIFY(!form.SButton2->isChecked() && !form.SButton3->isChecked());
    QVERIFY(form.Memo2->isReadOnly());
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(form.Timer2->isActive());
    QCOMPARE(form.Timer2->interval(), 1000);
    for (int i = 0; i < console::StatusPanels::kPanelCount; ++i)
      QVERIFY(form.SB1->Panel(i)->minimumWidth() >= console::StatusPanels::kWidths[size_t(i)]);
  }

  void startsWithoutSettingsFileAndCreatesItAtClose() {
    WindowFixture f;
    auto loopback = platform::sim::LoopbackPlug::Create();
    TForm1& form = f.Start(loopback->Endpoint());
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(form.ComPort1.Connected());
    QCOMPARE(form.PanelText(0), QString("COM1, 9600, 8, 1, None, None"));
    QCOMPARE(form.PanelText(2), QString("Rx: 0"));
    QCOMPARE(form.PanelText(3), QString("Tx: 0"));
    for (int panel : {1, 4, 5, 6, 7}) QCOMPARE(form.PanelText(panel), QString());
    QCOMPARE(form.RtsCtsMode, 0);
    QCOMPARE(form.TxDelay, 0);
    QCOMPARE(form.CrLfMode, 0);
    QCOMPARE(form.EditorPath, QString());
    QVERIFY(!QFile::exists(f.SettingsPath()));

    form.close();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(!form.ComPort1.Connected());
    QVERIFY(!loopback->IsOpen());
    const QByteArray file = f.ReadSettings();
    QVERIFY2(file.contains("[ComPort1]") && file.contains("Port=COM1") &&
                 file.contains("BaudRate=9600"),
             file.constData());
    QVERIFY2(file.contains("[Velmora]\nRTS/CTS=0\nTxDelay=0\nCRLF=0\nEditor=\n"), file.constData());
  }

  void settingsReadBackAndWrittenAtClose() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nBaudRate=19200\nParity=Even\n"
                    "[Velmora]\nRTS/CTS=1\nTxDelay=35\nCRLF=2\nEditor=/usr/bin/less\n");
    TForm1& form = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QVERIFY(f.boxes.isEmpty());
    QCOMPARE(form.PanelText(0), QString("COM1, 19200, 8, 1, Even, None"));
    QCOMPARE(form.RtsCtsMode, 1);
    QCOMPARE(form.TxDelay, 35);
    QCOMPARE(form.CrLfMode, 2);
    QCOMPARE(form.EditorPath, QString("/usr/bin/less"));
    form.CrLfMode = 3;
    form.close();
    const QByteArray file = f.ReadSettings();
    QVERIFY2(file.contains("[Velmora]\nRTS/CTS=1\nTxDelay=35\nCRLF=3\nEditor=/usr/bin/less\n"),
             file.constData());
    QVERIFY2(file.contains("BaudRate=19200"), file.constData());
  }

  void badOptionValueShowsOneBoxAndKeepsTheKeysBefore_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rtsCts");
    QTest::addColumn<int>("txDelay");
    QTest::addColumn<int>("crLf");
    QTest::newRow("TxDelay letters") << QByteArray("RTS/CTS=1\nTxDelay=abc\nCRLF=2\nEditor=x\n")
                                     << "'abc' is not a valid integer value" << 1 << 0 << 0;
    QTest::newRow("RTS/CTS empty is no default")
        << QByteArray("RTS/CTS=\nTxDelay=20\n") << "'' is not a valid integer value" << 0 << 0 << 0;
    QTest::newRow("CRLF with a fraction") << QByteArray("RTS/CTS=1\nTxDelay=20\nCRLF=1.5\n")
                                          << "'1.5' is not a valid integer value" << 1 << 20 << 0;
  }
  void badOptionValueShowsOneBoxAndKeepsTheKeysBefore() {
    QFETCH(QByteArray, section);
    QFETCH(QString, message);
    WindowFixture f;
    f.WriteSettings("[Velmora]\n" + section);
    TForm1& form = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QCOMPARE(f.boxes, QStringList{ConfigBox(message)});
    QTEST(int(form.RtsCtsMode), "rtsCts");
    QTEST(int(form.TxDelay), "txDelay");
    QTEST(int(form.CrLfMode), "crLf");
    QCOMPARE(form.EditorPath, QString());
    QCOMPARE(form.PanelText(0), QString("COM1, 9600, 8, 1, None, None"));
    QCOMPARE(form.PanelText(1), QString("ОШИБКА"));
  }

  void unwritableSettingsFolderReportsBothSectionsAtClose() {
    WindowFixture f;
    // The configuration "folder" is a file: nothing below it can be made or written.
    const QString blocker = f.ConfigHome() + "/not-a-folder";
    QFile(blocker).open(QIODevice::WriteOnly);
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
    TForm1& form = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    QVERIFY(f.boxes.isEmpty());
    form.close();
    QCOMPARE(f.boxes.size(), 2);
    QCOMPARE(f.boxes[0], ConfigBox(port::EComPort(port::kErrStoreSettings).what()));
    QCOMPARE(f.boxes[1], ConfigBox("Unable to write to " + blocker + "/Velmora/ZORVA.INI"));
    QVERIFY(!form.ComPort1.Connected());  // the port is closed all the same
  }

  void portThatCannotBeOpenedLeavesTheWindowUsable() {
    WindowFixture f;
    TForm1& form = f.Start();  // no device answers to COM1
    QCOMPARE(f.boxes.size(), 1);
    QVERIFY2(f.boxes[0].startsWith(kLinkErrorPrefix + port::ComErrorText(port::kErrOpen)) &&
                 f.boxes[0].endsWith(kLinkErrorSuffix),
             qPrintable(f.boxes[0]));
    QVERIFY(!form.ComPort1.Connected());
    QCOMPARE(form.PanelText(1), QString("ОШИБКА"));
    for (int panel : {4, 5, 6}) QCOMPARE(form.PanelText(panel), QString());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), QString("ОЖИДАНИЕ"), 3000);

    // A key on the closed port reaches the application's error display, nothing is counted.
    f.Type("a");
    QCOMPARE(f.displayed.size(), 1);
    QVERIFY(f.displayed[0].startsWith(port::ComErrorText(port::kErrEscapeComm)));
    QCOMPARE(form.TxCount, 0);
    QVERIFY(!form.RtsOn);
    QCOMPARE(form.PanelText(1), QString("ПЕРЕДАЧА"));
    QCOMPARE(form.Memo1->toPlainText(), QString("a"));  // the pane still shows the key

    form.close();
    QCOMPARE(f.boxes.size(), 1);  // closing a closed port shows nothing
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  void lineIndicatorsFollowTheLoopbackWiring() {
    WindowFixture f;
    TForm1& form = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    // DTR and RTS are dropped at start, so the plug shows neither DSR nor CTS.
    QTRY_COMPARE(form.PanelText(5), QString());
    QCOMPARE(form.PanelText(6), QString());
    form.ComPort1.SetDTRState(true);
    QTRY_COMPARE(form.PanelText(6), QString("DSR"));
    form.SetRtsLine(true);
    QCOMPARE(form.PanelText(4), QString("RTS"));
    QTRY_COMPARE(form.PanelText(5), QString("CTS"));
    form.SetRtsLine(false);
    QTRY_COMPARE(form.PanelText(5), QString());
    QCOMPARE(form.PanelText(4), QString());
    form.ComPort1.SetDTRState(true);
    form.close();
    // Just before it closes the port reports both lines off.
    QCOMPARE(form.PanelText(5), QString());
    QCOMPARE(form.PanelText(6), QString());
  }

  void modemThatAssertsDsrShowsItAtOnce() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();  // the radio modem is powered: DSR on
    QCOMPARE(form.PanelText(6), QString("DSR"));
    QCOMPARE(form.PanelText(5), QString());
  }

  void countersResetAndStatusWords() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.RxCount = 5;
    form.TxCount = 7;
    form.ComErrorCount = 2;
    form.BufErrorCount = 1;
    form.ComPort1Rx80Full();
    QCOMPARE(form.CounterFigures().BufErrorCount, 2);
    form.ResetCounters();
    QCOMPARE(form.CounterFigures().RxCount, 0);
    QCOMPARE(form.CounterFigures().ComErrorCount, 0);
    QCOMPARE(form.PanelText(2), QString("Rx: 0"));
    QCOMPARE(form.PanelText(3), QString("Tx: 0"));

    // Timer2 leaves the word alone while RTS is held raised.
    form.SetRtsLine(true);
    form.ShowState("ПЕРЕДАЧА");
    form.Timer2Timer();
    QCOMPARE(form.PanelText(1), QString("ПЕРЕДАЧА"));
    form.SetRtsLine(false);
    form.Timer2Timer();
    QCOMPARE(form.PanelText(1), QString("ОЖИДАНИЕ"));
  }

  void cancelledParametersChangeNothing() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    dialogs::testing::WhenShown<QDialog>([](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    form.N8->trigger();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(!QFile::exists(f.SettingsPath()));  // nothing saved after a cancel
    QCOMPARE(form.PanelText(0), QString("COM1, 9600, 8, 1, None, None"));
  }

  void exitMenuRunsTheCloseSequence() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SetRtsLine(true);
    form.N7->trigger();
    QVERIFY(!form.isVisible());
    QVERIFY(!f.radio->Rts());
    QVERIFY(!f.radio->IsOpen());
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  void stopSignalClosesTheWindow_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
  }
  void stopSignalClosesTheWindow() {
    QFETCH(int, signalNumber);
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    console::QuitSignals quitSignals;
    connect(&quitSignals, &console::QuitSignals::quitRequested, &form, [&form] { form.close(); });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SetRtsLine(true);
    std::raise(signalNumber);
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!f.radio->Rts());
    QVERIFY(!f.radio->IsOpen());
    QVERIFY(QFile::exists(f.SettingsPath()));
  }

  void clearButtonsEmptyThePanes() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.Memo1->setPlainText("typed");
    form.ReceiveView().Append("received");
    form.RxCount = 8;
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QCOMPARE(form.Memo1->toPlainText(), QString());
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    form.ReceiveView().Flush();
    QCOMPARE(form.Memo2->toPlainText(), QString());
    QCOMPARE(form.RxCount, 8);  // the counters are not touched
  }

  void transmitPaneEmptiesPastTwoThousandLines() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    QStringList lines;
    for (int i = 0; i < 2000; ++i) lines << QString("line %1").arg(i);
    form.Memo1->setPlainText(lines.join('\n'));
    QVERIFY(!form.Memo1->toPlainText().isEmpty());  // exactly 2000 lines stay
    form.Memo1->appendPlainText("one more");
    QCOMPARE(form.Memo1->toPlainText(), QString());
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
