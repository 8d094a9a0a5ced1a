// The session log's files: one per day whatever order the lines come in, appended to, a file it
// cannot write told once with its path and reason; and the window's events in it.
#include "console/session_log.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>

#include "dialogs/parameters_dialog.h"
#include "dialogs/session_log_group.h"
#include "platform/sim/sim_devices.h"
#include "tests/dialogs/dialog_roles.h"
#include "tests/dialogs/modal_driver.h"
#include "tests/support/fake_device.h"
#include "window_fixture.h"

using velmora::console::MainWindow;
using velmora::console::SessionLog;
using velmora::console::testing::WindowFixture;

namespace {

QDateTime At(const char* text) { return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs); }

QStringList FileLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {QStringLiteral("<no file %1>").arg(path)};
  QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
  if (lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// Every line of every day's file in `folder`, the days in order.
QStringList LoggedLines(const QString& folder) {
  QStringList lines;
  for (const QString& name : QDir(folder).entryList({"velmora-*.log"}, QDir::Files, QDir::Name))
    lines += FileLines(QDir(folder).filePath(name));
  return lines;
}

// The events of `lines` that contain each of `parts`, in this order, each after the one before.
bool InOrder(const QStringList& lines, const QStringList& parts) {
  qsizetype at = 0;
  for (const QString& part : parts) {
    while (at < lines.size() && !lines[at].contains(part)) ++at;
    if (at == lines.size()) return false;
    ++at;
  }
  return true;
}

QByteArray SettingsWithLog(const QString& port, const QString& folder) {
  return "[ComPort1]\nPort=" + port.toLocal8Bit() + "\n[Velmora]\nSessionLog=" + folder.toLocal8Bit() + "\n";
}

}  // namespace

class TestSessionLog : public QObject {
  Q_OBJECT

 private slots:
  void LinesGoToTheDayOfTheirTime();
  void FileIsAppendedToAcrossSessions();
  void NothingOutsideASession();
  void FrameLinesReachTheFileInOrderWithTheEvents();
  void UnwritableFileToldOnceAndTheSessionGoesOn_data();
  void UnwritableFileToldOnceAndTheSessionGoesOn();
  void WindowWritesItsEventsWhileThePortIsOpen();
  void LostAndReturnedDeviceInOneSession();
  void WindowTellsAnUnwritableLogOnce();
  void SwitchedOffByDefault();
  void SwitchedOnAndOffInTheParametersDialog();
};

// Midnight passes between a frame's first byte and the moment its line is written, with events
// of the new day written before it: the frame stays whole in the old day's file.
void TestSessionLog::LinesGoToTheDayOfTheirTime() {
  QTemporaryDir dir;
  QDateTime now = At("2026-12-10T23:59:59.990");
  SessionLog log([&] { return now; });
  QStringList failures;
  log.SetFailureReporter([&](const QString& line) { failures << line; });
  log.Start(dir.path());
  log.WriteEvent(QStringLiteral("Порт открыт"));
  now = At("2026-12-11T00:00:00.001");
  log.WriteEvent(QStringLiteral("RTS поднят"));
  log.WriteFrameLine(At("2026-12-10T23:59:59.998"), QStringLiteral("23:59:59.998 +8 мс ←   3  01 02 03"));
  now = At("2026-12-11T00:00:00.004");
  log.WriteFrameLine(now, QStringLiteral("00:00:00.004 +2 мс →   1  04"));
  log.WriteEvent(QStringLiteral("RTS снят"));
  log.Stop();

  QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
           QStringList({"velmora-2026-12-10.log", "velmora-2026-12-11.log"}));
  QCOMPARE(FileLines(dir.filePath("velmora-2026-12-10.log")),
           QStringList({"23:59:59.990  Порт открыт", "23:59:59.998 +8 мс ←   3  01 02 03"}));
  QCOMPARE(FileLines(dir.filePath("velmora-2026-12-11.log")),
           QStringList({"00:00:00.001  RTS поднят", "00:00:00.004 +2 мс →   1  04", "00:00:00.004  RTS снят"}));
  QVERIFY(failures.isEmpty());
}

