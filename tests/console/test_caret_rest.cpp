// The caret rests (stops blinking, stays shown) after a while without input and blinks again at
// the next key, click or focus change; the desktop's own flash time comes back unchanged.
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyleHints>
#include <QTest>

#include "console/caret_rest.h"

using velmora::console::CaretRest;
using namespace std::chrono_literals;

class CaretRestTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QGuiApplication::styleHints()->setCursorFlashTime(1000); }

  void restsAfterTheDelayAndWakesAtAnyInput_data() {
    QTest::addColumn<int>("input");
    QTest::newRow("key press") << 0;
    QTest::newRow("mouse press") << 1;
    QTest::newRow("focus change") << 2;
  }

  void restsAfterTheDelayAndWakesAtAnyInput() {
    QFETCH(int, input);
    QWidget window;
    auto* pane = new QPlainTextEdit(&window);
    auto* other = new QLineEdit(&window);
    pane->move(0, 0);
    other->move(0, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    pane->setFocus();
    CaretRest rest(nullptr, 100ms);
    QTRY_VERIFY_WITH_TIMEOUT(rest.Resting(), 2000);
    QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), 0);

    if (input == 0) QTest::keyClick(pane, Qt::Key_A);
    if (input == 1) QTest::mouseClick(pane->viewport(), Qt::LeftButton);
    if (input == 2) other->setFocus();
    QVERIFY(!rest.Resting());
    QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), 1000);
    // And rests again once input stops.
    QTRY_VERIFY_WITH_TIMEOUT(rest.Resting(), 2000);
  }

  void inputKeepsItAwake() {
    QPlainTextEdit pane;
    pane.show();
    CaretRest rest(nullptr, 300ms);
    for (int i = 0; i < 10; ++i) {
      QTest::keyClick(&pane, Qt::Key_B);
      QTest::qWait(50);
      QVERIFY(!rest.Resting());
    }
  }

  void goingAwayGivesTheDesktopItsFlashTimeBack() {
    {
      CaretRest rest(nullptr, 10ms);
      QTRY_VERIFY_WITH_TIMEOUT(rest.Resting(), 2000);
    }
    QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), 1000);
  }

  void aDesktopWithoutBlinkingIsLeftAlone() {
    QGuiApplication::styleHints()->setCursorFlashTime(0);
    CaretRest rest(nullptr, 10ms);
    QTest::qWait(100);
    QVERIFY(!rest.Resting());
    QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), 0);
  }
};

QTEST_MAIN(CaretRestTest)
#include "test_caret_rest.moc"
