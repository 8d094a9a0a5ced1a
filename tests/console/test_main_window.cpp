#include "console/main_window.h"

#include <QtTest>

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void opensTitledVelmora() {
    velmora::console::TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QString("Velmora"));
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
