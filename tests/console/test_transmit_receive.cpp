// The transmit path with RTS keying and the receive path with its display modes, against the
// simulated half-duplex radio link.
#include "console/main_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QtTest>

#include "platform/sim/sim_devices.h"
#include "tests/support/pty_pair.h"
#include "window_fixture.h"

using namespace velmora;
using console::TForm1;
using console::testing::WindowFixture;
using platform::sim::LineChange;

namespace {

// The RTS changes the modem saw, as "+" and "-".
QString RtsHistory(const platform::sim::RadioLink& radio) {
  QString history;
  for (const LineChange& change : radio.LineLog())
    if (change.line == LineChange::Rts) history += change.on ? u'+' : u'-';
  return history;
}

QByteArray Heard(const platform::sim::RadioLink& radio) {
  return QByteArray::fromStdString(radio.Heard());
}

// What arrived, without the pane's own wrapping.
QString Received(TForm1& form) { return form.ReceiveView().Text(); }

}  // namespace

class TestTransmitReceive : public QObject {
  Q_OBJECT

 private slots:
  // --- transmit ---------------------------------------------------------------------------

  void rtsCtsModeKeysEachBurst() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.RtsCtsMode = 1;
    const QString before = RtsHistory(*f.radio);
    f.Type("a");
    QCOMPARE(form.PanelText(4), QString("RTS"));
    QCOMPARE(form.PanelText(1), QString("ПЕРЕДАЧА"));
    QTRY_COMPARE(form.PanelText(4), QString());  // dropped at transmit-empty
    f.Type("b");
    QTRY_COMPARE(form.PanelText(4), QString());
    QCOMPARE(Heard(*f.radio), QByteArray("ab"));
    QCOMPARE(RtsHistory(*f.radio).mid(before.size()), QString("+-+-"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
    QCOMPARE(form.TxCount, 2);
    QCOMPARE(form.PanelText(3), QString("Tx: 2"));
  }

  void delayModeHoldsTheFirstCharacterAndKeepsRtsUntilEnter() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.TxDelay = 50;
    form.CrLfMode = 1;
    QElapsedTimer clock;
    clock.start();
    f.Type("a");
    QVERIFY(form.RtsOn);
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.TxCount, 0);  // held
    QTRY_COMPARE(form.TxCount, 1);
    QVERIFY(clock.elapsed() >= 50);
    QTRY_COMPARE(Heard(*f.radio), QByteArray("a"));
    f.Type("b");
    QCOMPARE(form.TxCount, 2);  // RTS is up: at once
    QTRY_COMPARE(Heard(*f.radio), QByteArray("ab"));
    QTest::qWait(30);  // transmit-empty events meanwhile leave RTS up
    QVERIFY(form.RtsOn);
    QCOMPARE(form.PanelText(4), QString("RTS"));
    QCOMPARE(form.PanelText(1), QString("ПЕРЕДАЧА"));  // Timer2 leaves it while RTS is up

