// The send line, the frames on F1–F12 and their repeats, from the operator's side: the real
// window on a pseudo-terminal whose far end the test plays, and on the simulated radio.
#include "console/send_line.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>

#include "console/poll_repeater.h"
#include "tests/console/window_fixture.h"
#include "tests/support/pty_pair.h"

using namespace velmora;
using console::CheckKind;
using console::MainWindow;
using console::SendMode;
using console::StatusPanel;
using console::testing::Heard;
using console::testing::RtsHistory;
using console::testing::WindowFixture;

namespace {

QLineEdit* Entry(MainWindow& window) { return window.SendLineEntry().Entry(); }

// The settings file of a console on the pty's slave, with `extra` lines after the port's.
void WriteSettingsForPty(WindowFixture& f, const test::PtyPair& pty, const QByteArray& extra = {}) {
  f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\nBaudRate=115200\n" + extra);
}

void ShowAndWait(MainWindow& window) {
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
}

// Types `line` into the send line as keys and presses Enter there.
void EnterLine(MainWindow& window, const QString& line) {
  Entry(window)->setFocus();
  Entry(window)->clear();
  QTest::keyClicks(Entry(window), line);
  QTest::keyClick(Entry(window), Qt::Key_Return);
}

// What the far end has received so far, without blocking the window's event loop.
QByteArray Drain(test::PtyPair& pty) { return QByteArray::fromStdString(pty.Read(4096, 0)); }

}  // namespace

class SendLineTest : public QObject {
  Q_OBJECT

 private slots:
  void hexLineWithCrcReachesTheFarEndByteForByte() {
    WindowFixture f;
    test::PtyPair pty;
    WriteSettingsForPty(f, pty, "[Velmora]\nSendMode=hex\nSendCheck=crc16\n");
    MainWindow& window = f.Start();
    ShowAndWait(window);
    QVERIFY(f.boxes.isEmpty());
    // Alt+С takes the focus to the line from the transmit pane.
    window.FocusTransmitPane();
    QTest::sendKeyEvent(QTest::Click, f.TransmitPane(), static_cast<Qt::Key>(QChar(u'С').unicode()),
                        QStringLiteral("с"), Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), Entry(window));
    QTest::keyClicks(Entry(window), "01 03 00 00 00 01");
    QTest::keyClick(Entry(window), Qt::Key_Return);
    QCOMPARE(QByteArray::fromStdString(pty.Read(8)), QByteArray::fromHex("010300000001840A"));
    QCOMPARE(window.CounterFigures().TxCount, 8);
    QCOMPARE(Entry(window)->text(), QString("01 03 00 00 00 01"));  // kept for editing
    // Keys typed in the line are the line's: none reached the transmit pane or the port alone.
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
    QTRY_VERIFY(!window.RtsRaised());

