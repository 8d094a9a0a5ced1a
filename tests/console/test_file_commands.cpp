// File send, capture and view through the real window: buttons clicked as the operator clicks
// them, the file dialogs answered in advance, the simulated radio link (on a manual clock where
// each step must be seen) or a pseudo-terminal as the far end.
#include "console/main_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include <QFileDialog>
#include <QPushButton>
#include <QtTest>

#include "console/file_send.h"
#include "platform/clock.h"
#include "platform/sim/sim_devices.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/support/pty_pair.h"
#include "tests/support/watchdog.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::StatusPanel;
using console::testing::Heard;
using console::testing::RtsHistory;
using console::testing::WindowFixture;
using platform::sim::LineChange;

namespace {

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(content), content.size());
}

// What a file transfer or a capture holds still until it ends: the receive panel's clearing
// and viewing buttons and its display modes.
QList<QWidget*> HeldWhileBusy(const WindowFixture& f) {
  return {f.ClearReceiveButton(), f.ViewFileButton(), f.AsciiButton(), f.HexButton(), f.BinButton()};
}

QColor PaneColour(QAbstractScrollArea* pane) { return pane->palette().color(QPalette::Base); }

// The radio link with its far station silent, on a clock that moves only when told: every
// transmit-empty event is one the test caused.
class SteppedRadio {
 public:
  explicit SteppedRadio(WindowFixture& f) {
    f.radio = platform::sim::RadioLink::Create(clock_);
    f.radio->SetEcho(false);
    radio_ = f.radio;
  }
  // One character's time on the line: the character in flight leaves it.
  void CharacterTime() {
    clock_->Advance(radio_->CharacterTime(0));
    radio_->CatchUp();
  }
  // Character times until the window takes the send's next step (a character typed meanwhile
  // shares the transmitter, so the step may take more than one).
  void SendStep(MainWindow& window) {
    const QString before = window.PanelText(StatusPanel::Progress);
    const auto stepped = [&] { return window.PanelText(StatusPanel::Progress) != before; };
    for (int i = 0; i < 4 && !stepped(); ++i) {
      CharacterTime();
      if (QTest::qWaitFor(stepped, 1000)) break;
    }
    QVERIFY(stepped());
  }

 private:
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
  std::shared_ptr<platform::sim::RadioLink> radio_;
};

}  // namespace