    f.Type("\r");
    QVERIFY(form.EndOfTransmission);
    QTRY_VERIFY(!form.RtsOn);
    QCOMPARE(form.PanelText(4), QString());
    QCOMPARE(Heard(*f.radio), QByteArray("ab\r\n"));
    QCOMPARE(form.TxCount, 4);
    QVERIFY(!form.EndOfTransmission);
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
  }

  void delayOfTenCountsAsNone_data() {
    QTest::addColumn<int>("txDelay");
    QTest::addColumn<bool>("held");
    QTest::newRow("10 ms: at once") << 10 << false;
    QTest::newRow("11 ms: held") << 11 << true;
  }
  void delayOfTenCountsAsNone() {
    QFETCH(int, txDelay);
    QFETCH(bool, held);
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.TxDelay = txDelay;
    f.Type("a");
    QVERIFY(form.RtsOn);
    QCOMPARE(form.Timer1->isActive(), held);
    QCOMPARE(form.TxCount, held ? 0 : 1);
    if (held) QCOMPARE(form.Timer1->interval(), txDelay);
    QTRY_COMPARE(Heard(*f.radio), QByteArray("a"));
  }

  // Characters and Enter typed while the first character waits for the delay follow it in the
  // order typed, after the delay, and RTS drops once the line ending has gone out.
  void typingDuringTheDelayKeepsOrder() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.TxDelay = 60;
    form.CrLfMode = 1;
    f.Type("ab\r");
    QCOMPARE(form.TxCount, 0);
    QVERIFY(!form.EndOfTransmission);
    QTRY_COMPARE(form.TxCount, 4);
    QTRY_VERIFY(!form.RtsOn);
    QCOMPARE(Heard(*f.radio), QByteArray("ab\r\n"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
    // The line went out only after the delay since keying.
    const auto log = f.radio->LineLog();
    const auto keyed = std::find_if(log.rbegin(), log.rend(), [](const LineChange& c) {
      return c.line == LineChange::Rts && c.on;
    });
    QVERIFY(keyed != log.rend());
    const auto firstHeard = f.radio->HeardLog().front().at;
    QVERIFY(firstHeard - keyed->at >= std::chrono::milliseconds(60));
  }

  void enterWithNothingHeldKeysTheTransmitter() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.RtsCtsMode = 1;
    form.CrLfMode = 1;
    f.Type("a");
    QTRY_VERIFY(!form.RtsOn);
    f.Type("\r");  // RTS is down: the ending keys it like a character
    QTRY_VERIFY(!form.RtsOn);
    QCOMPARE(Heard(*f.radio), QByteArray("a\r\n"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
  }

  void lineEndings_data() {
    QTest::addColumn<int>("crLfMode");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("0 nothing") << 0 << QByteArray();
    QTest::newRow("1 CR LF") << 1 << QByteArray("\r\n");
    QTest::newRow("2 CR") << 2 << QByteArray("\r");
    QTest::newRow("3 LF") << 3 << QByteArray("\n");
    QTest::newRow("7 nothing") << 7 << QByteArray();
  }
  void lineEndings() {
    QFETCH(int, crLfMode);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.RtsCtsMode = 1;
    form.CrLfMode = crLfMode;
    f.Type("x");
    QTRY_VERIFY(!form.RtsOn);
    f.Type("\r");
    QCOMPARE(form.PanelText(1), QString("ПЕРЕДАЧА"));
    QCOMPARE(form.TxCount, 1 + int(sent.size()));
    QCOMPARE(form.PanelText(3), QString("Tx: %1").arg(1 + sent.size()));
    QTRY_COMPARE(Heard(*f.radio), "x" + sent);
    QTRY_VERIFY(!form.RtsOn);
    // An Enter that wrote nothing leaves its mark for the next transmit-empty.
    QCOMPARE(form.EndOfTransmission, sent.isEmpty());
  }

  void enterSendingNothingStillEndsTheTransmission() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.CrLfMode = 0;
    f.Type("x");  // delay 0: at once, RTS stays up
    QTRY_COMPARE(Heard(*f.radio), QByteArray("x"));
    QTest::qWait(20);
    QVERIFY(form.RtsOn);
    f.Type("\r");
    QVERIFY(form.EndOfTransmission);
    QVERIFY(form.RtsOn);  // nothing written, so no transmit-empty follows yet
    f.Type("y");
    QTRY_VERIFY(!form.RtsOn);  // the next character's transmit-empty drops it
    QCOMPARE(Heard(*f.radio), QByteArray("xy"));
    QCOMPARE(form.TxCount, 2);
  }

  void typedCharactersGoOutAsSingleBytes_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("Cyrillic") << QString("Прия") << QByteArray("\xCF\xF0\xE8\xFF");
    QTest::newRow("Backspace is byte 8") << QString("a\b") << QByteArray("a\x08");
    QTest::newRow("no CP1251 byte: not sent") << QString("aéb") << QByteArray("ab");
    QTest::newRow("Escape") << QString("\x1B") << QByteArray("\x1B");
  }
  void typedCharactersGoOutAsSingleBytes() {
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    for (QChar c : typed)
      f.Key(c == u'\b' ? Qt::Key_Backspace : Qt::Key_unknown, QString(c));
    QTRY_COMPARE(Heard(*f.radio), sent);
    QCOMPARE(form.TxCount, int(sent.size()));
  }

  void characterComposedByAnInputMethodIsTyped() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    QInputMethodEvent composing("ж", {});
    QApplication::sendEvent(form.Memo1, &composing);  // still being composed: not sent
    QInputMethodEvent committed;
    committed.setCommitString("ж");
    QApplication::sendEvent(form.Memo1, &committed);
    QTRY_COMPARE(Heard(*f.radio), QByteArray("\xE6"));
    QCOMPARE(form.TxCount, 1);
  }

  void pastingSendsNothing() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    QGuiApplication::clipboard()->setText("pasted");
    f.Key(Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
    form.Memo1->paste();
    QTest::qWait(20);
    QCOMPARE(form.TxCount, 0);
    QVERIFY(!form.RtsOn);
    QCOMPARE(Heard(*f.radio), QByteArray());
  }

  void linkErrorDropsTheHeldCharacter() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.TxDelay = 40;
    f.Type("a");
    QVERIFY(form.Timer1->isActive());
    form.ShowLinkError("test");
    QVERIFY(!form.Timer1->isActive());
    QTest::qWait(80);
    QCOMPARE(form.TxCount, 0);
    QCOMPARE(Heard(*f.radio), QByteArray());
  }

  // --- receive ----------------------------------------------------------------------------

  void displayFormsJoinHoweverTheBytesWereSplit_data() {
    QTest::addColumn<QStringList>("modes");  // mode button pressed before each piece, or ""
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("shown");
    QTest::newRow("hex, one piece") << QStringList{"SButton2"} << QList<QByteArray>{"ABC"}
                                    << "41.42.43.";
    QTest::newRow("hex, three pieces") << QStringList{"SButton2", "", ""}
                                       << QList<QByteArray>{"A", "B", "C"} << "41.42.43.";
    QTest::newRow("binary with NUL") << QStringList{"SButton3"}
                                     << QList<QByteArray>{QByteArray("\0A", 2)}
                                     << "00000000.01000001.";
    QTest::newRow("hex NUL") << QStringList{"SButton2"} << QList<QByteArray>{QByteArray(1, '\0')}
                             << "00.";
    QTest::newRow("all buttons up is text") << QStringList{"SButton1"}
                                            << QList<QByteArray>{"ab"} << "ab";
    QTest::newRow("hex in the middle of a line") << QStringList{"", "SButton2"}
                                                 << QList<QByteArray>{"ab", "C"} << "ab43.";
    QTest::newRow("Cyrillic through CP1251") << QStringList{""}
                                             << QList<QByteArray>{"\xCF\xF0\xE8"} << "При";
    QTest::newRow("CR LF split between events") << QStringList{"", ""}
                                                << QList<QByteArray>{"a\r", "\nb"} << "a\nb";
    QTest::newRow("CR, LF and CR LF breaks") << QStringList{""}
                                             << QList<QByteArray>{"a\rb\nc\r\nd"}
                                             << "a\nb\nc\nd";
  }
  void displayFormsJoinHoweverTheBytesWereSplit() {
    QFETCH(QStringList, modes);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, shown);
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    int received = 0;
    for (int i = 0; i < pieces.size(); ++i) {
      if (!modes[i].isEmpty())
        QTest::mouseClick(form.findChild<QToolButton*>(modes[i]), Qt::LeftButton);
      f.radio->InjectReceived(pieces[i].toStdString());
      received += int(pieces[i].size());
      // Each piece is its own event (or events): wait for it before the next.
      QTRY_COMPARE(form.RxCount, received);
    }
    QCOMPARE(form.PanelText(1), QString("ПРИЕМ"));
    QCOMPARE(form.PanelText(2), QString("Rx: %1").arg(received));
    QTRY_COMPARE(Received(form), shown);
  }

  void modeButtonsAreExclusiveOrNone() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    QTest::mouseClick(form.SButton3, Qt::LeftButton);
    QVERIFY(!form.SButton1->isChecked() && !form.SButton2->isChecked());
    QVERIFY(form.SButton3->isChecked());
    QTest::mouseClick(form.SButton2, Qt::LeftButton);
    QVERIFY(form.SButton2->isChecked() && !form.SButton3->isChecked());
    QTest::mouseClick(form.SButton2, Qt::LeftButton);
    QVERIFY(!form.SButton1->isChecked() && !form.SButton2->isChecked() &&
            !form.SButton3->isChecked());
  }

  void lineErrorsBecomeMarkersInTheTransmitPane() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    form.Memo1->setPlainText("typed");
    f.radio->InjectFrameError('x');
    f.radio->InjectBreak();
    QTRY_VERIFY(form.Memo1->toPlainText().contains("<BREAK>"));
    QVERIFY2(form.Memo1->toPlainText().startsWith("typed\n<Framing Error>\n<BREAK>"),
             qPrintable(form.Memo1->toPlainText()));
    QVERIFY(form.ComErrorCount >= 1);
    QVERIFY(!Received(form).contains('<'));  // nothing in the receive pane
  }

  void oneErrorEventCountsOnceWithItsMarkersInOrder() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    port::TComErrors all;
    for (int e = port::erTxFull; e >= port::erFrame; --e) all.Include(port::TLineError(e));
    form.ComPort1Error(all);
    QCOMPARE(form.ComErrorCount, 1);
    QCOMPARE(form.PanelText(1), QString("ТАЙМАУТ"));
    QCOMPARE(form.Memo1->toPlainText(),
             QString("<Framing Error>\n<Rx Parity Error>\n<Buffer Overrun>\n<BREAK>\n"
                     "<I/O Error>\n<Mode is not Supported>\n<Input Buffer Overflow>\n"
                     "<Output Buffer is Full>\n"));
  }

  // The same paths through a real kernel tty: the console on the slave, the test on the master.
  void pseudoTerminalCarriesBothWays() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() +
                    "\nBaudRate=115200\n[Velmora]\nRTS/CTS=1\nCRLF=1\n");
    TForm1& form = f.Start();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(form.ComPort1.Connected());
    QCOMPARE(form.PanelText(0),
             QString::fromStdString(pty.SlavePath() + ", 115200, 8, 1, None, None"));

    f.Type("Да\r");
    QCOMPARE(QByteArray::fromStdString(pty.Read(4)), QByteArray("\xC4\xE0\r\n"));
    QTRY_VERIFY(!form.RtsOn);

    QTest::mouseClick(form.SButton2, Qt::LeftButton);
    pty.Write("AB");
    QTRY_COMPARE(form.RxCount, 2);
    pty.Write("C");
    QTRY_COMPARE(Received(form), QString("41.42.43."));
  }

  void receivePaneEmptiesPastTwoThousandLines() {
    WindowFixture f;
    TForm1& form = f.StartOnRadio();
    // Through the line in pieces the simulated driver's buffer takes whole.
    std::string lines;
    for (int i = 0; i < 2000; ++i) lines += "x\r\n";
    for (size_t at = 0; at < lines.size(); at += 3000) {
      f.radio->InjectReceived(lines.substr(at, 3000));
      QTRY_COMPARE(form.RxCount, int(std::min(lines.size(), at + 3000)));
    }
    QCOMPARE(form.ReceiveView().LineCount(), 2000);
    QCOMPARE(Received(form).count('\n'), 2000);  // the pane keeps 2000 lines
    f.radio->InjectReceived("y");
    QTRY_COMPARE(form.RxCount, 6001);
    QCOMPARE(Received(form), QString());
    QCOMPARE(form.ReceiveView().LineCount(), 0);
    f.radio->InjectReceived("z");
    QTRY_COMPARE(Received(form), QString("z"));
  }
};

QTEST_MAIN(TestTransmitReceive)
#include "test_transmit_receive.moc"