    // Esc goes back to the transmit pane, which sends key by key, control characters included.
    QTest::keyClick(Entry(window), Qt::Key_Escape);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.TransmitPane()));
    f.Key(Qt::Key_B, QStringLiteral("\x02"), Qt::ControlModifier);
    QCOMPARE(QByteArray::fromStdString(pty.Read(1)), QByteArray("\x02"));
  }

  // A frame given while a file goes out would land in the middle of the file on the line (and,
  // keyed, end the file's keying with its own): it is refused and the pane says why.
  void aFrameIsNotMixedIntoAFileBeingSent() {
    WindowFixture f;
    test::PtyPair pty;
    WriteSettingsForPty(f, pty, "[Velmora]\nSendMode=text\n[Frames]\nF2=poll;text;none;0;POLL\n");
    MainWindow& window = f.Start();
    ShowAndWait(window);
    const QString path = QDir(f.ConfigHome()).filePath("file.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64 * 1024, 'z'));
    file.close();
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QByteArray heard;
    QTRY_VERIFY((heard += Drain(pty), heard.size() >= 100));
    EnterLine(window, "LINE");
    QTest::keyClick(Entry(window), Qt::Key_F2);
    QTRY_VERIFY_WITH_TIMEOUT((heard += Drain(pty), !f.SendFileButton()->isChecked()), 20000);
    QTRY_VERIFY((heard += Drain(pty), heard.size() >= 64 * 1024));
    QTest::qWait(50);
    heard += Drain(pty);
    QCOMPARE(heard.size(), 64 * 1024);
    QCOMPARE(heard.count('z'), 64 * 1024);
    QCOMPARE(f.TransmitPane()->toPlainText().count("Идет передача файла: кадр не отправлен"), 2);
  }

  void aLineThatDoesNotReadIsShownAndNotSent() {
    WindowFixture f;
    test::PtyPair pty;
    WriteSettingsForPty(f, pty);
    MainWindow& window = f.Start();
    ShowAndWait(window);
    window.SendLineEntry().SetMode(SendMode::kText);
    EnterLine(window, R"(AT\q)");
    QVERIFY2(window.SendLineEntry().ErrorText().contains(R"(\q (позиция 3))"),
             qPrintable(window.SendLineEntry().ErrorText()));
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QVERIFY(!window.RtsRaised());
    QVERIFY(window.SendLineEntry().History().isEmpty());
    // Editing the line takes the old reason away; the mended line goes out.
    QTest::keyClick(Entry(window), Qt::Key_Backspace);
    QVERIFY(window.SendLineEntry().ErrorText().isEmpty());
    QTest::keyClicks(Entry(window), "r");
    QTest::keyClick(Entry(window), Qt::Key_Return);
    QCOMPARE(QByteArray::fromStdString(pty.Read(3)), QByteArray("AT\r"));
    QCOMPARE(Drain(pty), QByteArray());
  }

  void choicesAndHistoryLastAcrossARestart() {
    WindowFixture f;
    test::PtyPair pty;
    WriteSettingsForPty(f, pty);
    {
      MainWindow& window = f.Start();
      QCOMPARE(window.SendLineEntry().Mode(), SendMode::kText);  // the keys' absence
      QCOMPARE(window.SendLineEntry().Check(), CheckKind::kNone);
      ShowAndWait(window);
      // Chosen as the operator does, in the switches.
      auto* check = window.SendLineEntry().findChild<QComboBox*>("SendLineCheck");
      check->setCurrentIndex(static_cast<int>(CheckKind::kXor));
      emit check->activated(check->currentIndex());
      EnterLine(window, "first");
      EnterLine(window, "second");
      EnterLine(window, "second");  // the same line again is one to recall
      QCOMPARE(QByteArray::fromStdString(pty.Read(20)), QByteArray("firstzsecond\x10second\x10"));
      window.close();
    }
    const QByteArray stored = f.ReadSettings();
    QVERIFY2(stored.contains("SendMode=text\n") && stored.contains("SendCheck=xor\n"), stored.constData());
    f.window.reset();

    MainWindow& window = f.Start();
    QCOMPARE(window.SendLineEntry().Check(), CheckKind::kXor);
    ShowAndWait(window);
    Entry(window)->setFocus();
    QTest::keyClicks(Entry(window), "draft");
    QTest::keyClick(Entry(window), Qt::Key_Up);
    QCOMPARE(Entry(window)->text(), QString("second"));
    QTest::keyClick(Entry(window), Qt::Key_Up);
    QCOMPARE(Entry(window)->text(), QString("first"));
    QTest::keyClick(Entry(window), Qt::Key_Up);  // the oldest stays
    QCOMPARE(Entry(window)->text(), QString("first"));
    QTest::keyClick(Entry(window), Qt::Key_Down);
    QTest::keyClick(Entry(window), Qt::Key_Down);
    QCOMPARE(Entry(window)->text(), QString("draft"));  // back to the line being written
  }

  // A hand-edited file: what does not read is named and changes nothing it should not.
  void unreadableSettingsAreNamed() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nPort=COM1\n[Velmora]\nSendMode=binary\nSendCheck=crc32\n"
                    "[Frames]\nF2=a;hex;none;0;01 0G\nF3=b;hex;xor;0;01\n");
    const auto loopback = platform::sim::LoopbackPlug::Create();
    MainWindow& window = f.Start(loopback->Endpoint());
    QCOMPARE(window.SendLineEntry().Mode(), SendMode::kText);
    QCOMPARE(window.SendLineEntry().Check(), CheckKind::kNone);
    QVERIFY(window.StoredFramesOnKeys()[1].Empty());
    QCOMPARE(window.StoredFramesOnKeys()[2].line, QString("01"));
    const QString boxes = f.boxes.join("\n");
    for (const char* says : {"Ключ SendMode: значение «binary» не text и не hex; оставлено text",
                             "Ключ SendCheck: значение «crc32»", "Ключ F2 раздела [Frames]: «a;hex;none;0;01 0G»"})
      QVERIFY2(boxes.contains(QString::fromUtf8(says)), qPrintable(boxes));
  }

  void historyKeepsTheLastHundred() {
    console::SendLine line;
    QStringList many;
    for (int i = 0; i < 105; ++i) many << QString::number(i);
    line.SetHistory(many);
    QCOMPARE(line.History().size(), 100);
    QCOMPARE(line.History().front(), QString("5"));
    line.Entry()->setText("new");
    line.SubmitLine();
    QCOMPARE(line.History().size(), 100);
    QCOMPARE(line.History().front(), QString("6"));
    QCOMPARE(line.History().back(), QString("new"));
  }

  void functionKeysSendTheirFramesFromAnyPane() {
    WindowFixture f;
    test::PtyPair pty;
    WriteSettingsForPty(f, pty,
                        "[Frames]\nF1=Модем;text;none;0;AT;E0\\r\nF12=Опрос;hex;crc16;0;01 03 00 00 00 01\n");
    MainWindow& window = f.Start();
    ShowAndWait(window);
    QVERIFY(f.boxes.isEmpty());
    QTest::keyClick(f.ReceiveView(), Qt::Key_F1);
    QCOMPARE(QByteArray::fromStdString(pty.Read(6)), QByteArray("AT;E0\r"));
    QTRY_VERIFY(!window.RtsRaised());
    QTest::keyClick(f.TransmitPane(), Qt::Key_F12);
    QCOMPARE(QByteArray::fromStdString(pty.Read(8)), QByteArray::fromHex("010300000001840A"));
    QTRY_VERIFY(!window.RtsRaised());
    EnterLine(window, "x");
    QCOMPARE(QByteArray::fromStdString(pty.Read(1)), QByteArray("x"));
    QTest::keyClick(Entry(window), Qt::Key_F1);
    QCOMPARE(QByteArray::fromStdString(pty.Read(6)), QByteArray("AT;E0\r"));
    // A widget of the window that takes a function key for itself (a search bar's F3) keeps it.
    auto* search = new QLineEdit(&window);
    int searched = 0;
    auto* next = new QShortcut(QKeySequence(Qt::Key_F1), search, nullptr, nullptr, Qt::WidgetShortcut);
    connect(next, &QShortcut::activated, [&] { ++searched; });
    search->show();
    search->setFocus();
    QTest::keyClick(search, Qt::Key_F1);
    QCOMPARE(searched, 1);
    delete search;
    QTest::keyClick(f.TransmitPane(), Qt::Key_F5);  // a free key sends nothing
    QTest::qWait(50);
    QCOMPARE(Drain(pty), QByteArray());
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
  }

  void aPollRepeatsUntilEscOrItsKey() {
    WindowFixture f;
    test::PtyPair pty;
    constexpr int kPeriod = 100;
    WriteSettingsForPty(f, pty, "[Frames]\nF2=Опрос;hex;none;100;55 AA\n");
    MainWindow& window = f.Start();
    ShowAndWait(window);
    window.FocusTransmitPane();
    QTest::keyClick(f.TransmitPane(), Qt::Key_F2);
    QVERIFY(window.Polls().Running(1));
    QTRY_COMPARE(window.PanelText(StatusPanel::State), QString("ОПРОС F2"));

    // Arrival times of whole frames at the far end, from a frame boundary on.
    QTRY_VERIFY(!window.RtsRaised());
    QTest::qWait(20);
    Drain(pty);
    QList<qint64> arrivals;
    QByteArray pending;
    QElapsedTimer clock;
    clock.start();
    while (arrivals.size() < 5 && clock.elapsed() < 5000) {
      QTest::qWait(5);
      pending += Drain(pty);
      while (pending.startsWith("\x55\xAA")) {
        arrivals << clock.elapsed();
        pending.remove(0, 2);
      }
    }
    QCOMPARE(arrivals.size(), 5);
    QCOMPARE(pending, QByteArray());  // whole frames, nothing else
    // The period is a spacing, not a rate to catch up: no two polls come close together.
    for (int i = 1; i < arrivals.size(); ++i)
      QVERIFY2(arrivals[i] - arrivals[i - 1] >= kPeriod / 2,
               qPrintable(QString("%1 ms apart").arg(arrivals[i] - arrivals[i - 1])));

    QTest::keyClick(f.TransmitPane(), Qt::Key_Escape);
    QVERIFY(!window.Polls().AnyRunning());
    QTRY_VERIFY(!window.RtsRaised());
    QTest::qWait(20);
    Drain(pty);
    QTest::qWait(3 * kPeriod);
    QCOMPARE(Drain(pty), QByteArray());
    QTRY_COMPARE(window.PanelText(StatusPanel::State), QString("ОЖИДАНИЕ"));
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());  // Esc stopped it, and was not typed

    // The same key starts and stops it; Esc with nothing repeating is the pane's character again.
    QTest::keyClick(f.ReceiveView(), Qt::Key_F2);
    QVERIFY(window.Polls().Running(1));
    QTest::keyClick(f.ReceiveView(), Qt::Key_F2);
    QVERIFY(!window.Polls().AnyRunning());
    QTRY_VERIFY(!window.RtsRaised());
    QTest::qWait(20);
    Drain(pty);
    QTest::keyClick(f.TransmitPane(), Qt::Key_Escape);
    QCOMPARE(QByteArray::fromStdString(pty.Read(1)), QByteArray("\x1B"));
  }

  // On the radio: one keying per frame, and a repeat never keys into a transmission.
  void aFrameKeysOnceAndARepeatWaitsForTheLine() {
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nPort=COM1\n[Velmora]\nTxDelay=30\nCRLF=2\n[Frames]\nF1=p;text;none;20;P\n");
    MainWindow& window = f.StartOnRadio();
    QVERIFY(f.boxes.isEmpty());
    const QString before = RtsHistory(*f.radio);
    window.SendLineEntry().Entry()->setText("hello");
    window.SendLineEntry().SubmitLine();
    QVERIFY(window.RtsRaised());
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), QByteArray("hello"));
    QCOMPARE(RtsHistory(*f.radio).mid(before.size()), QString("+-"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));

    // The operator keys a transmission of his own (delay mode holds RTS until Enter); a repeat
    // started meanwhile waits for it.
    f.Type("a");
    QTRY_COMPARE(Heard(*f.radio), QByteArray("helloa"));
    QVERIFY(window.RtsRaised());
    window.OnFrameKey(0);
    QVERIFY(window.Polls().Running(0));
    QTest::qWait(150);
    QCOMPARE(Heard(*f.radio), QByteArray("helloa"));  // nothing polled into it
    QCOMPARE(RtsHistory(*f.radio).mid(before.size()), QString("+-+"));
    // Once the operator ends it, the polls go, each in a keying of its own.
    f.Type("\r");
    QTRY_VERIFY(Heard(*f.radio).count('P') >= 3);
    window.StopPolls();
    QTRY_VERIFY(!window.RtsRaised());
    const QByteArray heard = Heard(*f.radio);
    QVERIFY2(heard.startsWith("helloa\rP"), heard.constData());
    const QString keyings = RtsHistory(*f.radio).mid(before.size() + 4);
    QCOMPARE(keyings, QString("+-").repeated(heard.count('P')));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
  }
};

QTEST_MAIN(SendLineTest)
#include "test_send_line.moc"
