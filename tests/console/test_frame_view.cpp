// The frame view through the real window: the "Кадры" mode on a pseudo-terminal whose far end
// the test plays, both directions in one timeline, the times and silences as written, the
// capture of the lines; and the line's own form.
#include "console/frame_view.h"

#include <chrono>
#include <thread>

#include <QRegularExpression>
#include <QtTest>

#include "console/main_window.h"
#include "tests/support/pty_pair.h"
#include "window_fixture.h"

using namespace velmora;
using console::Frame;
using console::FrameCheck;
using console::FrameDirection;
using console::FrameEcho;
using console::FrameView;
using console::MainWindow;
using console::testing::WindowFixture;
using namespace std::chrono_literals;

namespace {

const std::string kPoll("\x01\x03\x00\x00\x00\x01\x84\x0A", 8);
const std::string kAnswer("\x01\x03\x02\x00\x0A\x38\x43", 7);

QToolButton* FramesButton(const WindowFixture& f) { return f.window->findChild<QToolButton*>("SButton4"); }

// The lines the pane shows, its own wrapping undone. Not its Text(): that is what arrived, where a
// frame's text column gives back its line feeds.
QStringList PaneLines(const WindowFixture& f) {
  f.window->ReceiveContent().Flush();
  const console::ReceiveTextView* view = f.ReceiveView();
  QStringList lines;
  QString line;
  for (int i = 0; i < view->LineCount(); ++i) {
    line += view->ShownLine(i);
    if (view->ShownLine(i).size() == view->Columns()) continue;  // wrapped by the view
    if (!line.isEmpty()) lines << line;
    line.clear();
  }
  return lines;
}

// The pieces of a frame line: time, silence (-1: none), direction, count, the bytes' columns.
struct Parsed {
  QTime time;
  int silenceMs = -1;
  QString direction;
  int count = 0;
  QString hex;
};

Parsed Parse(const QString& line) {
  static const QRegularExpression form(
      R"(^(\d\d:\d\d:\d\d\.\d\d\d) (?:\s*\+(\d+) мс|\s{8}) ([→←])\s+(\d+)  ((?:[0-9A-F]{2} ?)+))");
  const QRegularExpressionMatch m = form.match(line);
  if (!m.hasMatch()) return {};
  return {QTime::fromString(m.captured(1), "HH:mm:ss.zzz"), m.captured(2).isEmpty() ? -1 : m.captured(2).toInt(),
          m.captured(3), m.captured(4).toInt(), m.captured(5).trimmed()};
}

QString Hex(const std::string& bytes) {
  return QByteArray::fromStdString(bytes).toHex(' ').toUpper();
}

// Milliseconds of the local time of day of a steady-clock moment, as the view shows it.
int ShownMs(std::chrono::steady_clock::time_point at) { return FrameView::WallTime(at).time().msecsSinceStartOfDay(); }

void StartOnPty(WindowFixture& f, const test::PtyPair& pty, const QByteArray& console = {}) {
  f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\nBaudRate=115200\n[Velmora]\nRTS/CTS=1\n" +
                  console);
  f.Start();
  QVERIFY(f.window->Port().Connected());
  QTest::mouseClick(FramesButton(f), Qt::LeftButton);
  QVERIFY(FramesButton(f)->isChecked());
}

}  // namespace

class TestFrameView : public QObject {
  Q_OBJECT

