// A lost device through the real window, on pseudo-terminals made by the test: the far end goes
// away during a flood or during typing, comes back at the same path, and the process is stopped
// by SIGTERM at those moments.
#include "console/main_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/posix/uucp_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pty_pair.h"
#include "window_fixture.h"

namespace velmora::console {
namespace {

using namespace std::chrono_literals;
using testing::WindowFixture;

const std::string kMissingDevice = "/dev/ttyVELMORA_NONE";

// Generous: only a spinning thread comes near it.
constexpr auto kIdleCpuAllowance = 100ms;

std::chrono::microseconds CpuOver(std::chrono::milliseconds span) {
  const auto before = test::ProcessCpuTime();
  QTest::qWait(static_cast<int>(span.count()));
  return test::ProcessCpuTime() - before;
}

// Points `link` at `target` the way `ln -sf` does: a new link renamed over the old one.
bool PointLink(const QString& link, const std::string& target) {
  const QByteArray staging = (link + ".new").toLocal8Bit();
  ::unlink(staging.constData());
  return ::symlink(target.c_str(), staging.constData()) == 0 &&
         ::rename(staging.constData(), link.toLocal8Bit().constData()) == 0;
}

QByteArray SettingsFor(const QString& port) {
  return "[ComPort1]\nPort=" + port.toLocal8Bit() + "\nBaudRate=115200\n[Velmora]\nRTS/CTS=1\nCRLF=0\n";
}

// Bytes into the far end for `span`, as fast as the window takes them.
size_t Flood(test::PtyPair& pty, std::chrono::milliseconds span) {
  const std::string chunk(4096, 'F');
  size_t written = 0;
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    written += pty.WriteWhatFits(chunk);
    QCoreApplication::processEvents();
  }
  return written;
}

}  // namespace

class TestPortReconnect : public QObject {
  Q_OBJECT

 private slots:
  void farEndGoneDuringFloodThenBackAtTheSamePath() {
    WindowFixture f;
    QTemporaryDir folder;
    const QString link = folder.path() + "/modem";
    std::optional<test::PtyPair> first;
    first.emplace();
    QVERIFY(PointLink(link, first->SlavePath()));
    f.WriteSettings(SettingsFor(link));
    MainWindow& window = f.Start();
    QVERIFY(window.Port().Connected());
    f.Child<QTimer>("Timer2")->stop();  // so the state words stay to be read

    QVERIFY(Flood(*first, 300ms) > 0);
    QVERIFY(window.CounterFigures().RxCount > 0);
    first->CloseMaster();
    first->CloseSlaveKeeper();

    // One report naming the device; the status bar in its closed state.
    QTRY_VERIFY(!window.Port().Connected());
    QTRY_COMPARE(f.displayed.size(), 1);
    QVERIFY2(f.displayed.first().contains(link), qPrintable(f.displayed.first()));
    QVERIFY(f.boxes.isEmpty());
    QCOMPARE(window.PanelText(StatusPanel::State), QString("НЕТ ПОРТА"));
    QCOMPARE(window.PanelText(StatusPanel::Cts), QString());
    QCOMPARE(window.PanelText(StatusPanel::Dsr), QString());
    QCOMPARE(window.PanelText(StatusPanel::Rts), QString());
    QVERIFY(window.WaitingForDeviceReturn());
    QVERIFY(CpuOver(500ms) < kIdleCpuAllowance);
    QCOMPARE(f.displayed.size(), 1);
    // The window is usable.
    QTest::mouseClick(f.Child<QPushButton>("Button2"), Qt::LeftButton);
    QCOMPARE(f.ReceivedText(), QString());

    // A new far end at the same path: the console reopens it by itself.
    test::PtyPair second;
    QVERIFY(PointLink(link, second.SlavePath()));
    QTRY_VERIFY(window.Port().Connected());
    QVERIFY(!window.WaitingForDeviceReturn());
    QCOMPARE(window.PanelText(StatusPanel::State), QString("ВОССТАНОВЛЕН"));
    QVERIFY(!window.RtsRaised());
    QCOMPARE(window.Port().BaudRate(), port::br115200);
    QCOMPARE(f.displayed.size(), 1);
    QVERIFY(f.boxes.isEmpty());

    second.Write("back");
    QTRY_COMPARE(f.ReceivedText(), QString("back"));
    f.Type("k");
    QCOMPARE(QByteArray::fromStdString(second.Read(1)), QByteArray("k"));
  }

  void farEndGoneAndTheSameNodeMadeAgain() {
    WindowFixture f;
    std::optional<test::PtyPair> first;
    first.emplace();
    const std::string path = first->SlavePath();
    f.WriteSettings(SettingsFor(QString::fromStdString(path)));
    MainWindow& window = f.Start();
    QVERIFY(window.Port().Connected());
    first.reset();  // master and the pair's own slave descriptor closed
    QTRY_VERIFY(window.WaitingForDeviceReturn());

    // The kernel hands out the lowest free number: the same node comes back.
    test::PtyPair second;
    if (second.SlavePath() != path) QSKIP("the kernel gave another pseudo-terminal number");
    QTRY_VERIFY(window.Port().Connected());
    second.Write("x");
    QTRY_COMPARE(f.ReceivedText(), QString("x"));
    QCOMPARE(f.displayed.size(), 1);
  }