void TestSessionLog::FileIsAppendedToAcrossSessions() {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("журналы/линия 1"));  // made when missing
  const QDateTime time = At("2026-12-11T12:00:00.000");
  SessionLog log([&] { return time; });
  log.Start(folder);
  log.WriteEvent(QStringLiteral("первый"));
  log.Stop();
  log.Start(folder);
  log.WriteEvent(QStringLiteral("второй"));
  log.Stop();
  QCOMPARE(FileLines(log.FilePathFor(time.date())),
           QStringList({"12:00:00.000  первый", "12:00:00.000  второй"}));
}

void TestSessionLog::NothingOutsideASession() {
  QTemporaryDir dir;
  SessionLog log;
  log.Start(QString());  // no folder: switched off
  QVERIFY(!log.Active());
  log.WriteEvent(QStringLiteral("до"));
  log.Start(dir.path());
  log.Stop();
  log.WriteEvent(QStringLiteral("после"));
  log.WriteFrameLine(log.Now(), QStringLiteral("кадр"));
  QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// Frame lines may wait to be written together, but none is lost or overtaken: an event takes
// every line before it into the file with it, and lines with no event after them follow soon.
void TestSessionLog::FrameLinesReachTheFileInOrderWithTheEvents() {
  QTemporaryDir dir;
  const QDateTime time = At("2026-12-11T12:00:00.000");
  SessionLog log([&] { return time; });
  log.Start(dir.path());
  const QString path = log.FilePathFor(time.date());
  log.WriteFrameLine(time, QStringLiteral("кадр 1"));
  log.WriteFrameLine(time, QStringLiteral("кадр 2"));
  log.WriteEvent(QStringLiteral("RTS поднят"));
  QCOMPARE(FileLines(path), QStringList({"кадр 1", "кадр 2", "12:00:00.000  RTS поднят"}));
  log.WriteFrameLine(time, QStringLiteral("кадр 3"));
  QTRY_COMPARE_WITH_TIMEOUT(FileLines(path).size(), 4, 5000);
  QCOMPARE(FileLines(path).last(), QStringLiteral("кадр 3"));
  // More than is ever held at once: written without waiting, each line whole and in order.
  const QString longLine(3000, u'ж');
  for (int i = 0; i < 100; ++i) log.WriteFrameLine(time, QString::number(i) + longLine);
  const QStringList lines = FileLines(path);
  QVERIFY(lines.size() > 4);
  for (qsizetype i = 4; i < lines.size(); ++i) QCOMPARE(lines[i], QString::number(i - 4) + longLine);
  log.Stop();
  QCOMPARE(FileLines(path).size(), 104);
}

void TestSessionLog::UnwritableFileToldOnceAndTheSessionGoesOn_data() {
  QTest::addColumn<QString>("obstacle");
  QTest::addColumn<QString>("reason");
  QTest::newRow("folder is a file") << "folder-file" << "путь проходит не через папку";
  QTest::newRow("folder at the file's name") << "folder-at-name" << "на его месте папка";
  QTest::newRow("link at the file's name") << "link-at-name" << "на его месте символическая ссылка";
}

void TestSessionLog::UnwritableFileToldOnceAndTheSessionGoesOn() {
  QFETCH(QString, obstacle);
  QFETCH(QString, reason);
  QTemporaryDir dir;
  QDateTime now = At("2026-12-11T08:00:00.000");
  QString folder = dir.path();
  const QString dayFile = dir.filePath(SessionLog::FileNameFor(now.date()));
  if (obstacle == "folder-file") {
    folder = dir.filePath("not-a-folder");
    QFile file(folder);
    QVERIFY(file.open(QIODevice::WriteOnly));
  } else if (obstacle == "folder-at-name") {
    QVERIFY(QDir().mkpath(dayFile));
  } else {
    QVERIFY(QFile::link(dir.filePath("elsewhere"), dayFile));
  }
  SessionLog log([&] { return now; });
  QStringList failures;
  log.SetFailureReporter([&](const QString& line) { failures << line; });
  log.Start(folder);
  log.WriteEvent(QStringLiteral("раз"));
  log.WriteEvent(QStringLiteral("два"));
  QCOMPARE(failures.size(), 1);
  QVERIFY2(failures[0].contains(QDir(folder).filePath(SessionLog::FileNameFor(now.date()))), qPrintable(failures[0]));
  QVERIFY2(failures[0].contains(reason), qPrintable(failures[0]));
  QVERIFY(!QFile::exists(dir.filePath("elsewhere")));  // the link led nowhere and made nothing
  QVERIFY(log.Active());
  // The next day's file is tried; where it can be written, the session goes on into it.
  now = At("2026-12-12T00:00:01.000");
  log.WriteEvent(QStringLiteral("три"));
  QCOMPARE(failures.size(), 1);
  if (obstacle != "folder-file")
    QCOMPARE(FileLines(dir.filePath(SessionLog::FileNameFor(now.date()))), QStringList({"00:00:01.000  три"}));
  // A new session tells it again.
  log.Stop();
  now = At("2026-12-11T09:00:00.000");
  log.Start(folder);
  log.WriteEvent(QStringLiteral("четыре"));
  QCOMPARE(failures.size(), 2);
}

// Opened, RTS up and down as the operator types a line, a line error, closed; the folder is kept
// in the settings file.
void TestSessionLog::WindowWritesItsEventsWhileThePortIsOpen() {
  WindowFixture f;
  QTemporaryDir logs;
  auto radio = velmora::platform::sim::RadioLink::Create();
  radio->SetEcho(false);
  f.directory->Add("COM1", radio->Endpoint());
  f.WriteSettings(SettingsWithLog("COM1", logs.path()));
  MainWindow& window = f.Start();
  QVERIFY(window.Port().Connected());
  f.Type("A\r");
  QTRY_COMPARE(velmora::console::testing::RtsHistory(*radio), QString("+-"));
  window.OnLineErrors(velmora::port::TComErrors{velmora::port::erFrame, velmora::port::erBreak});
  window.SessionLogFile().WriteEvent(QStringLiteral("Таймаут передачи"));  // as the keying adds its own
  window.close();
  const QStringList lines = LoggedLines(logs.path());
  QVERIFY2(InOrder(lines, {"Порт COM1 открыт: ", "RTS поднят", "RTS снят",
                           "Ошибка линии: <Framing Error> <BREAK>", "Таймаут передачи", "Порт COM1 закрыт"}),
           qPrintable(lines.join(u'\n')));
  QVERIFY(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d\d\d  Порт COM1 открыт)").match(lines.value(0)).hasMatch());
  QVERIFY(f.ReadSettings().contains("SessionLog=" + logs.path().toLocal8Bit() + "\n"));
  // Nothing after the close.
  window.SessionLogFile().WriteEvent(QStringLiteral("после"));
  QCOMPARE(LoggedLines(logs.path()), lines);
}

void TestSessionLog::LostAndReturnedDeviceInOneSession() {
  WindowFixture f;
  QTemporaryDir logs;
  QTemporaryDir folder;
  const std::string path = folder.path().toStdString() + "/radio";
  auto device = std::make_shared<velmora::test::FakeDevice>();
  device->Fail("WaitCommEvent", EIO, 1);  // lost right after the first open
  f.directory->Add(path, device);
  f.WriteSettings(SettingsWithLog(QString::fromStdString(path), logs.path()));
  MainWindow& window = f.Start();
  QTRY_VERIFY(window.WaitingForDeviceReturn());
  QVERIFY(QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly));  // the node is back
  QTRY_VERIFY_WITH_TIMEOUT(window.Port().Connected(), 5000);
  window.close();
  const QStringList lines = LoggedLines(logs.path());
  const QString name = QString::fromStdString(path);
  QVERIFY2(InOrder(lines, {"Порт " + name + " открыт", "Устройство " + name + " пропало",
                           "Порт " + name + " открыт", "Устройство " + name + " вернулось",
                           "Порт " + name + " закрыт"}),
           qPrintable(lines.join(u'\n')));
}

