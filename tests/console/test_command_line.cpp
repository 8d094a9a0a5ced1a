#include "console/command_line.h"

#include <QtTest>

using namespace velmora::console;

class TestCommandLine : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QCoreApplication::setApplicationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
  }

  void noArgumentsStartTheWindow() {
    const CommandLineReply reply = ReadCommandLine({QStringLiteral("/usr/bin/velmora")});
    QVERIFY(reply.startWindow);
    QVERIFY(reply.output.isEmpty());
    QVERIFY(reply.error.isEmpty());
  }

  void printingOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");  // the first line of what is printed
    QTest::newRow("--version") << QStringList{"--version"} << "velmora 9.8.7";
    QTest::newRow("-v") << QStringList{"-v"} << "velmora 9.8.7";
    QTest::newRow("--help") << QStringList{"--help"} << "Usage: velmora [-h | --help] [-v | --version]";
    QTest::newRow("-h") << QStringList{"-h"} << "Usage: velmora [-h | --help] [-v | --version]";
    QTest::newRow("help wins over version")
        << QStringList{"-v", "--help"} << "Usage: velmora [-h | --help] [-v | --version]";
    QTest::newRow("option repeated") << QStringList{"--version", "--version"} << "velmora 9.8.7";
  }
  void printingOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    const CommandLineReply reply = ReadCommandLine(QStringList{"velmora"} + arguments);
    QVERIFY(!reply.startWindow);
    QCOMPARE(reply.exitCode, 0);
    QCOMPARE(reply.output.section(QLatin1Char('\n'), 0, 0), output);
    QVERIFY(reply.output.endsWith(QLatin1Char('\n')));
    QVERIFY(reply.error.isEmpty());
  }

  void helpNamesOptionsAndSettingsFile() {
    const QString help = ReadCommandLine({"velmora", "--help"}).output;
    QVERIFY(help.contains("--version"));
    QVERIFY(help.contains("ZORVA.INI"));
    QVERIFY(help.contains("velmora(1)"));
    QVERIFY2(!help.contains("--help-all"), "Qt's own options are refused, so help must not offer them");
    // What a new operator trips over: Enter sends nothing until a line ending is chosen, the
    // file is written at close, and the state words, the lost device's two included.
    QVERIFY(help.contains("После ENTER посылать"));
    QVERIFY(help.contains("window closes"));
    for (const char* word : {"ОЖИДАНИЕ", "ПЕРЕДАЧА", "ПРИЕМ", "ТАЙМАУТ", "ОШИБКА", "НЕТ ПОРТА", "ВОССТАНОВЛЕН"})
      QVERIFY2(help.contains(QString::fromUtf8(word)), word);
  }

  void otherArgumentsRefused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");  // what the message must quote
    QTest::newRow("unknown long option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("unknown short option") << QStringList{"-x"} << "x";
    QTest::newRow("a file name") << QStringList{"capture.txt"} << "capture.txt";
    QTest::newRow("Qt's platform option") << QStringList{"-platform", "offscreen"} << "'platform'";
    QTest::newRow("short options run together") << QStringList{"-hv"} << "'hv'";
    QTest::newRow("value given to a switch") << QStringList{"--version=2"} << "version";
    QTest::newRow("known option, then a stray word") << QStringList{"--version", "now"} << "now";
    QTest::newRow("stray word, then a known option") << QStringList{"now", "--help"} << "now";
    QTest::newRow("bare double dash") << QStringList{"--"} << "--";
    QTest::newRow("an option after double dash") << QStringList{"--", "--help"} << "--help";
    QTest::newRow("empty argument") << QStringList{""} << "''";
    QTest::newRow("Cyrillic word") << QStringList{"порт"} << "порт";
  }
  void otherArgumentsRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const CommandLineReply reply = ReadCommandLine(QStringList{"velmora"} + arguments);
    QVERIFY(!reply.startWindow);
    QCOMPARE(reply.exitCode, 2);
    QVERIFY(reply.output.isEmpty());
    QVERIFY2(reply.error.startsWith("velmora: "), qPrintable(reply.error));
    QVERIFY2(reply.error.contains(named), qPrintable(reply.error));
    QVERIFY2(reply.error.contains("Usage: velmora [-h | --help] [-v | --version]"), qPrintable(reply.error));
    QCOMPARE(reply.error.count(QLatin1Char('\n')), 1);
    QVERIFY(reply.error.endsWith(QLatin1Char('\n')));
  }

  void argumentsOfKeepsEveryWord() {
    const char* argv[] = {"velmora", "--help", "порт", ""};
    QCOMPARE(ArgumentsOf(4, argv), (QStringList{"velmora", "--help", "порт", ""}));
  }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
