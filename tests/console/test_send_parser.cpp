// What a line of the send line sends, in text and in hex, and what it refuses.
#include "console/send_parser.h"

#include <QTest>

using namespace velmora::console;

Q_DECLARE_METATYPE(SendMode)

class SendParserTest : public QObject {
  Q_OBJECT

 private slots:
  void readLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<SendMode>("mode");
    QTest::addColumn<QByteArray>("bytes");
    const SendMode text = SendMode::kText;
    const SendMode hex = SendMode::kHex;
    QTest::newRow("plain text") << "AT+CSQ" << text << QByteArray("AT+CSQ");
    QTest::newRow("escapes") << R"(a\r\n\tb\\)" << text << QByteArray("a\r\n\tb\\");
    QTest::newRow("\\x any case, control bytes and zero")
        << R"(\x00\x1b\xFf\x7f)" << text << QByteArray::fromHex("001BFF7F");
    QTest::newRow("\\x takes two digits only") << R"(\x414)" << text << QByteArray("A4");
    QTest::newRow("Cyrillic as CP1251") << "Ая" << text << QByteArray::fromHex("C0FF");
    QTest::newRow("empty text") << "" << text << QByteArray();
    QTest::newRow("hex spaced") << "01 03 00 00 00 01" << hex << QByteArray::fromHex("010300000001");
    QTest::newRow("hex packed") << "010300000001" << hex << QByteArray::fromHex("010300000001");
    QTest::newRow("hex mixed, blanks and tabs around") << " \t0103 00\t000001  " << hex
                                                       << QByteArray::fromHex("010300000001");
    QTest::newRow("hex lower case") << "ab cd" << hex << QByteArray::fromHex("ABCD");
    QTest::newRow("hex single digits") << "1 3 F" << hex << QByteArray::fromHex("01030F");
    QTest::newRow("hex 0x groups") << "0x01 0X0300" << hex << QByteArray::fromHex("010300");
    QTest::newRow("hex blank") << "   " << hex << QByteArray();
    // The mode decides: a hex-looking text is its characters, a backslash in text is an escape.
    QTest::newRow("hex digits as text") << "0103" << text << QByteArray("0103");
  }

  void readLines() {
    QFETCH(QString, line);
    QFETCH(SendMode, mode);
    QFETCH(QByteArray, bytes);
    const ParsedLine parsed = ParseSendLine(line, mode);
    QVERIFY2(parsed.Ok(), qPrintable(parsed.error));
    QCOMPARE(QByteArray::fromStdString(parsed.bytes), bytes);
  }

  void refusedWithThePlace_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<SendMode>("mode");
    QTest::addColumn<QString>("says");
    const SendMode text = SendMode::kText;
    const SendMode hex = SendMode::kHex;
    QTest::newRow("unknown escape") << R"(ab\q)" << text << "\\q (позиция 3)";
    QTest::newRow("backslash at the end") << R"(ab\)" << text << "(позиция 3)";
    QTest::newRow("\\x without digits") << R"(\x)" << text << "\\x (позиция 1)";
    QTest::newRow("\\x with one digit") << R"(a\x4)" << text << "\\x (позиция 2)";
    QTest::newRow("\\x with a non-digit") << R"(\xG1)" << text << "\\x (позиция 1)";
    QTest::newRow("no CP1251 byte") << "a€→" << text << "«→» (позиция 3)";
    QTest::newRow("hex non-digit") << "01 0G" << hex << "«G» (позиция 5)";
    QTest::newRow("hex odd group") << "01 030" << hex << "«030» (позиция 4)";
    QTest::newRow("hex bare 0x") << "01 0x" << hex << "0x (позиция 4)";
    QTest::newRow("hex separator not a blank") << "01,03" << hex << "«,» (позиция 3)";
  }

  void refusedWithThePlace() {
    QFETCH(QString, line);
    QFETCH(SendMode, mode);
    QFETCH(QString, says);
    const ParsedLine parsed = ParseSendLine(line, mode);
    QVERIFY(!parsed.Ok());
    QVERIFY2(parsed.error.contains(says), qPrintable(parsed.error));
    QVERIFY(parsed.bytes.empty());  // nothing of a refused line goes out
  }

  void settingsWords() {
    QCOMPARE(ParseSendModeKey(SendModeKey(SendMode::kHex)), std::optional(SendMode::kHex));
    QCOMPARE(ParseSendModeKey(SendModeKey(SendMode::kText)), std::optional(SendMode::kText));
    QVERIFY(!ParseSendModeKey("HEX").has_value());
  }
};

QTEST_GUILESS_MAIN(SendParserTest)
#include "test_send_parser.moc"