 private slots:
  void aFramesLineAsTheOperatorReadsIt_data() {
    QTest::addColumn<int>("direction");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("silenceMs");  // -1: the first frame
    QTest::addColumn<int>("echo");
    QTest::addColumn<QString>("line");
    const auto row = [](const char* name, FrameDirection d, const std::string& bytes, int silence, FrameEcho echo,
                        const QString& line) {
      QTest::newRow(name) << int(d) << QByteArray::fromStdString(bytes) << silence << int(echo) << line;
    };
    row("a poll sent", FrameDirection::Sent, kPoll, 1532, FrameEcho::None,
        "12:04:31.190 +1532 мс →   8  01 03 00 00 00 01 84 0A   ␁␃␀␀␀␁„␊  CRC ✓");
    row("its answer", FrameDirection::Received, kAnswer, 16, FrameEcho::None,
        "12:04:31.190   +16 мс ←   7  01 03 02 00 0A 38 43      ␁␃␂␀␊8C   CRC ✓");
    row("the first frame, text, no check", FrameDirection::Received, "\xC4\xE0\r\n", -1, FrameEcho::None,
        "12:04:31.190          ←   4  C4 E0 0D 0A               Да␍␊");
    row("an ASCII frame with its LRC", FrameDirection::Received, ":010300000001FB\r\n", 0, FrameEcho::None,
        "12:04:31.190    +0 мс ←  17  3A 30 31 30 33 30 30 30 30 30 30 30 31 46 42 0D 0A   "
        ":010300000001FB␍␊  LRC ✓");
    row("our echo", FrameDirection::Received, "AB", 0, FrameEcho::Echo,
        "12:04:31.190    +0 мс ←   2  41 42                     AB        эхо");
    row("a collision", FrameDirection::Received, "AX", 0, FrameEcho::Collision,
        "12:04:31.190    +0 мс ←   2  41 58                     AX        коллизия");
  }
  void aFramesLineAsTheOperatorReadsIt() {
    QFETCH(int, direction);
    QFETCH(QByteArray, bytes);
    QFETCH(int, silenceMs);
    QFETCH(int, echo);
    QFETCH(QString, line);
    Frame frame;
    frame.direction = FrameDirection(direction);
    frame.bytes = bytes.toStdString();
    if (silenceMs >= 0) frame.silence = std::chrono::milliseconds(silenceMs);
    frame.check = console::CheckOf(frame.bytes);
    frame.echo = FrameEcho(echo);
    const QDateTime at(QDate(2026, 12, 11), QTime(12, 4, 31, 190));
    QCOMPARE(FrameView::FormatLine(frame, at), line);
  }

  // Sent frames apart from received ones, our echo greyed, a collision as an error; lines that
  // are no frame's (the low-latency note) as any text.
  void colours() {
    const QDateTime at(QDate(2026, 1, 1), QTime(0, 0));
    const auto colourOf = [&](FrameDirection d, FrameEcho echo) {
      Frame frame;
      frame.direction = d;
      frame.bytes = "AB";
      frame.echo = echo;
      frame.silence = 3ms;
      return FrameView::LineColour(FrameView::FormatLine(frame, at));
    };
    const auto sent = colourOf(FrameDirection::Sent, FrameEcho::None);
    const auto echo = colourOf(FrameDirection::Received, FrameEcho::Echo);
    const auto collision = colourOf(FrameDirection::Received, FrameEcho::Collision);
    QVERIFY(sent && echo && collision);
    QVERIFY(*sent != *echo && *echo != *collision && *sent != *collision);
    QVERIFY(!colourOf(FrameDirection::Received, FrameEcho::None));
    QVERIFY(!FrameView::LineColour(FrameView::LowLatencyRefusedLine("COM1", at)));
  }

  void lineErrorsStandWhereTheyHappened() {
    Frame frame;
    frame.bytes = "AB";
    frame.markers = {{1, "<Framing Error>"}, {2, "<BREAK>"}};
    QCOMPARE(FrameView::FormatLine(frame, QDateTime(QDate(2026, 1, 1), QTime(0, 0))),
             QString("00:00:00.000          ←   2  41 <Framing Error> 42 <BREAK>   AB"));
    frame.markers = {{0, "<BREAK>"}, {0, "<Rx Parity Error>"}};
    QCOMPARE(FrameView::FormatLine(frame, QDateTime(QDate(2026, 1, 1), QTime(0, 0))),
             QString("00:00:00.000          ←   2  <BREAK> <Rx Parity Error> 41 42   AB"));
  }

