// The launcher and the file queries, with a small script as the started program: it records
// its working directory and its arguments, one per line in brackets.
#include "dialogs/launcher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "dialogs/shell_words.h"

using velmora::dialogs::EOSError;
using velmora::dialogs::FileSize64;
using velmora::dialogs::PathExists;
using velmora::dialogs::SplitShellWords;
using velmora::dialogs::TLauncher;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(content), content.size());
}

}  // namespace

class LauncherTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    // Blanks in the recorder's own path: the launcher must not split it either.
    QVERIFY(QDir(root_.path()).mkpath("viewer bin"));
    QVERIFY(QDir(root_.path()).mkpath("my data"));
    recorder_ = root_.path() + "/viewer bin/record viewer";
    record_ = root_.path() + "/record.txt";
    WriteFile(recorder_,
              "#!/bin/sh\n"
              "{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > '" +
                  QFile::encodeName(record_) + ".part'\n"
              "mv '" + QFile::encodeName(record_) + ".part' '" + QFile::encodeName(record_) +
                  "'\n"
              "exit 7\n");
    QVERIFY(QFile::setPermissions(recorder_, QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadGroup |
                                                 QFile::ExeGroup));
  }
  void init() { QFile::remove(record_); }

  // --- Exec -------------------------------------------------------------------------------

  void execPassesTheParameterAsOneArgumentInTheDirectory_data() {
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QByteArray>("arguments");
    QTest::newRow("a name with a blank") << "log file.txt" << QByteArray("[log file.txt]\n");
    QTest::newRow("quotes and shell characters")
        << "it's \"$HOME\"; `x` *.txt" << QByteArray("[it's \"$HOME\"; `x` *.txt]\n");
    QTest::newRow("Cyrillic") << "журнал.txt" << QByteArray("[журнал.txt]\n");
    QTest::newRow("no parameters") << "" << QByteArray();
  }
  void execPassesTheParameterAsOneArgumentInTheDirectory() {
    QFETCH(QString, parameters);
    QFETCH(QByteArray, arguments);
    const QString directory = root_.path() + "/my data";
    TLauncher launcher;
    QVERIFY(launcher.Exec(recorder_, parameters, directory));
    QTRY_VERIFY(QFile::exists(record_));
    QCOMPARE(ReadAll(record_), QFile::encodeName(directory) + "\n" + arguments);
  }

  void execFindsAProgramByName() {
    // "sh" from PATH, given the recorder as its one argument.
    TLauncher launcher;
    QVERIFY(launcher.Exec("sh", recorder_, root_.path()));
    QTRY_VERIFY(QFile::exists(record_));
    QCOMPARE(ReadAll(record_), QFile::encodeName(root_.path()) + "\n");
  }

  void execThatCannotStartStartsNothingAndRaisesNothing_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("directory");
    QTest::newRow("empty program") << "" << root_.path();
    QTest::newRow("no such program") << root_.path() + "/no such viewer" << root_.path();
    QTest::newRow("no such directory") << recorder_ << root_.path() + "/gone";
    QTest::newRow("not executable") << record_ + ".txt" << root_.path();
  }
  void execThatCannotStartStartsNothingAndRaisesNothing() {
    QFETCH(QString, program);
    QFETCH(QString, directory);
    WriteFile(record_ + ".txt", "text");
    TLauncher launcher;
    QVERIFY(!launcher.Exec(program, "x.txt", directory));
    QTest::qWait(100);
    QVERIFY(!QFile::exists(record_));
  }

  // --- ExecuteAndWait ---------------------------------------------------------------------

  void executeAndWaitSplitsLikeAShellAndWaits_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("recorded");
    QTest::newRow("plain words") << "a b  c" << QByteArray("[a]\n[b]\n[c]\n");
    QTest::newRow("quoted blanks") << "'log file.txt' \"x y\"" << QByteArray("[log file.txt]\n[x y]\n");
    QTest::newRow("no shell: separators, variables, globs stay text")
        << "a;touch gone $HOME * >out" << QByteArray("[a;touch]\n[gone]\n[$HOME]\n[*]\n[>out]\n");
    QTest::newRow("empty quoted word") << "'' x" << QByteArray("[]\n[x]\n");
  }
  void executeAndWaitSplitsLikeAShellAndWaits() {
    QFETCH(QString, arguments);
    QFETCH(QByteArray, recorded);
    TLauncher launcher;
    const QString quotedRecorder = "'" + recorder_ + "'";
    QCOMPARE(launcher.ExecuteAndWait(quotedRecorder + " " + arguments, 1), 7);
    // Waited: the record is there the moment the call returns.
    QCOMPARE(ReadAll(record_), QFile::encodeName(QDir::currentPath()) + "\n" + recorded);
    QVERIFY(!QFile::exists(QDir::current().filePath("out")));
  }

  // Far past the 512 characters of the line buffer of old: every word arrives whole.
  void executeAndWaitTakesACommandLineOfAnyLength() {
    QStringList words;
    for (int i = 0; i < 300; ++i) words << QString(1000, QChar(u'a' + i % 26));
    words << QString(100000, u'z');
    TLauncher launcher;
    QCOMPARE(launcher.ExecuteAndWait("'" + recorder_ + "' " + words.join(u' ')), 7);
    QByteArray expected = QFile::encodeName(QDir::currentPath()) + "\n";
    for (const QString& word : words) expected += "[" + word.toLatin1() + "]\n";
    QCOMPARE(ReadAll(record_), expected);
  }

  // One argument longer than the system takes (128 KiB): refused by the system, nothing runs.
  void executeAndWaitWithAnArgumentTooLongForTheSystem() {
    TLauncher launcher;
    QCOMPARE(launcher.ExecuteAndWait("'" + recorder_ + "' " + QString(300000, u'x')), -1);
    QVERIFY(!QFile::exists(record_));
  }

  void executeAndWaitWithNoProgramReturnsAtOnce_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "  \t ";
    QTest::newRow("empty quoted name") << "'' a";
    QTest::newRow("no such program") << "/no/such/program a b";
    QTest::newRow("open quote") << "'" + recorder_ + "' 'unfinished";
  }
  void executeAndWaitWithNoProgramReturnsAtOnce() {
    QFETCH(QString, commandLine);
    QElapsedTimer clock;
    clock.start();
    TLauncher launcher;
    QCOMPARE(launcher.ExecuteAndWait(commandLine), -1);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!QFile::exists(record_));
  }

  void shellWordSplitting_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("blanks of every kind") << " a\tb\nc  " << QStringList{"a", "b", "c"};
    QTest::newRow("single quotes keep backslashes") << "'a\\ b' c" << QStringList{"a\\ b", "c"};
    QTest::newRow("double quotes: a backslash escapes only some") << "\"a\\\"b\\\\c\\$d\\`e\\x\""
                                               << QStringList{"a\"b\\c$d`e\\x"};
    QTest::newRow("backslash outside quotes") << "a\\ b \\'c" << QStringList{"a b", "'c"};
    QTest::newRow("adjacent parts make one word") << "a'b c'\"d e\"f" << QStringList{"ab cd ef"};
    QTest::newRow("line continuation") << "a\\\nb" << QStringList{"ab"};
    QTest::newRow("trailing backslash") << "a\\" << QStringList{"a\\"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("two empty words") << "'' \"\"" << QStringList{"", ""};
  }
  void shellWordSplitting() {
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    const std::optional<QStringList> split = SplitShellWords(line);
    QVERIFY(split.has_value());
    QCOMPARE(*split, words);
  }

  void openQuotesAreRefused() {
    QVERIFY(!SplitShellWords("a 'b").has_value());
    QVERIFY(!SplitShellWords("a \"b\\\"").has_value());
  }

  // --- file queries -----------------------------------------------------------------------

  void pathExists_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");
    QTest::newRow("directory") << root_.path() << true;
    QTest::newRow("directory with a trailing slash") << root_.path() + "/" << true;
    QTest::newRow("file") << recorder_ << true;
    QTest::newRow("device") << "/dev/null" << true;
    QTest::newRow("link leading nowhere") << root_.path() + "/dangling" << true;
    QTest::newRow("missing file") << root_.path() + "/missing.txt" << false;
    QTest::newRow("below a missing directory") << root_.path() + "/no/such/file" << false;
    QTest::newRow("below a file") << recorder_ + "/x" << false;
    QTest::newRow("empty") << "" << false;
  }
  void pathExists() {
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QFile::link(root_.path() + "/nowhere", root_.path() + "/dangling");
    QCOMPARE(PathExists(path), exists);
  }

  void fileSize64_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::newRow("empty file") << "empty.bin" << qint64(0);
    QTest::newRow("three bytes") << "three.bin" << qint64(3);
    QTest::newRow("5 GiB (sparse)") << "big.bin" << qint64(5) * 1024 * 1024 * 1024;
    QTest::newRow("directory") << "my data" << qint64(0);
  }
  void fileSize64() {
    QFETCH(QString, name);
    QFETCH(qint64, size);
    const QString path = root_.path() + "/" + name;
    if (!QFileInfo(path).isDir()) {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.resize(size));
    }
    QCOMPARE(FileSize64(path), static_cast<uint64_t>(size));
  }

  void fileSize64OfAMissingFileRaisesCode2() {
    try {
      FileSize64(root_.path() + "/missing.txt");
      QFAIL("no error");
    } catch (const EOSError& e) {
      QCOMPARE(e.ErrorCode(), 2);
      QCOMPARE(QString::fromLocal8Bit(e.what()),
               QStringLiteral("System Error.  Code: 2.\r\nNo such file or directory"));
    }
    QVERIFY_THROWS_EXCEPTION(EOSError, FileSize64(""));
  }

  void errorWithoutASystemNumber() {
    QCOMPARE(QString::fromLatin1(EOSError(0).what()), QStringLiteral("A call to an OS function failed"));
  }

 private:
  QTemporaryDir root_;
  QString recorder_;
  QString record_;
};

QTEST_GUILESS_MAIN(LauncherTest)
#include "test_launcher.moc"
