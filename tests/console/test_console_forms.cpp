#include "console/display_forms.h"

#include <QtTest>

#include "console/counter_arithmetic.h"
#include "console/cp1251.h"

using namespace velmora::console;

class TestConsoleForms : public QObject {
  Q_OBJECT

 private slots:
  void hexAndBinaryForms_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("bin");
    QTest::newRow("empty") << QByteArray() << "" << "";
    QTest::newRow("A CR LF") << QByteArray("A\r\n") << "41.0D.0A."
                             << "01000001.00001101.00001010.";
    QTest::newRow("NUL keeps its digits") << QByteArray(1, '\0') << "00." << "00000000.";
    QTest::newRow("high bytes") << QByteArray("\xFF\x80\x05") << "FF.80.05."
                                << "11111111.10000000.00000101.";
  }
  void hexAndBinaryForms() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, hex);
    QFETCH(QString, bin);
    const std::string text(bytes.constData(), static_cast<size_t>(bytes.size()));
    QCOMPARE(QString::fromStdString(ToHexText(text)), hex);
    QCOMPARE(QString::fromStdString(ToBinText(text)), bin);
  }

  void byteToBinMostSignificantFirst() {
    QCOMPARE(ByteToBin(0x41), std::string("01000001"));
    QCOMPARE(ByteToBin(5), std::string("00000101"));
    QCOMPARE(ByteToBin(0x80), std::string("10000000"));
  }

  void cp1251Characters_data() {
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("byte");  // -1: the code page has no such character
    QTest::newRow("ASCII letter") << "A" << 0x41;
    QTest::newRow("backspace") << "\b" << 8;
    QTest::newRow("first capital") << "А" << 0xC0;
    QTest::newRow("last small") << "я" << 0xFF;
    QTest::newRow("capital Yo") << "Ё" << 0xA8;
    QTest::newRow("small yo") << "ё" << 0xB8;
    QTest::newRow("numero") << "№" << 0xB9;
    QTest::newRow("euro") << "€" << 0x88;
    QTest::newRow("Ukrainian Ghe") << "Ґ" << 0xA5;
    QTest::newRow("no-break space") << "\u00A0" << 0xA0;
    QTest::newRow("Latin e acute") << "é" << -1;
    QTest::newRow("Han") << "中" << -1;
    QTest::newRow("Greek alpha") << "α" << -1;
  }
  void cp1251Characters() {
    QFETCH(QString, character);
    QFETCH(int, byte);
    const std::optional<uint8_t> encoded = UnicodeToCp1251(character.at(0).unicode());
    if (byte < 0) {
      QVERIFY(!encoded);
      return;
    }
    QVERIFY(encoded);
    QCOMPARE(int(*encoded), byte);
    QCOMPARE(Cp1251ToUnicode(static_cast<uint8_t>(byte)), character.at(0).unicode());
  }

  void textEncodesOneBytePerCharacter() {
    QCOMPARE(EncodeCp1251(u"Привет, №1"), std::string("\xCF\xF0\xE8\xE2\xE5\xF2, \xB9" "1"));
    QCOMPARE(EncodeCp1251(u"a中b"), std::string("a?b"));  // no byte for it
    QCOMPARE(EncodeCp1251(u""), std::string());
  }

  // The traffic counters wrap past their largest value instead of overflowing.
  void countersWrap_data() {
    QTest::addColumn<int>("counter");
    QTest::addColumn<uint>("amount");
    QTest::addColumn<int>("result");
    QTest::newRow("plain") << 5 << 3u << 8;
    QTest::newRow("one past the largest") << INT32_MAX << 1u << INT32_MIN;
    QTest::newRow("a chunk across it") << INT32_MAX - 1 << 4u << INT32_MIN + 2;
    QTest::newRow("from negative to zero") << -2 << 2u << 0;
  }
  void countersWrap() {
    QFETCH(int, counter);
    QFETCH(uint, amount);
    QFETCH(int, result);
    QCOMPARE(AddWrapping(counter, amount), result);
  }

  void everyByteDecodesAndEncodesBack() {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const QString decoded = DecodeCp1251(all);
    QCOMPARE(decoded.size(), qsizetype(256));
    for (int b = 0; b < 256; ++b) {
      const std::optional<uint8_t> back = UnicodeToCp1251(decoded.at(b).unicode());
      QVERIFY2(back && *back == b, qPrintable(QString::number(b, 16)));
    }
    QString appended = QStringLiteral("x");
    AppendDecodedCp1251(appended, "\xCF\xF0\xE8");
    QCOMPARE(appended, QStringLiteral("xПри"));
  }
};

QTEST_APPLESS_MAIN(TestConsoleForms)
#include "test_console_forms.moc"