  void farEndGoneDuringTypingCostsNothingAndReportsOnce() {
    WindowFixture f;
    test::PtyPair pty;
    f.WriteSettings(SettingsFor(QString::fromStdString(pty.SlavePath())));
    MainWindow& window = f.Start();
    QVERIFY(window.Port().Connected());
    for (int i = 0; i < 20; ++i) {
      f.Type("t");
      QTest::qWait(2);
    }
    pty.CloseMaster();
    // The operator types on until the report comes (a box stops the typing in the real window).
    for (int i = 0; i < 2000 && window.Port().Connected(); ++i) {
      f.Type("t");
      QTest::qWait(2);
    }
    QVERIFY(!window.Port().Connected());
    QVERIFY2(f.displayed.size() == 1, qPrintable(f.displayed.join("\n")));
    QVERIFY(CpuOver(1000ms) < kIdleCpuAllowance);
    QCOMPARE(f.displayed.size(), 1);
  }

  void anOpenByTheOperatorEndsTheWait() {
    WindowFixture f;
    QTemporaryDir folder;
    const QString link = folder.path() + "/modem";
    std::optional<test::PtyPair> first;
    first.emplace();
    QVERIFY(PointLink(link, first->SlavePath()));
    f.WriteSettings(SettingsFor(link));
    MainWindow& window = f.Start();
    first.reset();
    QTRY_VERIFY(window.WaitingForDeviceReturn());

    test::PtyPair other;
    window.Port().SetPort(other.SlavePath());
    window.Port().OpenPort();
    QVERIFY(!window.WaitingForDeviceReturn());
    // The old path coming back changes nothing now.
    test::PtyPair back;
    QVERIFY(PointLink(link, back.SlavePath()));
    QTest::qWait(200);
    QCOMPARE(QString::fromStdString(window.Port().Port()), QString::fromStdString(other.SlavePath()));
  }

  void anotherPortChosenIsNotReopenedWhenTheOldPathReturns() {
    WindowFixture f;
    QTemporaryDir folder;
    const QString link = folder.path() + "/modem";
    std::optional<test::PtyPair> first;
    first.emplace();
    QVERIFY(PointLink(link, first->SlavePath()));
    f.WriteSettings(SettingsFor(link));
    MainWindow& window = f.Start();
    first.reset();
    QTRY_VERIFY(window.WaitingForDeviceReturn());

    window.Port().SetPort(kMissingDevice);  // chosen, not opened
    test::PtyPair back;
    QVERIFY(PointLink(link, back.SlavePath()));
    QTRY_VERIFY(!window.WaitingForDeviceReturn());
    QVERIFY(!window.Port().Connected());
    QCOMPARE(window.Port().Port(), kMissingDevice);
  }

  // The program itself, stopped by SIGTERM: it runs its close sequence (the settings file is
  // written, the port closed and its lock file removed) and ends, whatever it was doing.
  void sigtermEndsTheProgramWithItsCloseSequence_data() {
    QTest::addColumn<QString>("moment");
    QTest::newRow("port open, idle") << "idle";
    QTest::newRow("during a flood") << "flood";
    QTest::newRow("device lost, its report shown, waiting for it") << "lost";
    QTest::newRow("the port refused at start, its box shown") << "refused";
  }
  void sigtermEndsTheProgramWithItsCloseSequence() {
    QFETCH(QString, moment);
    QTemporaryDir configHome;
    test::PtyPair pty;
    const QString settings = configHome.path() + "/Velmora/ZORVA.INI";
    QDir().mkpath(configHome.path() + "/Velmora");
    {
      QFile file(settings);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(SettingsFor(QString::fromStdString(moment == "refused" ? kMissingDevice : pty.SlavePath())));
    }
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::ChildProcess console({VELMORA_EXECUTABLE});
    qunsetenv("XDG_CONFIG_HOME");
    QVERIFY(console.Started());

    // The console holds the device once its lock file names it.
    const std::string lockFile =
        std::string(platform::posix::kUucpLockFolder) + "/" + platform::posix::UucpLock::FileName(pty.SlavePath());
    if (moment == "refused") {
      QTest::qWait(1000);  // the link error box is up by now (a stop before it is handled too)
    } else {
      QTRY_COMPARE_WITH_TIMEOUT(platform::posix::UucpLock::ReadHolder(lockFile), console.Pid(), 10000);
    }
    QFile::remove(settings);

    if (moment == "flood") {
      QVERIFY(Flood(pty, 300ms) > 0);
    } else if (moment == "lost") {
      pty.CloseMaster();
      QTRY_VERIFY_WITH_TIMEOUT(platform::posix::UucpLock::ReadHolder(lockFile) == 0, 10000);
      QTest::qWait(200);  // the report's box is up
    }
    console.Signal(SIGTERM);
    const int status = console.WaitForExit(10s);
    QVERIFY2(status != -1, "the console did not end within 10 s of SIGTERM");
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY2(QFile::exists(settings), "the close sequence saves the settings file");
    QFile file(settings);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains(QByteArray("Port=") +
                                    (moment == "refused" ? kMissingDevice : pty.SlavePath()).c_str()));
    QCOMPARE(platform::posix::UucpLock::ReadHolder(lockFile), 0);
  }
};

}  // namespace velmora::console

QTEST_MAIN(velmora::console::TestPortReconnect)
#include "test_port_reconnect.moc"
