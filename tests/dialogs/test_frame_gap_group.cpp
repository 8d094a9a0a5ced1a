// The frame view's group of the parameters dialog: the value shown and given back, the rule of
// 3.5 characters shown for 0, a stored value past the range shown at its end.
#include "dialogs/frame_gap_group.h"

#include <QSpinBox>
#include <QtTest>

using velmora::dialogs::FrameGapGroup;

class TestFrameGapGroup : public QObject {
  Q_OBJECT

 private slots:
  void showsAndGivesBack_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("the rule") << 0 << 0 << "3,5 символа";
    QTest::newRow("milliseconds") << 20 << 20 << "20";
    QTest::newRow("past the range") << 99999 << 10000 << "10000";
    QTest::newRow("below it") << -3 << 0 << "3,5 символа";
  }
  void showsAndGivesBack() {
    QFETCH(int, stored);
    QFETCH(int, value);
    QFETCH(QString, shown);
    FrameGapGroup group;
    group.Fill(stored);
    QCOMPARE(group.Value(), value);
    QCOMPARE(group.Field()->text(), shown);
  }

  void theOperatorTypesANumber() {
    FrameGapGroup group;
    group.Fill(0);
    group.Field()->selectAll();
    QTest::keyClicks(group.Field(), "35");
    QCOMPARE(group.Value(), 35);
  }
};

QTEST_MAIN(TestFrameGapGroup)
#include "test_frame_gap_group.moc"
