// The four checks against their published check values, as a sender appends them and as a
// receiver judges a frame.
#include "console/checksums.h"

#include <QTest>

using namespace velmora::console;

Q_DECLARE_METATYPE(CheckKind)

namespace {

QByteArray Bytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

class ChecksumsTest : public QObject {
  Q_OBJECT

 private slots:
  void checkValuesOfTheCatalogue() {
    // "123456789" is the catalogue's check input; its sum is 0x1DD.
    constexpr std::string_view kCheck = "123456789";
    QCOMPARE(Crc16Modbus(kCheck), uint16_t{0x4B37});
    QCOMPARE(Lrc8(kCheck), uint8_t{0x23});
    QCOMPARE(Xor8(kCheck), uint8_t{0x31});
    QCOMPARE(Sum8(kCheck), uint8_t{0xDD});
    QCOMPARE(Crc16Modbus(""), uint16_t{0xFFFF});
  }

  void appendedAsTheProtocolSendsIt_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<CheckKind>("kind");
    QTest::addColumn<QByteArray>("sent");
    const QByteArray read_one = QByteArray::fromHex("010300000001");
    // The Modbus RTU read of one holding register, as every Modbus tool shows it.
    QTest::newRow("crc16 low byte first") << read_one << CheckKind::kCrc16Modbus
                                          << QByteArray::fromHex("010300000001840A");
    QTest::newRow("crc16 of a zero byte") << QByteArray(1, '\0') << CheckKind::kCrc16Modbus
                                          << QByteArray::fromHex("00BF40");
    // Modbus ASCII: the sum is over the bytes the hex pairs stand for, not their characters.
    QTest::newRow("lrc of a Modbus ASCII frame") << QByteArray(":010300000001") << CheckKind::kLrc
                                                 << QByteArray(":010300000001FB\r\n");
    QTest::newRow("lrc before the frame's own CR LF")
        << QByteArray(":F7031389000A\r\n") << CheckKind::kLrc << QByteArray(":F7031389000A60\r\n");
    QTest::newRow("lrc of raw bytes") << QByteArray("AB") << CheckKind::kLrc << QByteArray("AB7D\r\n");
    QTest::newRow("lrc of a colon frame that is not hex") << QByteArray(":AZ") << CheckKind::kLrc
                                                          << QByteArray(":AZ2B\r\n");
    QTest::newRow("xor") << read_one << CheckKind::kXor << QByteArray::fromHex("01030000000103");
    QTest::newRow("sum8 wraps") << QByteArray::fromHex("FF02") << CheckKind::kSum8
                                << QByteArray::fromHex("FF0201");
    QTest::newRow("none") << read_one << CheckKind::kNone << read_one;
  }

  void appendedAsTheProtocolSendsIt() {
    QFETCH(QByteArray, frame);
    QFETCH(CheckKind, kind);
    QFETCH(QByteArray, sent);
    QCOMPARE(Bytes(AppendCheck(frame.toStdString(), kind)), sent);
  }

  void settingsWordsGoBothWays() {
    for (const CheckKind kind : {CheckKind::kNone, CheckKind::kCrc16Modbus, CheckKind::kLrc,
                                 CheckKind::kXor, CheckKind::kSum8})
      QCOMPARE(ParseCheckKindKey(CheckKindKey(kind)), std::optional(kind));
    QCOMPARE(CheckKindKey(CheckKind::kCrc16Modbus), std::string_view("crc16"));
    QVERIFY(!ParseCheckKindKey("CRC16").has_value());
    QVERIFY(!ParseCheckKindKey("").has_value());
  }

  void receivedFramesAreJudged() {
    const std::string good = AppendCheck(QByteArray::fromHex("010300000001").toStdString(),
                                         CheckKind::kCrc16Modbus);
    QVERIFY(EndsWithValidCrc16Modbus(good));
    std::string damaged = good;
    damaged[2] ^= 0x01;
    QVERIFY(!EndsWithValidCrc16Modbus(damaged));
    QVERIFY(!EndsWithValidCrc16Modbus(std::string("\xFF\xFF", 2)));  // no room for a frame

    QCOMPARE(ModbusAsciiLrcMatches(":010300000001FB\r\n"), std::optional(true));
    QCOMPARE(ModbusAsciiLrcMatches(":010300000001fb"), std::optional(true));
    QCOMPARE(ModbusAsciiLrcMatches(":010300000002FB\r\n"), std::optional(false));
    QCOMPARE(ModbusAsciiLrcMatches("010300000001FB\r\n"), std::nullopt);  // no colon
    QCOMPARE(ModbusAsciiLrcMatches(":0103000000010\r\n"), std::nullopt);  // odd count
    QCOMPARE(ModbusAsciiLrcMatches(":01G3\r\n"), std::nullopt);
    QCOMPARE(ModbusAsciiLrcMatches(":FF\r\n"), std::nullopt);  // too short to hold a check
  }
};

QTEST_GUILESS_MAIN(ChecksumsTest)
#include "test_checksums.moc"
