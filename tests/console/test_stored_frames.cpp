// The frames on F1–F12 as the settings file keeps them: what reads, what is refused and why.
#include "console/stored_frames.h"

#include <QTemporaryDir>
#include <QTest>

#include "port/ini_file.h"

using namespace velmora::console;

class StoredFramesTest : public QObject {
  Q_OBJECT

 private slots:
  void aFileRoundTrip() {
    QTemporaryDir dir;
    velmora::port::IniFile ini((dir.path() + "/ZORVA.INI").toStdString());
    StoredFrames frames;
    frames[0] = {"Опрос счётчика", SendMode::kHex, CheckKind::kCrc16Modbus, 500, "01 03 00 00 00 01"};
    // The line comes last: its ';' and '=' are its own.
    frames[4] = {"AT", SendMode::kText, CheckKind::kNone, 0, R"(AT;E0=1\r)"};
    frames[11] = {"", SendMode::kText, CheckKind::kLrc, 0, ":010300000001"};
    WriteStoredFrames(ini, frames);
    QCOMPARE(QByteArray::fromStdString(ini.ReadString("Frames", "F5", "")),
             QByteArray(R"(AT;text;none;0;AT;E0=1\r)"));
    QVERIFY(!ini.ValueExists("Frames", "F2"));  // a free key adds nothing to the file
    QStringList problems;
    QCOMPARE(ReadStoredFrames(ini, &problems), frames);
    QVERIFY(problems.isEmpty());

    frames[0] = {};  // freed in the dialog: the key stays, empty
    WriteStoredFrames(ini, frames);
    QCOMPARE(ReadStoredFrames(ini, &problems), frames);
    QVERIFY(problems.isEmpty());
  }

  void refusedValuesLeaveTheKeyFree_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("says");
    QTest::newRow("too few fields") << QByteArray("a;text;none;0") << "имя;режим";
    QTest::newRow("unknown mode") << QByteArray("a;HEX;none;0;01") << "режим";
    QTest::newRow("unknown check") << QByteArray("a;hex;crc32;0;01") << "контроль";
    QTest::newRow("negative period") << QByteArray("a;hex;none;-5;01") << "период";
    QTest::newRow("period not a number") << QByteArray("a;hex;none;1s;01") << "период";
    QTest::newRow("period beyond a day") << QByteArray("a;hex;none;86400001;01") << "период";
    QTest::newRow("line that does not read") << QByteArray("a;hex;none;0;01 0G") << "«G»";
  }

  void refusedValuesLeaveTheKeyFree() {
    QFETCH(QByteArray, value);
    QFETCH(QString, says);
    QTemporaryDir dir;
    velmora::port::IniFile ini((dir.path() + "/ZORVA.INI").toStdString());
    ini.WriteString("Frames", "F3", value.toStdString());
    ini.WriteString("Frames", "F4", "ok;hex;xor;0;01");
    QStringList problems;
    const StoredFrames frames = ReadStoredFrames(ini, &problems);
    QVERIFY(frames[2].Empty());
    QCOMPARE(frames[3].line, QString("01"));  // the others read all the same
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems[0].startsWith("Ключ F3 раздела [Frames]"), qPrintable(problems[0]));
    QVERIFY2(problems[0].contains(says), qPrintable(problems[0]));
  }

  void whatCannotBeStored() {
    QVERIFY(StoredFrameProblem({"a;b", SendMode::kText, CheckKind::kNone, 0, "x"}).contains("имени"));
    // The file would trim it away.
    QVERIFY(!StoredFrameProblem({"a", SendMode::kText, CheckKind::kNone, 0, "AT "}).isEmpty());
    QVERIFY(StoredFrameProblem({"a", SendMode::kText, CheckKind::kNone, 0, R"(AT\x20)"}).isEmpty());
    QVERIFY(StoredFrameProblem({"a", SendMode::kHex, CheckKind::kNone, 0, "01 "}).isEmpty());
  }
};

QTEST_GUILESS_MAIN(StoredFramesTest)
#include "test_stored_frames.moc"