void TestSessionLog::WindowTellsAnUnwritableLogOnce() {
  WindowFixture f;
  QTemporaryDir dir;
  const QString notAFolder = dir.filePath("file");
  QFile file(notAFolder);
  QVERIFY(file.open(QIODevice::WriteOnly));
  auto radio = velmora::platform::sim::RadioLink::Create();
  radio->SetEcho(false);
  f.directory->Add("COM1", radio->Endpoint());
  f.WriteSettings(SettingsWithLog("COM1", notAFolder));
  MainWindow& window = f.Start();
  f.Type("AB\r");
  QTRY_COMPARE(velmora::console::testing::RtsHistory(*radio), QString("+-"));
  const QStringList told = f.TransmitPane()->toPlainText().split(u'\n').filter("Журнал сеанса");
  QCOMPARE(told.size(), 1);
  QVERIFY2(told[0].contains(notAFolder + "/velmora-") && told[0].contains("путь проходит не через папку"),
           qPrintable(told[0]));
  QVERIFY(window.Port().Connected());
  QVERIFY(f.boxes.isEmpty());
}

// No key, no log: nothing written anywhere, and the key stays out of the saved file.
void TestSessionLog::SwitchedOffByDefault() {
  WindowFixture f;
  auto radio = velmora::platform::sim::RadioLink::Create();
  f.directory->Add("COM1", radio->Endpoint());
  f.WriteSettings("[ComPort1]\nPort=COM1\n");
  MainWindow& window = f.Start();
  QVERIFY(window.Port().Connected());
  QVERIFY(!window.SessionLogFile().Active());
  window.close();
  QVERIFY(!f.ReadSettings().contains("SessionLog"));
}