class TestFileCommands : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
  }

  // --- file send --------------------------------------------------------------------------

  void oneByteFileIsSentAtOnceAndEndsAtTheFirstTransmitEmpty() {
    WindowFixture f;
    SteppedRadio line(f);
    MainWindow& window = f.Start(f.radio->Endpoint());
    const QString path = Path("one.bin");
    WriteFile(path, "x");
    f.TransmitPane()->setPlainText("typed");
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);

    QCOMPARE(window.CounterFigures().TxCount, 1);  // sent at once
    QCOMPARE(f.TransmitPane()->toPlainText(),
             "typed\nИдет передача файла " + path + " (1 байт)\n");
    QCOMPARE(PaneColour(f.TransmitPane()), QPalette().color(QPalette::Button));
    for (QWidget* control : HeldWhileBusy(f))
      QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(f.SendFileButton()->isChecked());

    line.CharacterTime();
    QTRY_COMPARE(window.PanelText(StatusPanel::Progress), QString("100%"));
    QVERIFY(!f.SendFileButton()->isChecked());
    QCOMPARE(f.TransmitPane()->toPlainText(), "typed\nИдет передача файла " + path +
                                                  " (1 байт)\nФайл " + path + " передан (1 байт)\n");
    QCOMPARE(Heard(*f.radio), QByteArray("x"));
    QVERIFY(!window.RtsRaised());
    QCOMPARE(PaneColour(f.TransmitPane()), QPalette().color(QPalette::Base));
    for (QWidget* control : HeldWhileBusy(f))
      QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(f.displayed.isEmpty());
  }

  void threeByteFileShowsEachWholePercentage() {
    WindowFixture f;
    SteppedRadio line(f);
    MainWindow& window = f.Start(f.radio->Endpoint());
    const QString path = Path("three.bin");
    WriteFile(path, "abc");
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    for (const char* percent : {"33%", "66%", "100%"}) {
      line.SendStep(window);
      QCOMPARE(window.PanelText(StatusPanel::Progress), QString(percent));
    }
    QVERIFY(!f.SendFileButton()->isChecked());
    line.CharacterTime();
    QTest::qWait(20);
    QCOMPARE(Heard(*f.radio), QByteArray("abc"));
    QCOMPARE(window.CounterFigures().TxCount, 3);
    QCOMPARE(window.PanelText(StatusPanel::Progress), QString("100%"));  // kept after the end
  }

  void progressIsTheExactWholePercentage_data() {
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("percent");
    QTest::newRow("53 of 100") << qint64(53) << qint64(100) << 53;
    QTest::newRow("59 of 100") << qint64(59) << qint64(100) << 59;
    QTest::newRow("2 of 3") << qint64(2) << qint64(3) << 66;
    QTest::newRow("999 of 1000") << qint64(999) << qint64(1000) << 99;
    QTest::newRow("largest file, all but one") << qint64(INT_MAX) - 1 << qint64(INT_MAX) << 99;
    QTest::newRow("largest file, all") << qint64(INT_MAX) << qint64(INT_MAX) << 100;
  }
  void progressIsTheExactWholePercentage() {
    QFETCH(qint64, sent);
    QFETCH(qint64, size);
    QFETCH(int, percent);
    QCOMPARE(console::SendPercent(sent, size), percent);
  }

  void emptyFileSendsNothingAndTheNextPressRestores() {
    WindowFixture f;
    SteppedRadio line(f);
    MainWindow& window = f.Start(f.radio->Endpoint());
    const QString path = Path("empty.bin");
    WriteFile(path, "");
    window.FileChoosers().AnswerNext(path);
    auto* button = f.SendFileButton();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(button->isChecked());
    QCOMPARE(f.TransmitPane()->toPlainText(), "Файл " + path + " пуст: передавать нечего\n");
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isChecked());
    QCOMPARE(f.TransmitPane()->toPlainText(), "Файл " + path + " пуст: передавать нечего\n");
    QCOMPARE(PaneColour(f.TransmitPane()), QPalette().color(QPalette::Base));
    QVERIFY(f.ViewFileButton()->isEnabled());
    QVERIFY(f.displayed.isEmpty());
  }

  void stoppedMidwayAfterTheCharacterInFlight() {
    WindowFixture f;
    SteppedRadio line(f);
    MainWindow& window = f.Start(f.radio->Endpoint());
    window.Options().lineEnding = 1;
    const QString path = Path("ten.bin");
    WriteFile(path, "0123456789");
    window.FileChoosers().AnswerNext(path);
    auto* button = f.SendFileButton();
    QTest::mouseClick(button, Qt::LeftButton);
    for (int i = 0; i < 3; ++i) line.SendStep(window);
    QCOMPARE(window.PanelText(StatusPanel::Progress), QString("30%"));
    QTest::mouseClick(button, Qt::LeftButton);  // "3" is in flight
    for (int i = 0; i < 5; ++i) line.CharacterTime();
    QTest::qWait(50);
    QCOMPARE(Heard(*f.radio), QByteArray("0123"));
    QCOMPARE(window.PanelText(StatusPanel::Progress), QString("30%"));
    QVERIFY2(f.TransmitPane()->toPlainText().endsWith(
                 "\nПередача файла " + path + " остановлена: передано 4 из 10 байт\n"),
             qPrintable(f.TransmitPane()->toPlainText()));
    QCOMPARE(PaneColour(f.TransmitPane()), QPalette().color(QPalette::Base));
    // Enter is the operator's again: it sends the chosen line ending.
    f.Type("\r");
    line.CharacterTime();
    line.CharacterTime();
    QTRY_COMPARE(Heard(*f.radio), QByteArray("0123\r\n"));
  }

  void lineEndingsInTheFileGoUnchanged_data() {
    QTest::addColumn<int>("lineEnding");
    for (int mode : {0, 1, 2, 3}) QTest::addRow("line ending %d", mode) << mode;
  }
  void lineEndingsInTheFileGoUnchanged() {
    QFETCH(int, lineEnding);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();  // at the line's own pace
    window.Options().lineEnding = lineEnding;
    const QByteArray content("a\r\nb\rc\nd\r\n");
    const QString path = Path("lines.txt");
    WriteFile(path, content);
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QTRY_VERIFY(!f.SendFileButton()->isChecked());
    QTRY_COMPARE(Heard(*f.radio), content);
    QCOMPARE(window.CounterFigures().TxCount, content.size());
  }

  void enterDuringASendIsOneCarriageReturn() {
    WindowFixture f;
    SteppedRadio line(f);
    MainWindow& window = f.Start(f.radio->Endpoint());
    window.Options().lineEnding = 1;  // CR LF when no send runs
    const QString path = Path("five.bin");
    WriteFile(path, "ABCDE");
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    line.CharacterTime();
    QTRY_COMPARE(window.PanelText(StatusPanel::Progress), QString("20%"));
    f.Type("\r");
    for (const char* percent : {"40%", "60%", "80%", "100%"}) {
      line.SendStep(window);
      QCOMPARE(window.PanelText(StatusPanel::Progress), QString(percent));
    }
    QVERIFY(!f.SendFileButton()->isChecked());
    for (int i = 0; i < 3; ++i) line.CharacterTime();
    QTest::qWait(20);
    const QByteArray heard = Heard(*f.radio);
    QCOMPARE(heard.count('\r'), 1);
    QCOMPARE(heard.count('\n'), 0);
    QCOMPARE(heard.size(), 6);
    QCOMPARE(window.CounterFigures().TxCount, 6);
  }

  void rtsDropsAtEachTransmitEmptyInRtsCtsMode() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.Options().rtsCtsMode = 1;
    const QString before = RtsHistory(*f.radio);
    const QString path = Path("three.bin");
    WriteFile(path, "xyz");
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QTRY_VERIFY(!f.SendFileButton()->isChecked());
    QTRY_COMPARE(Heard(*f.radio), QByteArray("xyz"));
    QCOMPARE(RtsHistory(*f.radio).mid(before.size()), QString("+-+-+-"));
    QCOMPARE(f.radio->LostWhileUnkeyed(), size_t(0));
  }

  void fileOfTwoGibibytesOrMoreIsRefusedWhole() {
    WindowFixture f;
    SteppedRadio line(f);
    MainWindow& window = f.Start(f.radio->Endpoint());
    const QString path = Path("huge.bin");
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.resize(qint64(INT_MAX) + 1));  // sparse: no disk used
    }
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QCOMPARE(f.TransmitPane()->toPlainText(), "Ошибка при чтении файла " + path + "\n");
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QVERIFY(f.SendFileButton()->isChecked());
    line.CharacterTime();
    QTest::qWait(20);
    QCOMPARE(Heard(*f.radio), QByteArray());
  }

  void missingFileReportsTheSystemsError() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.FileChoosers().AnswerNext(Path("missing.txt"));
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QCOMPARE(f.displayed, QStringList{"System Error.  Code: 2.\r\nNo such file or directory"});
    QCOMPARE(window.CounterFigures().TxCount, 0);
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
  }

  void cancelledChoiceLeavesEverythingAsItWas() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    window.FileChoosers().AnswerNext(QString());
    window.FileChoosers().AnswerNext(QString());
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QVERIFY(!f.SendFileButton()->isChecked());
    QVERIFY(!f.CaptureButton()->isChecked());
    QCOMPARE(f.TransmitPane()->toPlainText(), QString());
    QCOMPARE(f.ReceivedText(), QString());
    QVERIFY(f.ViewFileButton()->isEnabled());
  }

  // The far end goes away in the middle of a send: the loss is reported once, the send ends
  // with the panes and buttons as they were, and nothing waits for a transmit-empty that will
  // never come.
  void deviceLostInTheMiddleOfASendEndsIt() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\n");
    MainWindow& window = f.Start();
    const QString path = Path("big.bin");
    WriteFile(path, QByteArray(256 * 1024, 'z'));
    window.FileChoosers().AnswerNext(path);
    auto* button = f.SendFileButton();
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(window.CounterFigures().TxCount >= 100);
    pty.CloseMaster();
    pty.CloseSlaveKeeper();
    QTRY_VERIFY(!button->isChecked());
    QTRY_VERIFY(!window.Port().Connected());
    QVERIFY(f.displayed.isEmpty());  // the loss is told in the window, without a box
    QVERIFY(window.CounterFigures().TxCount < 256 * 1024);
    QCOMPARE(PaneColour(f.TransmitPane()), QPalette().color(QPalette::Base));
    QVERIFY(f.ViewFileButton()->isEnabled());
    QVERIFY(window.PanelText(StatusPanel::Progress).endsWith('%'));
    QVERIFY2(f.TransmitPane()->toPlainText().contains("Передача файла " + path + " остановлена: передано "),
             qPrintable(f.TransmitPane()->toPlainText().right(200)));
  }

  // --- capture ----------------------------------------------------------------------------

  void captureAppendsWhatArrivesWhileThePaneStays_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("mode");  // the display mode button: ASCII, Hex, Bin
    QTest::addColumn<QByteArray>("captured");
    QTest::newRow("new file, ASCII") << QByteArray() << 0 << QByteArray("12");
    QTest::newRow("existing file, appended") << QByteArray("old\n") << 0 << QByteArray("old\n12");
    QTest::newRow("hex") << QByteArray() << 1 << QByteArray("31.32.");
    QTest::newRow("bin") << QByteArray() << 2 << QByteArray("00110001.00110010.");
  }
  void captureAppendsWhatArrivesWhileThePaneStays() {
    QFETCH(QByteArray, before);
    QFETCH(int, mode);
    QFETCH(QByteArray, captured);
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\n");
    MainWindow& window = f.Start();
    const QString path = Path("capture.txt");
    if (!before.isEmpty()) WriteFile(path, before);
    QTest::mouseClick(f.ModeButtons()[mode], Qt::LeftButton);
    pty.Write("A");
    QTRY_COMPARE(window.CounterFigures().RxCount, 1);
    const QString earlier = f.ReceivedText();

    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    const QString started = earlier + "\nИдет запись принятой информации в файл " + path + "\n";
    QCOMPARE(f.ReceivedText(), started);
    QCOMPARE(PaneColour(f.ReceiveView()), QPalette().color(QPalette::Button));
    for (QWidget* control : HeldWhileBusy(f))
      QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));

    pty.Write("1");
    QTRY_COMPARE(window.CounterFigures().RxCount, 2);
    pty.Write("2");
    QTRY_COMPARE(window.CounterFigures().RxCount, 3);
    QCOMPARE(window.PanelText(StatusPanel::Rx), QString("Rx: 3"));
    QCOMPARE(ReadFile(path), captured);  // on disk at once, chunk by chunk
    QCOMPARE(f.ReceivedText(), started);

    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QCOMPARE(PaneColour(f.ReceiveView()), QPalette().color(QPalette::Base));
    QVERIFY(f.ViewFileButton()->isEnabled());
    pty.Write("3");
    QTRY_COMPARE(window.CounterFigures().RxCount, 4);
    QCOMPARE(ReadFile(path), captured);  // closed: the pane has it again
    QVERIFY(f.ReceivedText().endsWith(mode == 0 ? "3" : mode == 1 ? "33." : "00110011."));
    QVERIFY(f.displayed.isEmpty());
  }

  void failingCaptureWriteIsReportedOnceAndTheCaptureGoesOn() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\n");
    MainWindow& window = f.Start();
    window.FileChoosers().AnswerNext("/dev/full");
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    for (int i = 1; i <= 3; ++i) {
      pty.Write("x");
      QTRY_COMPARE(window.CounterFigures().RxCount, i);
    }
    QCOMPARE(f.ReceivedText(), "Идет запись принятой информации в файл /dev/full\n"
                               "Ошибка при записи файла /dev/full\n");
    QVERIFY(f.CaptureButton()->isChecked());
    // A new capture may fail again, and says so again.
    window.FileChoosers().AnswerNext("/dev/full");
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    pty.Write("y");
    QTRY_COMPARE(window.CounterFigures().RxCount, 4);
    QCOMPARE(f.ReceivedText().count("Ошибка при записи файла /dev/full"), 2);
    QVERIFY(f.displayed.isEmpty());
  }

  void captureFileThatCannotBeOpened() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    const QString path = Path("no such folder/capture.txt");
    window.FileChoosers().AnswerNext(path);
    auto* button = f.CaptureButton();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(f.ReceivedText(), "Ошибка при открытии файла " + path + "\n");
    QVERIFY(button->isChecked());
    QVERIFY(f.ViewFileButton()->isEnabled());
    // The next press puts the button up; the close of a file never opened reports itself.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isChecked());
    QCOMPARE(f.ReceivedText(), "Ошибка при открытии файла " + path + "\nОшибка при сохранении файла " +
                                   path + "\n");
  }

  // Run as root in a folder others may write, a capture must not append to whatever file a
  // link someone else placed there leads to, nor create one through it. The operator's own link
  // to a file is followed.
  void captureFollowsOnlyTheOperatorsOwnLinksToFiles_data() {
    QTest::addColumn<bool>("ownLink");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<bool>("opens");
    QTest::newRow("own link to a file") << true << true << true;
    QTest::newRow("own link to nowhere") << true << false << false;
    QTest::newRow("another user's link to a file") << false << true << false;
    QTest::newRow("another user's link to nowhere") << false << false << false;
  }
  void captureFollowsOnlyTheOperatorsOwnLinksToFiles() {
    QFETCH(bool, ownLink);
    QFETCH(bool, targetExists);
    QFETCH(bool, opens);
    if (!ownLink && ::geteuid() != 0) QSKIP("only root can give a link to another user");
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\n");
    MainWindow& window = f.Start();
    const QString target = Path("target.txt");
    const QString link = Path("capture.txt");
    if (targetExists) WriteFile(target, "kept\n");
    QVERIFY(QFile::link(target, link));
    if (!ownLink) QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);

    window.FileChoosers().AnswerNext(link);
    auto* button = f.CaptureButton();
    QTest::mouseClick(button, Qt::LeftButton);
    pty.Write("z");
    QTRY_COMPARE(window.CounterFigures().RxCount, 1);
    QTest::mouseClick(button, Qt::LeftButton);
    if (opens) {
      QCOMPARE(f.ReceivedText(), "Идет запись принятой информации в файл " + link + "\n");
      QCOMPARE(ReadFile(target), QByteArray("kept\nz"));
    } else {
      QVERIFY2(f.ReceivedText().startsWith("Ошибка при открытии файла " + link + "\n"),
               qPrintable(f.ReceivedText()));
      QCOMPARE(QFileInfo::exists(target), targetExists);
      if (targetExists) QCOMPARE(ReadFile(target), QByteArray("kept\n"));
    }
    QVERIFY(QFileInfo(link).isSymLink());
  }

  // A FIFO pipes the capture into another program. With no program reading, the open fails at
  // once instead of holding the window until one comes.
  void captureIntoAFifoNeverHoldsTheWindow() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\n");
    MainWindow& window = f.Start();
    const QString fifo = Path("pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto* button = f.CaptureButton();
    {
      const test::Watchdog bound(std::chrono::seconds(10), "a capture into a FIFO nobody reads");
      window.FileChoosers().AnswerNext(fifo);
      QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(f.ReceivedText(), "Ошибка при открытии файла " + fifo + "\n");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isChecked());

    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    window.FileChoosers().AnswerNext(fifo);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY2(f.ReceivedText().endsWith("Идет запись принятой информации в файл " + fifo + "\n"),
             qPrintable(f.ReceivedText()));
    pty.Write("abc");
    QTRY_COMPARE(window.CounterFigures().RxCount, 3);
    char piped[8] = {};
    QCOMPARE(::read(reader, piped, sizeof piped), ssize_t(3));
    QCOMPARE(QByteArray(piped, 3), QByteArray("abc"));
    QTest::mouseClick(button, Qt::LeftButton);
    ::close(reader);
    QVERIFY(f.displayed.isEmpty());
  }

  // Deleted while the capture runs, the file would swallow everything that follows unseen.
  void deletedCaptureFileIsToldOnce() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() + "\n");
    MainWindow& window = f.Start();
    const QString path = Path("capture.txt");
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    pty.Write("1");
    QTRY_COMPARE(window.CounterFigures().RxCount, 1);
    QVERIFY(QFile::remove(path));
    for (int i = 2; i <= 4; ++i) {
      pty.Write("x");
      QTRY_COMPARE(window.CounterFigures().RxCount, i);
    }
    QCOMPARE(f.ReceivedText(), "Идет запись принятой информации в файл " + path + "\nФайл " + path +
                                   " удален: принятые данные в него больше не попадают\n");
    QVERIFY(f.CaptureButton()->isChecked());  // the capture goes on
    QVERIFY(f.displayed.isEmpty());
  }

  // The save dialog itself, as the operator fills it: ".txt" goes only to a name not there yet.
  void captureDialogAddsTxtOnlyToANewName_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("new name") << "fresh" << false << "fresh.txt";
    QTest::newRow("existing file without suffix") << "log" << true << "log";
    QTest::newRow("new name with a suffix") << "data.cap" << false << "data.cap";
  }
  void captureDialogAddsTxtOnlyToANewName() {
    QFETCH(QString, typed);
    QFETCH(bool, exists);
    QFETCH(QString, chosen);
    if (exists) WriteFile(Path(typed), "old\n");
    WindowFixture f;
    f.StartOnRadio();
    dialogs::testing::WhenShown<QFileDialog>([&](QFileDialog& dialog) {
      dialog.selectFile(Path(typed));
      static_cast<QDialog&>(dialog).accept();  // QFileDialog's own, as its Save button
    });
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QCOMPARE(f.ReceivedText(), "Идет запись принятой информации в файл " + Path(chosen) + "\n");
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QVERIFY(QFileInfo::exists(Path(chosen)));
    if (exists) QCOMPARE(ReadFile(Path(chosen)), QByteArray("old\n"));
  }

  // --- view -------------------------------------------------------------------------------

  // A name that starts like an option reaches the viewer as a file all the same: "+cmd" would
  // make vi run a command, "-" names read as the viewer's options.
  void viewerNeverTakesTheNameForAnOption_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("argument");
    QTest::newRow("dash") << "-R.txt" << "./-R.txt";
    QTest::newRow("plus") << "+!touch x.txt" << "./+!touch x.txt";
    QTest::newRow("plain") << "log.txt" << "log.txt";
  }
  void viewerNeverTakesTheNameForAnOption() {
    QFETCH(QString, name);
    QFETCH(QString, argument);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    const QString record = Path("viewer record");
    window.Options().viewerPath = RecordingProgram("viewer", record);
    window.FileChoosers().AnswerNext(Path(name));
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.ViewFileButton(), Qt::LeftButton);
    QTRY_VERIFY(QFile::exists(record));
    QCOMPARE(ReadFile(record), QFile::encodeName(folder_->path()) + "\n[" + argument.toUtf8() + "]\n");
  }

  void viewerGetsTheNameAsOneArgumentInTheFilesFolder() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    const QString record = Path("viewer record");
    const QString viewer = RecordingProgram("my viewer", record);
    window.Options().viewerPath = viewer;

    QTest::mouseClick(f.ViewFileButton(), Qt::LeftButton);  // no capture file yet
    QTest::qWait(100);
    QVERIFY(!QFile::exists(record));

    QVERIFY(QDir(folder_->path()).mkpath("my data"));
    const QString capture = Path("my data/log file.txt");
    window.FileChoosers().AnswerNext(capture);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.ViewFileButton(), Qt::LeftButton);
    QTRY_VERIFY(QFile::exists(record));
    QCOMPARE(ReadFile(record), QFile::encodeName(Path("my data")) + "\n[log file.txt]\n");
    QVERIFY(f.TransmitPane()->hasFocus() || !window.isActiveWindow());
  }

  void withNoViewerChosenTheDesktopOpens() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    const QString record = Path("opener record");
    const QString bin = Path("bin");
    QVERIFY(QDir().mkpath(bin));
    RecordingProgram("bin/xdg-open", record);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);
    window.Options().viewerPath.clear();
    window.FileChoosers().AnswerNext(Path("capture.txt"));
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.CaptureButton(), Qt::LeftButton);
    QTest::mouseClick(f.ViewFileButton(), Qt::LeftButton);
    qputenv("PATH", path);
    QTRY_VERIFY(QFile::exists(record));
    QCOMPARE(ReadFile(record), QFile::encodeName(folder_->path()) + "\n[capture.txt]\n");
  }

 private:
  QString Path(const QString& name) const { return folder_->path() + "/" + name; }

  // A script that writes its working folder and its arguments, one per line in brackets.
  QString RecordingProgram(const QString& name, const QString& record) {
    const QString program = Path(name);
    const QByteArray target = QFile::encodeName(record);
    WriteFile(program, "#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > '" +
                           target + ".part'\nmv '" + target + ".part' '" + target + "'\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
  }

  std::unique_ptr<QTemporaryDir> folder_;
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
