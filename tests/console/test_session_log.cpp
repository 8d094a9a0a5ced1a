// The session log's files: one per day whatever order the lines come in, appended to, a file it
// cannot write told once with its path and reason; and the window's events in it.
#include "console/session_log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using velmora::console::SessionLog;

namespace {

QDateTime At(const char* text) { return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs); }

QStringList FileLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {QStringLiteral("<no file %1>").arg(path)};
  QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
  if (lines.last().isEmpty()) lines.removeLast();
  return lines;
}

}  // namespace

class TestSessionLog : public QObject {
  Q_OBJECT

 private slots:
  void LinesGoToTheDayOfTheirTime();
  void FileIsAppendedToAcrossSessions();
  void NothingOutsideASession();
  void UnwritableFileToldOnceAndTheSessionGoesOn_data();
  void UnwritableFileToldOnceAndTheSessionGoesOn();
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

QTEST_MAIN(TestSessionLog)
#include "test_session_log.moc"
