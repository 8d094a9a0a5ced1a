// A file sent where RTS stays up for the whole file: past its first characters the send keeps
// the driver fed instead of waiting for each transmit-empty, and the operator sees the same
// bytes, progress and stop as before. The real window, the simulated radio link (on a manual
// clock where the line must be seen to run without the window) and a pseudo-terminal.
#include "console/main_window.h"

#include <QPushButton>
#include <QtTest>

#include "console/file_sender.h"
#include "platform/clock.h"
#include "platform/sim/sim_devices.h"
#include "tests/support/pty_pair.h"
#include "window_fixture.h"

using namespace velmora;
using console::FileSender;
using console::MainWindow;
using console::StatusPanel;
using console::testing::Heard;
using console::testing::RtsHistory;
using console::testing::WindowFixture;

namespace {

void WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(content), content.size());
}

// Every byte value in turn, carriage returns and line feeds among them.
QByteArray FileContent(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 13);
  return bytes;
}

}  // namespace

class TestFileStream : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
  }

  // Past its first characters the send no longer waits for the window between characters: the
  // line runs on for as long as the stream's writes last. In RTS/CTS mode each character still
  // keys the transmitter, one per transmit-empty.
  void lineRunsWithoutTheWindowWhereRtsStaysUp_data() {
    QTest::addColumn<int>("rtsCtsMode");
    QTest::addColumn<int>("heardWithoutTheWindow");
    QTest::newRow("no keying: a stream") << 0 << 8;
    QTest::newRow("RTS/CTS: a character per keying") << 1 << 1;
  }
  void lineRunsWithoutTheWindowWhereRtsStaysUp() {
    QFETCH(int, rtsCtsMode);
    QFETCH(int, heardWithoutTheWindow);
    WindowFixture f;
    auto clock = std::make_shared<platform::ManualClock>();
    f.radio = platform::sim::RadioLink::Create(clock);
    f.radio->SetEcho(false);
    f.radio->SetCtsDelay(std::chrono::milliseconds(0));
    MainWindow& window = f.Start(f.radio->Endpoint());
    window.Options().rtsCtsMode = rtsCtsMode;
    const QByteArray content = FileContent(64);
    const QString path = Path("stream.bin");
    WriteFile(path, content);
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    const auto characterTime = [&] {
      clock->Advance(f.radio->CharacterTime(0));
      f.radio->CatchUp();
    };
    const auto heard = [&] { return Heard(*f.radio).size(); };
    // Character times until the window has answered (the progress moves, or the send ends).
    const auto windowStep = [&] {
      const QString progress = window.PanelText(StatusPanel::Progress);
      const auto answered = [&] {
        return window.PanelText(StatusPanel::Progress) != progress || !f.SendFileButton()->isChecked();
      };
      for (int i = 0; i < 8 && !answered(); ++i) {
        characterTime();
        (void)QTest::qWaitFor(answered, 500);
      }
    };
    // The first characters go one per transmit-empty: each waits for the window.
    while (heard() < FileSender::kCharactersBeforeStream) {
      const qsizetype before = heard();
      windowStep();
      QCOMPARE(heard(), before + 1);
    }
    QTest::qWait(50);  // the window answers the last transmit-empty
    const qsizetype before = heard();
    for (int i = 0; i < 8; ++i) characterTime();  // the window is not asked meanwhile
    QCOMPARE(heard() - before, heardWithoutTheWindow);
    // The rest: the stream's writes finish as the line takes them, a character at a time.
    for (int i = 0; i < 400 && f.SendFileButton()->isChecked(); ++i) {
      const qsizetype had = heard();
      characterTime();
      (void)QTest::qWaitFor([&] { return heard() > had || !f.SendFileButton()->isChecked(); }, 200);
      QTest::qWait(2);  // the window's answer, where it has one
    }
    QTRY_VERIFY(!f.SendFileButton()->isChecked());
    QCOMPARE(Heard(*f.radio), content);
    QCOMPARE(window.CounterFigures().TxCount, content.size());
    QCOMPARE(window.PanelText(StatusPanel::Progress), QString("100%"));
    QVERIFY(!window.RtsRaised());
  }

  // Through the kernel's pseudo-terminal, with and without the keying delay (RTS held for the
  // whole file either way): the far end gets the file byte for byte, CR as a plain character
  // whatever the line ending, every byte counted once, the end reported and RTS dropped after it.
  void wholeFileArrivesByteForByte_data() {
    QTest::addColumn<int>("keyingDelayMs");
    QTest::newRow("no keying") << 0;
    QTest::newRow("keying delay") << 30;
  }
  void wholeFileArrivesByteForByte() {
    QFETCH(int, keyingDelayMs);
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(QByteArray("[ComPort1]\nPort=") + pty.SlavePath().c_str() +
                    "\nBaudRate=115200\n[Velmora]\nCRLF=1\nTxDelay=" + QByteArray::number(keyingDelayMs) + "\n");
    MainWindow& window = f.Start();
    QCOMPARE(window.Options().keyingDelayMs, keyingDelayMs);
    const QByteArray content = FileContent(300 * 1024);
    const QString path = Path("big.bin");
    WriteFile(path, content);
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += QByteArray::fromStdString(pty.Read(content.size() - got.size(), 50)),
                              got.size() >= content.size()),
                             30000);
    QCOMPARE(got, content);
    QTRY_VERIFY(!f.SendFileButton()->isChecked());
    QCOMPARE(window.CounterFigures().TxCount, content.size());
    QCOMPARE(window.PanelText(StatusPanel::Progress), QString("100%"));
    QVERIFY(f.TransmitPane()->toPlainText().endsWith("Файл " + path + " передан (" +
                                                     QString::number(content.size()) + " байт)\n"));
    QVERIFY(!window.RtsRaised());
    QVERIFY(f.displayed.isEmpty());
  }

  // A stop in the middle of a stream: what was already with the device goes out and nothing
  // after it, a prefix of the file; the report and Tx say exactly how much; the progress panel
  // showed no more than the line had taken; and the stop took effect within the stream's few
  // writes, not the rest of the file.
  void stopTakesEffectWithinTheStreamsWrites() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();  // 9600 baud, at the line's own pace
    const QByteArray content = FileContent(2048);
    const QString path = Path("stop.bin");
    WriteFile(path, content);
    window.FileChoosers().AnswerNext(path);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Heard(*f.radio).size() >= 200, 5000);
    QTest::mouseClick(f.SendFileButton(), Qt::LeftButton);
    const qsizetype atStop = Heard(*f.radio).size();
    const int shown = window.PanelText(StatusPanel::Progress).chopped(1).toInt();
    // The transmitter's FIFO (16 characters in the simulated UART) is the line's.
    QVERIFY2(shown * content.size() / 100 <= atStop + 16, qPrintable(window.PanelText(StatusPanel::Progress)));
    QTest::qWait(300);  // far longer than the writes the stream keeps with the device
    const QByteArray heard = Heard(*f.radio);
    QVERIFY(content.startsWith(heard));
    // The UART's FIFO, and the stream's writes: each no longer than its time on the line or
    // twice what the FIFO took whole at once.
    const qsizetype bound =
        16 + qsizetype(FileSender::kStreamWrites * std::max<size_t>(2 * 16, console::StreamChunkBytes(9600))) + 1;
    QVERIFY2(heard.size() - atStop <= bound, qPrintable(QString::number(heard.size() - atStop)));
    QVERIFY2(f.TransmitPane()->toPlainText().endsWith("\nПередача файла " + path + " остановлена: передано " +
                                                      QString::number(heard.size()) + " из 2048 байт\n"),
             qPrintable(f.TransmitPane()->toPlainText().right(120)));
    QCOMPARE(window.CounterFigures().TxCount, heard.size());
    QVERIFY(f.displayed.isEmpty());
  }

 private:
  QString Path(const QString& name) const { return folder_->filePath(name); }
  std::unique_ptr<QTemporaryDir> folder_;
};

QTEST_MAIN(TestFileStream)
#include "test_file_stream.moc"
