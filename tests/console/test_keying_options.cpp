// The keyer's options from the operator's side: keys typed into the real window on the
// simulated radio, and what the radio recorded (RTS changes, what the far station heard, when);
// and the options' way through the settings file and the parameters dialog.
#include "console/main_window.h"

#include <thread>

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QTemporaryDir>

#include <QtTest>

#include "dialogs/keying_group.h"
#include "dialogs/parameters_dialog.h"
#include "platform/sim/sim_devices.h"
#include "tests/dialogs/dialog_roles.h"
#include "tests/dialogs/modal_driver.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StatusPanel;
using console::testing::Heard;
using console::testing::RtsHistory;
using console::testing::WindowFixture;
using dialogs::ParametersDialog;
using platform::sim::LineChange;
using std::chrono::milliseconds;
using TimePoint = platform::Clock::TimePoint;

namespace {

// 10 bits at 9600 baud: the far end logs a character when its last bit has left.
constexpr auto kCharacterTime = std::chrono::microseconds(10 * 1'000'000 / 9600);

std::vector<LineChange> RtsChanges(const platform::sim::RadioLink& radio) {
  std::vector<LineChange> changes;
  for (const LineChange& c : radio.LineLog())
    if (c.line == LineChange::Rts) changes.push_back(c);
  return changes;
}

// The last time RTS went to `level` on the line.
TimePoint LastRts(const platform::sim::RadioLink& radio, bool level) {
  const auto changes = RtsChanges(radio);
  for (auto c = changes.rbegin(); c != changes.rend(); ++c)
    if (c->on == level) return c->at;
  return {};
}

QString Us(platform::Clock::Duration d) {
  return QString::number(std::chrono::duration_cast<std::chrono::microseconds>(d).count()) + " us";
}

QSpinBox& Spin(const QWidget& d, const char* name) {
  auto* spin = d.findChild<QSpinBox*>(QString::fromLatin1(name));
  if (!spin) throw std::runtime_error(name);
  return *spin;
}

}  // namespace

class TestKeyingOptions : public QObject {
  Q_OBJECT

 private slots:
  // --- lead and tail ---------------------------------------------------------------------------

  void leadAndTailTimesOnTheLine_data() {
    QTest::addColumn<int>("rtsCts");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("lead");
    QTest::addColumn<int>("tail");
    QTest::addColumn<QString>("typed");
    QTest::newRow("RTS/CTS: lead and tail") << 1 << 0 << 40 << 60 << "ab";
    QTest::newRow("RTS/CTS: tail only") << 1 << 0 << 0 << 50 << "a";
    QTest::newRow("delay mode: the delay leads, the tail follows Enter") << 0 << 30 << 0 << 50 << "a\r";
  }
  void leadAndTailTimesOnTheLine() {
    QFETCH(int, rtsCts);
    QFETCH(int, delay);
    QFETCH(int, lead);
    QFETCH(int, tail);
    QFETCH(QString, typed);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = rtsCts;
    window.Options().keyingDelayMs = delay;
    window.Options().txLeadMs = lead;
    window.Options().txTailMs = tail;
    window.Options().lineEnding = 2;
    f.Type(typed);
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(RtsHistory(*f.radio).right(2), QString("+-"));
    const QByteArray sent = typed.toLatin1();
    QCOMPARE(Heard(*f.radio), sent);
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
    const auto heard = f.radio->HeardLog();
    const TimePoint keyed = LastRts(*f.radio, true), unkeyed = LastRts(*f.radio, false);
    const auto leadOnLine = heard.front().at - kCharacterTime - keyed;
    QVERIFY2(leadOnLine >= milliseconds(std::max(lead, delay)), qPrintable(Us(leadOnLine)));
    const auto tailOnLine = unkeyed - heard.back().at;
    QVERIFY2(tailOnLine >= milliseconds(tail), qPrintable(Us(tailOnLine)));
  }

