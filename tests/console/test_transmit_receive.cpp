// The transmit path with RTS keying and the receive path with its display modes, against the
// simulated half-duplex radio link.
#include "console/main_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QtTest>

#include "platform/sim/sim_devices.h"
#include "tests/support/pty_pair.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StatusPanel;
using console::testing::Heard;
using console::testing::RtsHistory;
using console::testing::WindowFixture;
using platform::sim::LineChange;

namespace {

// A display mode button by its caption: "ascii", "hex" or "bin".
QToolButton* ModeButton(const WindowFixture& f, const QString& mode) {
  return mode == "hex" ? f.HexButton() : mode == "bin" ? f.BinButton() : f.AsciiButton();
}

}  // namespace

class TestTransmitReceive : public QObject {
  Q_OBJECT

 private slots:
  // --- transmit ---------------------------------------------------------------------------

  void rtsCtsModeKeysEachBurst() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    const QString before = RtsHistory(*f.radio);
    f.Type("a");
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString("RTS"));
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ПЕРЕДАЧА"));
    QTRY_COMPARE(window.PanelText(StatusPanel::Rts), QString());  // dropped at transmit-empty
    f.Type("b");
    QTRY_COMPARE(window.PanelText(StatusPanel::Rts), QString());
    QCOMPARE(Heard(*f.radio), QByteArray("ab"));
    QCOMPARE(RtsHistory(*f.radio).mid(before.size()), QString("+-+-"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
    QCOMPARE(window.CounterFigures().TxCount, 2);
    QCOMPARE(window.PanelText(StatusPanel::Tx), QString("Tx: 2"));
  }

  void delayModeHoldsTheFirstCharacterAndKeepsRtsUntilEnter() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().keyingDelayMs = 50;
    window.Options().lineEnding = 1;
    QElapsedTimer clock;
    clock.start();
    f.Type("a");
    QVERIFY(window.RtsRaised());
    QVERIFY(f.KeyingDelay()->isActive());
    QCOMPARE(window.CounterFigures().TxCount, 0);  // held
    QTRY_COMPARE(window.CounterFigures().TxCount, 1);
    QVERIFY(clock.elapsed() >= 50);
    QTRY_COMPARE(Heard(*f.radio), QByteArray("a"));
    f.Type("b");
    QCOMPARE(window.CounterFigures().TxCount, 2);  // RTS is up: at once
    QTRY_COMPARE(Heard(*f.radio), QByteArray("ab"));
    QTest::qWait(30);  // transmit-empty events meanwhile leave RTS up
    QVERIFY(window.RtsRaised());
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString("RTS"));
    // The idle tick leaves the word alone while RTS is up.
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ПЕРЕДАЧА"));

    f.Type("\r");
    QVERIFY(window.EndOfTransmissionMarked());
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString());
    QCOMPARE(Heard(*f.radio), QByteArray("ab\r\n"));
    QCOMPARE(window.CounterFigures().TxCount, 4);
    QVERIFY(!window.EndOfTransmissionMarked());
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
    MainWindow& window = f.StartOnRadio();
    window.Options().keyingDelayMs = txDelay;
    f.Type("a");
    QVERIFY(window.RtsRaised());
    QCOMPARE(f.KeyingDelay()->isActive(), held);
    QCOMPARE(window.CounterFigures().TxCount, held ? 0 : 1);
    if (held) QCOMPARE(f.KeyingDelay()->interval(), txDelay);
    QTRY_COMPARE(Heard(*f.radio), QByteArray("a"));
  }

  // Characters and Enter typed while the first character waits for the delay follow it in the
  // order typed, after the delay, and RTS drops once the line ending has gone out, also when
  // the operator typed on after the Enter.
  void typingDuringTheDelayKeepsOrder_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("heard");
    QTest::newRow("Enter last") << "ab\r" << QByteArray("ab\r\n");
    QTest::newRow("typing on after Enter") << "a\rb" << QByteArray("a\r\nb");
  }
  void typingDuringTheDelayKeepsOrder() {
    QFETCH(QString, typed);
    QFETCH(QByteArray, heard);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().keyingDelayMs = 60;
    window.Options().lineEnding = 1;
    f.Type(typed);
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QVERIFY(!window.EndOfTransmissionMarked());
    QTRY_COMPARE(window.CounterFigures().TxCount, 4);
    QTRY_VERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), heard);
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

  // The delay lets the radio key up: the held character never leaves before it has passed.
  // Qt's coarse timers round their deadline to a boundary up to 5 % either way, early in about
  // half of the tries; several tries each, run in a real event loop (QTRY's waits sleep between
  // their rounds and would hide an early timer behind a late poll).
  void keyingDelayIsAFloor_data() {
    QTest::addColumn<int>("delayMs");
    QTest::newRow("50 ms") << 50;
    QTest::newRow("100 ms") << 100;
  }
  void keyingDelayIsAFloor() {
    QFETCH(int, delayMs);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().keyingDelayMs = delayMs;
    window.Options().lineEnding = 1;
    // The far end logs a character when its last bit has left: 10 bits at 9600 baud.
    const auto characterTime = std::chrono::microseconds(10 * 1'000'000 / 9600);
    for (int attempt = 0; attempt < 10; ++attempt) {
      // Each try puts "a" and then CR LF on the air.
      const size_t heardBefore = 3 * size_t(attempt);
      f.Type("a");
      QEventLoop loop;
      QTimer::singleShot(delayMs + 30, Qt::PreciseTimer, &loop, &QEventLoop::quit);
      loop.exec();
      QTRY_COMPARE(f.radio->HeardLog().size(), heardBefore + 1);
      const auto log = f.radio->LineLog();
      const auto keyed = std::find_if(log.rbegin(), log.rend(), [](const LineChange& c) {
        return c.line == LineChange::Rts && c.on;
      });
      QVERIFY(keyed != log.rend());
      const auto waited = f.radio->HeardLog()[heardBefore].at - characterTime - keyed->at;
      QVERIFY2(waited >= std::chrono::milliseconds(delayMs),
               qPrintable(QString("attempt %1: %2 us after keying")
                              .arg(attempt)
                              .arg(std::chrono::duration_cast<std::chrono::microseconds>(waited)
                                       .count())));
      f.Type("\r");  // ends the transmission: RTS drops, the next try keys anew
      QTRY_VERIFY(!window.RtsRaised());
    }
  }

  // A key with Alt, Meta or Ctrl is a command unless it makes a character of its own.
  void modifiedKeysSendOnlyCharactersOfTheirOwn_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");  // what Qt reports as the key's text
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("Alt+X") << int(Qt::Key_X) << int(Qt::AltModifier) << "x" << QByteArray();
    QTest::newRow("Alt+F") << int(Qt::Key_F) << int(Qt::AltModifier) << "f" << QByteArray();
    QTest::newRow("Alt+Shift+Cyrillic") << int(Qt::Key_A)
                                        << int(Qt::AltModifier | Qt::ShiftModifier) << "Ф"
                                        << QByteArray();
    QTest::newRow("Ctrl+Alt+X") << int(Qt::Key_X) << int(Qt::ControlModifier | Qt::AltModifier)
                                << "\x18" << QByteArray();
    QTest::newRow("Meta+A") << int(Qt::Key_A) << int(Qt::MetaModifier) << "a" << QByteArray();
    QTest::newRow("Ctrl+1") << int(Qt::Key_1) << int(Qt::ControlModifier) << "1" << QByteArray();
    QTest::newRow("Ctrl+B is STX") << int(Qt::Key_B) << int(Qt::ControlModifier) << "\x02"
                                   << QByteArray("\x02");
    QTest::newRow("Shift+A") << int(Qt::Key_A) << int(Qt::ShiftModifier) << "A"
                             << QByteArray("A");
    QTest::newRow("AltGr character") << int(Qt::Key_At) << int(Qt::GroupSwitchModifier) << "@"
                                     << QByteArray("@");
  }
  void modifiedKeysSendOnlyCharactersOfTheirOwn() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(QByteArray, sent);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    f.Key(Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));
    f.Type("z");  // a plain key after it shows that the line has taken everything
    QTRY_COMPARE(Heard(*f.radio), sent + "z");
    QCOMPARE(window.CounterFigures().TxCount, int(sent.size()) + 1);
  }

  void enterWithNothingHeldKeysTheTransmitter() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    window.Options().lineEnding = 1;
    f.Type("a");
    QTRY_VERIFY(!window.RtsRaised());
    f.Type("\r");  // RTS is down: the ending keys it like a character
    QTRY_VERIFY(!window.RtsRaised());
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
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    window.Options().lineEnding = crLfMode;
    f.Type("x");
    QTRY_VERIFY(!window.RtsRaised());
    f.Type("\r");
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ПЕРЕДАЧА"));
    QCOMPARE(window.CounterFigures().TxCount, 1 + int(sent.size()));
    QCOMPARE(window.PanelText(StatusPanel::Tx), QString("Tx: %1").arg(1 + sent.size()));
    QTRY_COMPARE(Heard(*f.radio), "x" + sent);
    QTRY_VERIFY(!window.RtsRaised());
    // An Enter that wrote nothing leaves its mark for the next transmit-empty.
    QCOMPARE(window.EndOfTransmissionMarked(), sent.isEmpty());
  }

  void enterSendingNothingStillEndsTheTransmission() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().lineEnding = 0;
    f.Type("x");  // delay 0: at once, RTS stays up
    QTRY_COMPARE(Heard(*f.radio), QByteArray("x"));
    QTest::qWait(20);
    QVERIFY(window.RtsRaised());
    f.Type("\r");
    QVERIFY(window.EndOfTransmissionMarked());
    QVERIFY(window.RtsRaised());  // nothing written, so no transmit-empty follows yet
    f.Type("y");
    QTRY_VERIFY(!window.RtsRaised());  // the next character's transmit-empty drops it
    QCOMPARE(Heard(*f.radio), QByteArray("xy"));
    QCOMPARE(window.CounterFigures().TxCount, 2);
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
    MainWindow& window = f.StartOnRadio();
    for (QChar c : typed)
      f.Key(c == u'\b' ? Qt::Key_Backspace : Qt::Key_unknown, QString(c));
    QTRY_COMPARE(Heard(*f.radio), sent);
    QCOMPARE(window.CounterFigures().TxCount, int(sent.size()));
  }

  void characterComposedByAnInputMethodIsTyped() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    QInputMethodEvent composing("ж", {});
    QApplication::sendEvent(f.TransmitPane(), &composing);  // still being composed: not sent
    QInputMethodEvent committed;
    committed.setCommitString("ж");
    QApplication::sendEvent(f.TransmitPane(), &committed);
    QTRY_COMPARE(Heard(*f.radio), QByteArray("\xE6"));
    QCOMPARE(window.CounterFigures().TxCount, 1);
  }

  void pastingSendsNothing() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    QGuiApplication::clipboard()->setText("pasted");
    f.Key(Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
    f.TransmitPane()->paste();
    QTest::qWait(20);
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QVERIFY(!window.RtsRaised());
    QCOMPARE(Heard(*f.radio), QByteArray());
  }

  // Whatever the clipboard holds, pasting puts at most its text into the pane and sends
  // nothing; an empty clipboard once ended the program.
  void pasteWithEmptyClipboardIsHarmless_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Ctrl+V") << "ctrl-v";
    QTest::newRow("Shift+Insert") << "shift-insert";
    QTest::newRow("middle click") << "middle-click";
  }
  void pasteWithEmptyClipboardIsHarmless() {
    QFETCH(QString, how);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    f.TransmitPane()->setPlainText("kept");
    for (QClipboard::Mode mode : {QClipboard::Clipboard, QClipboard::Selection})
      QGuiApplication::clipboard()->setMimeData(new QMimeData, mode);
    if (how == "ctrl-v")
      f.Key(Qt::Key_V, QString(QChar(0x16)), Qt::ControlModifier);
    else if (how == "shift-insert")
      f.Key(Qt::Key_Insert, QString(), Qt::ShiftModifier);
    else
      QTest::mouseClick(f.TransmitPane()->viewport(), Qt::MiddleButton);
    QTest::qWait(20);
    QCOMPARE(f.TransmitPane()->toPlainText(), QString("kept"));
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QCOMPARE(Heard(*f.radio), QByteArray());
  }

  void linkErrorDropsTheHeldCharacter() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().keyingDelayMs = 40;
    f.Type("a");
    QVERIFY(f.KeyingDelay()->isActive());
    window.ShowLinkError("test");
    QVERIFY(!f.KeyingDelay()->isActive());
    QTest::qWait(80);
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QCOMPARE(Heard(*f.radio), QByteArray());
  }

  // --- receive ----------------------------------------------------------------------------

  void displayFormsJoinHoweverTheBytesWereSplit_data() {
    QTest::addColumn<QStringList>("modes");  // mode button pressed before each piece ("ascii", "hex", "bin"), or ""
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("shown");
    QTest::newRow("hex, one piece") << QStringList{"hex"} << QList<QByteArray>{"ABC"}
                                    << "41.42.43.";
    QTest::newRow("hex, three pieces") << QStringList{"hex", "", ""}
                                       << QList<QByteArray>{"A", "B", "C"} << "41.42.43.";
    QTest::newRow("binary with NUL") << QStringList{"bin"}
                                     << QList<QByteArray>{QByteArray("\0A", 2)}
                                     << "00000000.01000001.";
    QTest::newRow("hex NUL") << QStringList{"hex"} << QList<QByteArray>{QByteArray(1, '\0')}
                             << "00.";
    QTest::newRow("all buttons up is text") << QStringList{"ascii"}
                                            << QList<QByteArray>{"ab"} << "ab";
    QTest::newRow("hex in the middle of a line") << QStringList{"", "hex"}
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
    MainWindow& window = f.StartOnRadio();
    int received = 0;
    for (int i = 0; i < pieces.size(); ++i) {
      if (!modes[i].isEmpty())
        QTest::mouseClick(ModeButton(f, modes[i]), Qt::LeftButton);
      f.radio->InjectReceived(pieces[i].toStdString());
      received += int(pieces[i].size());
      // Each piece is its own event (or events): wait for it before the next.
      QTRY_COMPARE(window.CounterFigures().RxCount, received);
    }
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ПРИЕМ"));
    QCOMPARE(window.PanelText(StatusPanel::Rx), QString("Rx: %1").arg(received));
    QTRY_COMPARE(f.ReceivedText(), shown);
  }

  void modeButtonsAreExclusiveOrNone() {
    WindowFixture f;
    f.StartOnRadio();
    // Which of ASCII, Hex, Bin are down, as three letters.
    const auto down = [&f] {
      QString state;
      for (QToolButton* button : f.ModeButtons()) state += button->isChecked() ? u'1' : u'0';
      return state;
    };
    QCOMPARE(down(), QString("100"));
    QTest::mouseClick(f.BinButton(), Qt::LeftButton);
    QCOMPARE(down(), QString("001"));
    QTest::mouseClick(f.HexButton(), Qt::LeftButton);
    QCOMPARE(down(), QString("010"));
    QTest::mouseClick(f.HexButton(), Qt::LeftButton);
    QCOMPARE(down(), QString("000"));
  }

  void lineErrorsBecomeMarkersInTheTransmitPane() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    f.TransmitPane()->setPlainText("typed");
    f.radio->InjectFrameError('x');
    f.radio->InjectBreak();
    QTRY_VERIFY(f.TransmitPane()->toPlainText().contains("<BREAK>"));
    QVERIFY2(f.TransmitPane()->toPlainText().startsWith("typed\n<Framing Error>\n<BREAK>"),
             qPrintable(f.TransmitPane()->toPlainText()));
    QVERIFY(window.CounterFigures().ComErrorCount >= 1);
    QVERIFY(!f.ReceivedText().contains('<'));  // nothing in the receive pane
  }

  void oneErrorEventCountsOnceWithItsMarkersInOrder() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    port::TComErrors all;
    for (int e = port::erTxFull; e >= port::erFrame; --e) all.Include(port::TLineError(e));
    window.OnLineErrors(all);
    QCOMPARE(window.CounterFigures().ComErrorCount, 1);
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ТАЙМАУТ"));
    QCOMPARE(f.TransmitPane()->toPlainText(),
             QString("<Framing Error>\n<Rx Parity Error>\n<Buffer Overrun>\n<BREAK>\n"
                     "<I/O Error>\n<Mode is not Supported>\n<Input Buffer Overflow>\n"
                     "<Output Buffer is Full>\n"));
  }

  // A marker that takes the transmit pane past its 2000 lines opens the emptied pane: no empty
  // first line, and the marker is not lost with the old page.
  void markerAtThePaneLimitOpensTheEmptiedPane_data() {
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("last line has text") << "line 1999";
    QTest::newRow("last line empty") << "line 1999\n";
  }
  void markerAtThePaneLimitOpensTheEmptiedPane() {
    QFETCH(QString, lastLine);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    QStringList lines;
    for (int i = 0; i < 1999; ++i) lines << QString("line %1").arg(i);
    lines << lastLine;
    f.TransmitPane()->setPlainText(lines.join('\n'));
    QVERIFY(!f.TransmitPane()->toPlainText().isEmpty());  // 2000 lines stay
    window.OnLineErrors(port::TComErrors{port::erBreak});
    QCOMPARE(f.TransmitPane()->toPlainText(), QString("<BREAK>\n"));
  }

  // The same paths through a real kernel tty: the console on the slave, the test on the master.
  void pseudoTerminalCarriesBothWays() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() +
                    "\nBaudRate=115200\n[Velmora]\nRTS/CTS=1\nCRLF=1\n");
    MainWindow& window = f.Start();
    QVERIFY(f.boxes.isEmpty());
    QVERIFY(window.Port().Connected());
    QCOMPARE(window.PanelText(StatusPanel::PortSummary),
             QString::fromStdString(pty.SlavePath() + ", 115200, 8, 1, None, None"));

    f.Type("Да\r");
    QCOMPARE(QByteArray::fromStdString(pty.Read(4)), QByteArray("\xC4\xE0\r\n"));
    QTRY_VERIFY(!window.RtsRaised());

    QTest::mouseClick(f.HexButton(), Qt::LeftButton);
    pty.Write("AB");
    QTRY_COMPARE(window.CounterFigures().RxCount, 2);
    pty.Write("C");
    QTRY_COMPARE(f.ReceivedText(), QString("41.42.43."));
  }

  // Output held by flow control (DSR off) past the write timeout: the character never left,
  // so it is not counted as sent.
  void aWriteThatTimesOutCountsNothing() {
    WindowFixture f;
    auto loopback = platform::sim::LoopbackPlug::Create();
    MainWindow& window = f.Start(loopback->Endpoint());
    window.Options().rtsCtsMode = 1;
    window.Port().Timeouts().SetWriteTotalMultiplier(0);
    window.Port().Timeouts().SetWriteTotalConstant(50);
    window.Port().FlowControl().SetOutDSRFlow(true);  // DTR is down at start: DSR too
    f.Type("a");
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QCOMPARE(window.PanelText(StatusPanel::Tx), QString("Tx: 0"));
  }

  void receivePaneEmptiesPastTwoThousandLines() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    // Through the line in pieces the simulated driver's buffer takes whole.
    std::string lines;
    for (int i = 0; i < 2000; ++i) lines += "x\r\n";
    for (size_t at = 0; at < lines.size(); at += 3000) {
      f.radio->InjectReceived(lines.substr(at, 3000));
      QTRY_COMPARE(window.CounterFigures().RxCount, int(std::min(lines.size(), at + 3000)));
    }
    QCOMPARE(window.ReceiveContent().LineCount(), 2000);
    QCOMPARE(f.ReceivedText().count('\n'), 2000);  // the pane keeps 2000 lines
    f.radio->InjectReceived("y");
    QTRY_COMPARE(window.CounterFigures().RxCount, 6001);
    QCOMPARE(f.ReceivedText(), QString());
    QCOMPARE(window.ReceiveContent().LineCount(), 0);
    f.radio->InjectReceived("z");
    QTRY_COMPARE(f.ReceivedText(), QString("z"));
  }
};

QTEST_MAIN(TestTransmitReceive)
#include "test_transmit_receive.moc"