// The folder chosen with "…" while the port is open starts the log at once; emptied, it ends it.
void TestSessionLog::SwitchedOnAndOffInTheParametersDialog() {
  using velmora::dialogs::ParametersDialog;
  WindowFixture f;
  QTemporaryDir logs;
  MainWindow& window = f.StartOnRadio();
  QVERIFY(window.Port().Connected());
  QVERIFY(!window.SessionLogFile().Active());

  velmora::dialogs::testing::WhenShown<ParametersDialog>([&](ParametersDialog& d) {
    velmora::dialogs::SessionLogGroup& group = d.SessionLogFolder();
    QVERIFY(group.Folder().isEmpty());
    group.SetChooser([&](const QString& shown) {
      return shown.isEmpty() ? logs.path() : QString();
    });
    group.ChooseButton()->click();
    QCOMPARE(group.FolderField()->text(), logs.path());
    QTest::mouseClick(&velmora::dialogs::testing::ParametersForm(d).OkButton(), Qt::LeftButton);
  });
  f.PortSettingsAction()->trigger();
  QVERIFY(window.SessionLogFile().Active());
  QCOMPARE(window.Options().sessionLogFolder, logs.path());
  QVERIFY(f.ReadSettings().contains("SessionLog=" + logs.path().toLocal8Bit() + "\n"));

  velmora::dialogs::testing::WhenShown<ParametersDialog>([&](ParametersDialog& d) {
    QCOMPARE(d.SessionLogFolder().Folder(), logs.path());
    d.SessionLogFolder().FolderField()->setText("  ");
    QTest::mouseClick(&velmora::dialogs::testing::ParametersForm(d).OkButton(), Qt::LeftButton);
  });
  f.PortSettingsAction()->trigger();
  QVERIFY(!window.SessionLogFile().Active());
  const QStringList lines = LoggedLines(logs.path());
  QVERIFY2(InOrder(lines, {"Журнал сеанса включён", "Журнал сеанса выключен"}), qPrintable(lines.join(u'\n')));
  QVERIFY(f.ReadSettings().contains("SessionLog=\n"));  // kept, empty: off
}

QTEST_MAIN(TestSessionLog)
#include "test_session_log.moc"