  // The device keeps the lead and the tail: a window that cannot look up (busy painting, here
  // asleep) for longer than both does not stretch them on the line.
  void leadAndTailKeptWhileTheWindowIsBusy() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    window.Options().txLeadMs = 40;
    window.Options().txTailMs = 60;
    f.Type("a");
    std::this_thread::sleep_for(milliseconds(400));
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), QByteArray("a"));
    const auto heard = f.radio->HeardLog();
    const auto leadOnLine = heard.front().at - kCharacterTime - LastRts(*f.radio, true);
    const auto tailOnLine = LastRts(*f.radio, false) - heard.back().at;
    QVERIFY2(leadOnLine >= milliseconds(40) && leadOnLine < milliseconds(200), qPrintable(Us(leadOnLine)));
    QVERIFY2(tailOnLine >= milliseconds(60) && tailOnLine < milliseconds(200), qPrintable(Us(tailOnLine)));
  }

  // A burst typed while the tail runs goes out in the same keying.
  void burstInTheTailKeepsTheKeying() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    window.Options().txTailMs = 300;
    f.Type("a");
    QTRY_COMPARE(Heard(*f.radio), QByteArray("a"));
    QTest::qWait(20);
    QVERIFY(window.RtsRaised());
    f.Type("b");
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), QByteArray("ab"));
    QCOMPARE(RtsHistory(*f.radio).right(2), QString("+-"));
    QCOMPARE(RtsHistory(*f.radio).count(u'+'), 1);
  }

  // --- waiting for CTS -------------------------------------------------------------------------

  void firstCharacterWaitsForCts() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    f.radio->SetCtsDelay(milliseconds(80));
    window.Options().rtsCtsMode = 1;
    window.Options().ctsWaitMs = 1000;
    f.Type("ab");
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), QByteArray("ab"));
    const auto waited = f.radio->HeardLog().front().at - kCharacterTime - LastRts(*f.radio, true);
    QVERIFY2(waited >= milliseconds(80), qPrintable(Us(waited)));
    QCOMPARE(window.CounterFigures().TxCount, 2);
  }

  void noCtsAbandonsTheBurst() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    f.radio->SetCtsDelay(std::chrono::seconds(100));
    window.Options().rtsCtsMode = 1;
    window.Options().ctsWaitMs = 100;
    QSignalSpy abandoned(&window, &MainWindow::BurstAbandoned);
    f.Type("abc");
    QVERIFY(window.RtsRaised());
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(abandoned.size(), 1);
    QCOMPARE(abandoned[0][1].toInt(), 3);
    QCOMPARE(RtsHistory(*f.radio).right(2), QString("+-"));
    QCOMPARE(Heard(*f.radio), QByteArray());
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QVERIFY2(f.TransmitPane()->toPlainText().endsWith(
                 "Радиостанция не дала CTS за 100 мс: передача отменена, не отправлено символов: 3.\n"),
             qPrintable(f.TransmitPane()->toPlainText()));
  }

  // --- the busy channel ------------------------------------------------------------------------

  // What is typed while the channel is busy waits in order and goes once it is free, after the
  // back-off; the radio is never keyed while it hears another station.
  void busyChannelHoldsTheTypedKeys() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().lineEnding = 2;
    window.Options().busyWaitMs = 5000;
    window.Options().busyBackoffMs = 100;
    f.radio->SetFarCarrier(true);
    QTest::qWait(30);  // the carrier reaches the window
    f.Type("ab\rc");
    QCOMPARE(window.PanelText(StatusPanel::State), QString("КАНАЛ ЗАНЯТ"));
    window.OnIdleTick();
    QCOMPARE(window.PanelText(StatusPanel::State), QString("КАНАЛ ЗАНЯТ"));
    QTest::qWait(100);
    QVERIFY(!window.RtsRaised());
    QCOMPARE(window.Keying().Held(), std::string("ab\rc"));
    f.radio->SetFarCarrier(false);
    const auto freed = f.radio->TimeSource().Now();
    QTRY_COMPARE(Heard(*f.radio), QByteArray("ab\rc"));
    QCOMPARE(f.radio->KeyedWhileBusy(), size_t(0));
    const auto backoff = LastRts(*f.radio, true) - freed;
    QVERIFY2(backoff >= milliseconds(20), qPrintable(Us(backoff)));
    QCOMPARE(window.CounterFigures().TxCount, 4);
  }

  void channelBusyTooLongAbandonsWhatWaits() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().busyWaitMs = 150;
    f.radio->SetFarCarrier(true);
    QTest::qWait(30);
    const QString before = RtsHistory(*f.radio);
    f.Type("xy");
    QTRY_VERIFY(f.TransmitPane()->toPlainText().endsWith(
        "Канал занят дольше 150 мс: передача отменена, не отправлено символов: 2.\n"));
    QCOMPARE(RtsHistory(*f.radio), before);  // never keyed
    QCOMPARE(Heard(*f.radio), QByteArray());
    f.radio->SetFarCarrier(false);
    QTest::qWait(30);
    f.Type("z");  // the next keying starts afresh
    QTRY_COMPARE(Heard(*f.radio), QByteArray("z"));
  }

  // --- the transmitter time-out ----------------------------------------------------------------

  // Delay mode held until Enter: RTS drops at the time-out, the operator sees why (in red until
  // the next key), and a lock-out holds the next keying.
  void timeoutDropsRtsAndLocksOut() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().txTimeoutS = 1;
    window.Options().txLockoutS = 1;
    QSignalSpy changes(&window, &MainWindow::RtsChanged);
    f.Type("a");
    QVERIFY(window.RtsRaised());
    QTRY_VERIFY_WITH_TIMEOUT(!window.RtsRaised(), 3000);
    const auto up = LastRts(*f.radio, true), down = LastRts(*f.radio, false);
    QVERIFY2(down - up >= std::chrono::seconds(1), qPrintable(Us(down - up)));
    QCOMPARE(changes.size(), 2);
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ТАЙМАУТ ПРД"));
    window.OnIdleTick();
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ТАЙМАУТ ПРД"));
    QVERIFY(f.StatusBar()->Panel(StatusPanel::State)->styleSheet().contains("red"));
    QVERIFY(f.TransmitPane()->toPlainText().endsWith(
        "Таймаут передатчика: RTS был поднят 1 с и снят, не отправлено символов: 0. Следующая "
        "передача не раньше чем через 1 с.\n"));

    f.Type("b");  // in the lock-out: waits
    QVERIFY(!f.StatusBar()->Panel(StatusPanel::State)->styleSheet().contains("red"));
    QTest::qWait(200);
    QCOMPARE(Heard(*f.radio), QByteArray("a"));
    QTRY_COMPARE_WITH_TIMEOUT(Heard(*f.radio), QByteArray("ab"), 3000);
    const auto again = LastRts(*f.radio, true) - down;
    QVERIFY2(again >= std::chrono::seconds(1), qPrintable(Us(again)));
  }

  // A file send stops at the time-out as the operator's stop would, and nothing more reaches the
  // line after RTS has dropped.
  void timeoutStopsAFileSend() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().txTimeoutS = 1;
    QTemporaryDir folder;
    const QString path = folder.path() + "/long.txt";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4000, 'x'));  // about four seconds at 9600 baud
    file.close();
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QVERIFY(f.SendFileButton()->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!f.SendFileButton()->isChecked(), 3000);
    QVERIFY(!window.RtsRaised());
    const TimePoint down = LastRts(*f.radio, false);
    QTest::qWait(50);
    const auto sent = f.radio->SentLog();
    QVERIFY(!sent.empty());
    // The character in the shift register when RTS dropped may finish; none starts after.
    QVERIFY2(sent.back().at <= down + kCharacterTime, qPrintable(Us(sent.back().at - down)));
    QVERIFY(f.TransmitPane()->toPlainText().contains("Таймаут передатчика"));
    QVERIFY(sent.size() < 4000);
  }

  // --- RTS polarity ----------------------------------------------------------------------------

  void invertedRtsKeysAtTheLowLevel() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nPort=COM1\n[Velmora]\nRTS/CTS=1\nRtsInvert=1\n");
    f.radio = platform::sim::RadioLink::Create();
    f.radio->SetEcho(false);
    f.radio->SetRtsInverted(true);
    MainWindow& window = f.Start(f.radio->Endpoint());
    QVERIFY(f.radio->Rts());  // idle: high, the radio unkeyed
    f.Type("ab");
    QVERIFY(window.RtsRaised());
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString("RTS"));
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), QByteArray("ab"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
    QVERIFY(f.radio->Rts());
  }

  // --- settings --------------------------------------------------------------------------------

  void settingsFileKeys_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QList<int>>("values");  // lead tail cts busy backoff timeout lockout invert
    QTest::addColumn<QString>("problems");
    QTest::newRow("absent: as before") << QByteArray("TxDelay=20\n") << QList<int>{0, 0, 0, 0, 0, 0, 0, 0}
                                       << QString();
    QTest::newRow("as written") << QByteArray("TxLead=15\nTxTail=25\nCtsWait=300\nBusyWait=2000\nBusyBackoff=250\n"
                                              "TxTimeout=30\nTxLockout=5\nRtsInvert=1\n")
                                << QList<int>{15, 25, 300, 2000, 250, 30, 5, 1} << QString();
    QTest::newRow("brought into range")
        << QByteArray("TxLead=-1\nTxTail=99999\nTxTimeout=601\nRtsInvert=2\n") << QList<int>{0, 2000, 0, 0, 0, 600, 0, 1}
        << QString("Ключ TxLead: значение «-1» вне пределов 0..2000; принято 0\n"
                   "Ключ TxTail: значение «99999» вне пределов 0..2000; принято 2000\n"
                   "Ключ TxTimeout: значение «601» вне пределов 0..600; принято 600\n"
                   "Ключ RtsInvert: значение «2» вне пределов 0..1; принято 1");
    QTest::newRow("not a number keeps the default")
        << QByteArray("TxTimeout=abc\nTxTail=40\n") << QList<int>{0, 40, 0, 0, 0, 0, 0, 0}
        << QString("Ключ TxTimeout: значение «abc» не является целым числом; оставлено 0");
  }
  void settingsFileKeys() {
    QFETCH(QByteArray, section);
    QFETCH(QList<int>, values);
    QFETCH(QString, problems);
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nPort=COM1\n[Velmora]\n" + section);
    MainWindow& window = f.Start(platform::sim::LoopbackPlug::Create()->Endpoint());
    const console::ConsoleOptions& o = window.Options();
    QCOMPARE((QList<int>{o.txLeadMs, o.txTailMs, o.ctsWaitMs, o.busyWaitMs, o.busyBackoffMs, o.txTimeoutS,
                         o.txLockoutS, o.rtsInvert}),
             values);
    QCOMPARE(f.boxes.size(), problems.isEmpty() ? 0 : 1);
    if (!problems.isEmpty()) QVERIFY2(f.boxes[0].contains(problems), qPrintable(f.boxes[0]));
    window.SaveSettingsFile();
    const QByteArray saved = f.ReadSettings();
    // A file that had none of them gets none; one that had them keeps them, as taken.
    QCOMPARE(saved.contains("TxLead="), section.contains("TxLead="));
    if (section.contains("TxTail=")) QVERIFY(saved.contains("TxTail=" + QByteArray::number(values[1]) + "\r\n") ||
                                             saved.contains("TxTail=" + QByteArray::number(values[1]) + "\n"));
  }

  // The dialog shows the options, enables what the keying mode uses, and OK stores them in the
  // window and the file; the next opening shows them again.
  void dialogRoundTrip() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().txTailMs = 70;
    dialogs::testing::WhenShown<ParametersDialog>([](ParametersDialog& d) {
      const dialogs::testing::ParametersForm form(d);
      QCOMPARE(Spin(d, "TxTail").value(), 70);
      QVERIFY(form.DelayedKeying().isChecked());
      QVERIFY(!Spin(d, "TxLead").isEnabled());
      QVERIFY(!Spin(d, "CtsWait").isEnabled());
      QVERIFY(Spin(d, "TxTimeout").isEnabled());
      QTest::mouseClick(&form.RtsCtsKeying(), Qt::LeftButton);
      QVERIFY(Spin(d, "TxLead").isEnabled());
      QVERIFY(Spin(d, "CtsWait").isEnabled());
      Spin(d, "TxLead").setValue(25);
      Spin(d, "CtsWait").setValue(400);
      Spin(d, "BusyWait").setValue(3000);
      Spin(d, "BusyBackoff").setValue(250);
      Spin(d, "TxTimeout").setValue(30);
      Spin(d, "TxLockout").setValue(10);
      d.findChild<QCheckBox*>("RtsInvert")->setChecked(true);
      Spin(d, "FrameGapField").setValue(12);  // the frame view's row beside the session log
      // The group follows the others in the tab order: the font, the session log, the frame gap.
      QWidget* next = Spin(d, "FrameGapField").nextInFocusChain();
      while (Spin(d, "FrameGapField").isAncestorOf(next)) next = next->nextInFocusChain();
      QCOMPARE(next, static_cast<QWidget*>(&Spin(d, "TxLead")));
      QTest::mouseClick(&form.OkButton(), Qt::LeftButton);
    });
    f.PortSettingsAction()->trigger();
    const console::ConsoleOptions& o = window.Options();
    QCOMPARE((QList<int>{o.rtsCtsMode, o.txLeadMs, o.txTailMs, o.ctsWaitMs, o.busyWaitMs, o.busyBackoffMs,
                         o.txTimeoutS, o.txLockoutS, o.rtsInvert}),
             (QList<int>{1, 25, 70, 400, 3000, 250, 30, 10, 1}));
    QCOMPARE(o.frameGapMs, 12);
    const QByteArray saved = f.ReadSettings();
    for (const char* line : {"TxLead=25", "TxTail=70", "CtsWait=400", "BusyWait=3000", "BusyBackoff=250",
                             "TxTimeout=30", "TxLockout=10", "RtsInvert=1", "FrameGap=12"})
      QVERIFY2(saved.contains(line), line);

    bool shown = false;
    dialogs::testing::WhenShown<ParametersDialog>([&](ParametersDialog& d) {
      shown = true;
      QCOMPARE(Spin(d, "TxTimeout").value(), 30);
      QCOMPARE(Spin(d, "CtsWait").value(), 400);
      QCOMPARE(Spin(d, "FrameGapField").value(), 12);
      QVERIFY(d.findChild<QCheckBox*>("RtsInvert")->isChecked());
      d.reject();
    });
    f.PortSettingsAction()->trigger();
    QVERIFY(shown);
  }

  // The state panel holds the new words whole.
  void stateWordsFitTheirPanel() {
    WindowFixture f;
    f.StartOnRadio();
    QLabel* panel = f.StatusBar()->Panel(StatusPanel::State);
    for (const QString& word : {QString("КАНАЛ ЗАНЯТ"), QString("ТАЙМАУТ ПРД"), QString("НЕТ CTS")})
      QVERIFY2(panel->fontMetrics().horizontalAdvance(word) <= panel->contentsRect().width(), qPrintable(word));
  }
};

QTEST_MAIN(TestKeyingOptions)
#include "test_keying_options.moc"