  // The far end writes frames with known silences while the window is busy elsewhere; the view
  // shows each frame once, whole, at the moment the device took it off the line (not when the
  // window got to it), with the silence before it as written.
  void receivedFramesKeepTheirTimesAndSilences() {
    WindowFixture f;
    test::PtyPair pty;
    StartOnPty(f, pty);
    MainWindow& window = *f.window;
    using Steady = std::chrono::steady_clock;
    const std::string frames[] = {kPoll, kAnswer, "\x05", kPoll + kAnswer};
    const std::chrono::milliseconds silences[] = {0ms, 2ms, 25ms, 3ms};
    Steady::time_point written[4];
    Steady::time_point taken[4];  // the device holds the frame by then
    int total = 0;
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_for(silences[i]);
      written[i] = Steady::now();
      pty.Write(frames[i]);
      total += int(frames[i].size());
      // Without the event loop: the window gets nothing until all four are in.
      const auto bound = Steady::now() + 5s;
      while (window.Port().InputQueueCount() < total && Steady::now() < bound) std::this_thread::yield();
      taken[i] = Steady::now();
    }
    std::this_thread::sleep_for(30ms);
    QTRY_VERIFY2(PaneLines(f).size() >= 4, qPrintable(f.ReceivedText()));
    const QStringList lines = PaneLines(f);
    QVERIFY2(lines.size() == 4, qPrintable(f.ReceivedText()));
    const auto ms = [](Steady::duration d) { return int(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); };
    for (int i = 0; i < 4; ++i) {
      const Parsed p = Parse(lines[i]);
      QVERIFY2(p.time.isValid(), qPrintable(lines[i]));
      QCOMPARE(p.direction, QString("←"));
      QCOMPARE(p.count, int(frames[i].size()));
      QCOMPARE(p.hex, Hex(frames[i]));
      // Between the far end's write and the device holding the bytes (a millisecond either way
      // for the shown time's rounding): the window's lateness is not in it.
      const int shown = p.time.msecsSinceStartOfDay();
      QVERIFY2(shown >= ShownMs(written[i]) - 1 && shown <= ShownMs(taken[i]) + 1,
               qPrintable(lines[i] + QString(": written %1 ms after the line's time, held %2 ms after it")
                                         .arg(ShownMs(written[i]) - shown)
                                         .arg(ShownMs(taken[i]) - shown)));
      if (i == 0) continue;
      QVERIFY2(p.silenceMs >= ms(written[i] - taken[i - 1]) - 1 && p.silenceMs <= ms(taken[i] - written[i - 1]) + 1,
               qPrintable(lines[i] + QString(" written %1 ms after the previous").arg(ms(written[i] - written[i - 1]))));
    }
    QCOMPARE(window.CounterFigures().RxCount, total);
  }

  // What the window sends and what comes back, in one timeline: one keying is one sent frame.
  void sentAndReceivedInOneTimeline() {
    WindowFixture f;
    test::PtyPair pty;
    StartOnPty(f, pty);
    MainWindow& window = *f.window;
    window.SendBurst(kPoll);
    QCOMPARE(pty.Read(kPoll.size()), kPoll);
    QTRY_VERIFY(!window.RtsRaised());
    pty.Write(kAnswer);
    QTRY_VERIFY(PaneLines(f).size() >= 2);
    const QStringList lines = PaneLines(f);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(Parse(lines[0]).direction, QString("→"));
    QCOMPARE(Parse(lines[0]).hex, Hex(kPoll));
    QVERIFY2(lines[0].endsWith("CRC ✓"), qPrintable(lines[0]));
    QCOMPARE(Parse(lines[1]).direction, QString("←"));
    QCOMPARE(Parse(lines[1]).hex, Hex(kAnswer));
    QVERIFY2(lines[1].endsWith("CRC ✓"), qPrintable(lines[1]));
    QVERIFY(Parse(lines[1]).silenceMs >= 0);

    // Another mode shows the stream again.
    QTest::mouseClick(f.HexButton(), Qt::LeftButton);
    QVERIFY(!FramesButton(f)->isChecked());
    pty.Write("Z");
    QTRY_VERIFY(f.ReceivedText().endsWith("5A."));
  }

  // Frames are cut only while someone takes their lines: what came in before the operator
  // switched to them, the start of a frame included, is no part of the first frame after.
  void theFirstFrameAfterTheSwitchHoldsNothingFromBefore() {
    WindowFixture f;
    test::PtyPair pty;
    // A gap long enough that both writes would fall into one frame.
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() +
                    "\nBaudRate=115200\n[Velmora]\nFrameGap=2000\n");
    f.Start();
    QVERIFY(f.window->Port().Connected());
    QTest::mouseClick(f.HexButton(), Qt::LeftButton);
    pty.Write("AB");
    QTRY_VERIFY(f.ReceivedText().contains("41.42."));
    QTest::mouseClick(FramesButton(f), Qt::LeftButton);
    pty.Write(kAnswer);
    QStringList frames;
    QTRY_VERIFY_WITH_TIMEOUT((frames = PaneLines(f).filter(QRegularExpression("^\\d\\d:"))).size() >= 1, 10000);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(Parse(frames[0]).hex, Hex(kAnswer));
    QVERIFY2(frames[0].endsWith("CRC ✓"), qPrintable(frames[0]));
  }

  void theCaptureWritesTheLines() {
    WindowFixture f;
    test::PtyPair pty;
    StartOnPty(f, pty);
    QTemporaryDir folder;
    const QString path = folder.filePath("frames.txt");
    f.window->FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    const QString before = f.ReceivedText();
    pty.Write(kAnswer);
    QTRY_VERIFY(QFileInfo(path).size() > 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString captured = QString::fromUtf8(file.readAll());
    QVERIFY2(captured.endsWith('\n') && captured.count('\n') == 1, qPrintable(captured));
    QCOMPARE(Parse(captured).hex, Hex(kAnswer));
    QVERIFY2(captured.trimmed().endsWith("CRC ✓"), qPrintable(captured));
    QCOMPARE(f.ReceivedText(), before);  // the pane stays as it was while the capture runs
  }


  // "FrameGap" in the console's section: absent is 3.5 character times (and stays absent when
  // the file is saved), a number of milliseconds is taken, one past the dialog's range is
  // brought into it and named.
  void frameGapKey_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<bool>("named");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("absent") << QByteArray() << 0 << false << QByteArray();
    QTest::newRow("set") << QByteArray("FrameGap=20\n") << 20 << false << QByteArray("FrameGap=20\n");
    QTest::newRow("past the range") << QByteArray("FrameGap=99999\n") << 10000 << true << QByteArray("FrameGap=10000\n");
    QTest::newRow("below it") << QByteArray("FrameGap=-5\n") << 0 << true << QByteArray("FrameGap=0\n");
  }
  void frameGapKey() {
    QFETCH(QByteArray, key);
    QFETCH(int, gapMs);
    QFETCH(bool, named);
    QFETCH(QByteArray, saved);
    WindowFixture f;
    f.WriteSettings("[ComPort1]\nPort=COM1\nBaudRate=9600\nParity=Even\n[Velmora]\n" + key);
    auto loopback = platform::sim::LoopbackPlug::Create();
    MainWindow& window = f.Start(loopback->Endpoint());
    QCOMPARE(window.Options().frameGapMs, gapMs);
    QCOMPARE(f.boxes.size(), named ? 1 : 0);
    if (named) QVERIFY2(f.boxes[0].contains("FrameGap"), qPrintable(f.boxes[0]));
    // 8E1 at 9600: 11 bits a character, 4.0 ms for three and a half.
    const auto expectedGap = gapMs > 0 ? std::chrono::microseconds(gapMs * 1000) : 4010us;
    window.SendBurst("x");
    QCOMPARE(std::chrono::duration_cast<std::chrono::microseconds>(window.Frames().Gap()), expectedGap);
    window.SaveSettingsFile();
    const QByteArray file = f.ReadSettings();
    QVERIFY2(saved.isEmpty() ? !file.contains("FrameGap") : file.contains(saved), file.constData());
  }

  // Low latency asked for at the open and put back at the close where the driver grants it;
  // the frame view says so where the driver refuses, and says nothing otherwise.
  void lowLatencyGrantedOrRefused_data() {
    QTest::addColumn<int>("answer");
    QTest::newRow("granted") << int(platform::LowLatencyAnswer::Granted);
    QTest::newRow("refused") << int(platform::LowLatencyAnswer::Refused);
    QTest::newRow("not offered") << int(platform::LowLatencyAnswer::NotOffered);
  }
  void lowLatencyGrantedOrRefused() {
    QFETCH(int, answer);
    const auto expected = platform::LowLatencyAnswer(answer);
    WindowFixture f;
    auto loopback = platform::sim::LoopbackPlug::Create();
    loopback->SetLowLatencyAnswer(expected);
    MainWindow& window = f.Start(loopback->Endpoint());
    QVERIFY(window.Port().Connected());
    QCOMPARE(window.Port().LowLatency(), expected);
    QCOMPARE(loopback->LowLatencyOn(), expected == platform::LowLatencyAnswer::Granted);

    QTest::mouseClick(FramesButton(f), Qt::LeftButton);
    const bool refused = expected == platform::LowLatencyAnswer::Refused;
    QCOMPARE(PaneLines(f).size(), refused ? 1 : 0);
    if (refused) {
      QVERIFY2(PaneLines(f)[0].contains("Драйвер порта COM1 отказал в малой задержке приема"), qPrintable(PaneLines(f)[0]));
      // An open while the view is shown tells it there at once.
      window.Port().ClosePort();
      window.Port().OpenPort();
      QCOMPARE(PaneLines(f).size(), 2);
    }

    window.Port().ClosePort();
    QVERIFY(!loopback->LowLatencyOn());  // put back as the device closed
  }
};

QTEST_MAIN(TestFrameView)
#include "test_frame_view.moc"
