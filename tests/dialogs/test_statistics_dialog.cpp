// The statistics dialog through its entry point, driven by keys and clicks inside its modal run.
#include "dialogs/statistics_dialog.h"

#include <climits>

#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "dialog_roles.h"
#include "modal_driver.h"
#include "tests/console/window_fixture.h"

using velmora::dialogs::ExecuteStatForm;
using velmora::dialogs::TrafficCounters;
using velmora::dialogs::testing::PressAccessKey;
using velmora::dialogs::testing::StatisticsForm;
using velmora::dialogs::testing::WhenModal;

namespace {

class FakeCounters final : public TrafficCounters {
 public:
  Figures figures;
  int resets = 0;
  Figures CounterFigures() const override { return figures; }
  void ResetCounters() override {
    figures = {};
    ++resets;
  }
};

QStringList Figures(QDialog* dialog) {
  const StatisticsForm form(*dialog);
  return {form.ReceivedFigure().text(), form.TransmittedFigure().text(), form.PortErrorsFigure().text(),
          form.OverflowsFigure().text()};
}

}  // namespace

class StatisticsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { owner_.show(); }

  void showsTheCountersWithTheirUnits_data() {
    QTest::addColumn<int>("rx");
    QTest::addColumn<int>("tx");
    QTest::addColumn<int>("lineErrors");
    QTest::addColumn<int>("bufferWarnings");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("fresh") << 0 << 0 << 0 << 0
                           << QStringList{"0 байт", "0 байт", "0", "0"};
    QTest::newRow("1234 received") << 1234 << 7 << 3 << 1
                                   << QStringList{"1234 байт", "7 байт", "3", "1"};
    QTest::newRow("no grouping, signed 32 bits")
        << INT_MAX << INT_MIN << 1000000 << INT_MAX
        << QStringList{"2147483647 байт", "-2147483648 байт", "1000000", "2147483647"};
  }
  void showsTheCountersWithTheirUnits() {
    QFETCH(int, rx);
    QFETCH(int, tx);
    QFETCH(int, lineErrors);
    QFETCH(int, bufferWarnings);
    QFETCH(QStringList, shown);
    FakeCounters counters;
    counters.figures = {rx, tx, lineErrors, bufferWarnings};
    QStringList seen;
    bool figuresFit = false;
    WhenModal([&](QDialog* dialog) {
      seen = Figures(dialog);
      figuresFit = true;
      for (auto* label : dialog->findChildren<QLabel*>())
        figuresFit = figuresFit && label->width() >= label->sizeHint().width();
      dialog->reject();
    });
    ExecuteStatForm(&owner_, counters);
    QCOMPARE(seen, shown);
    QVERIFY2(figuresFit, "a label is cut short");
    QCOMPARE(counters.resets, 0);
  }

  void looksAsDrawn() {
    FakeCounters counters;
    QString title;
    QStringList groups, captions;
    QSize size;
    QPoint place;
    QRect screenArea;
    QString focused, closeButton;
    WhenModal([&](QDialog* dialog) {
      title = dialog->windowTitle();
      const StatisticsForm form(*dialog);
      groups << form.DataGroup().title() << form.ErrorsGroup().title();
      captions << form.ReceivedCaption().text() << form.TransmittedCaption().text()
               << form.PortErrorsCaption().text() << form.OverflowsCaption().text()
               << form.ClearButton().text() << form.CloseButton().text();
      size = dialog->size();
      place = dialog->pos();
      screenArea = dialog->screen()->availableGeometry();
      // The dialog's own focus child: the application's waits for the window to be activated.
      focused = dialog->focusWidget() ? dialog->focusWidget()->objectName() : "";
      closeButton = form.CloseButton().objectName();
      dialog->reject();
    });
    ExecuteStatForm(&owner_, counters);
    QCOMPARE(title, QStringLiteral("Статистика"));
    QCOMPARE(groups, (QStringList{"Данные", "Ошибки"}));
    QCOMPARE(captions, (QStringList{"Принято:", "Передано:", "Ввод/вывод:",
                                    "Переполнение буфера:", "&Очистить", "&Закрыть"}));
    QVERIFY(size.width() >= 232 && size.height() >= 225);
    QCOMPARE(place, screenArea.topLeft() + QPoint(351, 328));
    QCOMPARE(focused, closeButton);
  }

  void clearingZeroesTheOwnersCountersAndShowsIt() {
    FakeCounters counters;
    counters.figures = {1234, 56, 7, 8};
    QStringList afterClear;
    WhenModal([&](QDialog* dialog) {
      QTest::mouseClick(&StatisticsForm(*dialog).ClearButton(), Qt::LeftButton);
      afterClear = Figures(dialog);
      dialog->reject();
    });
    ExecuteStatForm(&owner_, counters);
    QCOMPARE(counters.resets, 1);
    QCOMPARE(afterClear, (QStringList{"0 байт", "0 байт", "0", "0"}));
  }

  void figuresStayWhileOpen() {
    FakeCounters counters;
    counters.figures = {10, 20, 0, 0};
    QStringList whileCounting;
    WhenModal([&](QDialog* dialog) {
      counters.figures = {500, 600, 2, 1};  // the window goes on counting
      QTest::qWait(50);
      whileCounting = Figures(dialog);
      dialog->reject();
    });
    ExecuteStatForm(&owner_, counters);
    QCOMPARE(whileCounting, (QStringList{"10 байт", "20 байт", "0", "0"}));
  }

  // Enter and Esc close wherever the focus is; neither clears. The clearing button's access key
  // clears and leaves the dialog open.
  void keysCloseOrClear_data() {
    QTest::addColumn<bool>("onClearButton");  // else on the closing one
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("resets");
    QTest::newRow("Enter") << false << int(Qt::Key_Return) << 0 << true << 0;
    QTest::newRow("keypad Enter") << false << int(Qt::Key_Enter) << int(Qt::KeypadModifier)
                                  << true << 0;
    QTest::newRow("Esc") << false << int(Qt::Key_Escape) << 0 << true << 0;
    QTest::newRow("Enter on the clearing button") << true << int(Qt::Key_Return) << 0
                                                  << true << 0;
    QTest::newRow("Esc on the clearing button") << true << int(Qt::Key_Escape) << 0
                                                << true << 0;
    QTest::newRow("Space on the clearing button") << true << int(Qt::Key_Space) << 0
                                                  << false << 1;
  }
  void keysCloseOrClear() {
    QFETCH(bool, onClearButton);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);
    QFETCH(int, resets);
    FakeCounters counters;
    counters.figures = {1, 2, 3, 4};
    bool stillOpen = false;
    WhenModal([&](QDialog* dialog) {
      const StatisticsForm form(*dialog);
      QPushButton* target = onClearButton ? &form.ClearButton() : &form.CloseButton();
      target->setFocus();
      QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
      stillOpen = dialog->isVisible();
      if (stillOpen) dialog->reject();
    });
    ExecuteStatForm(&owner_, counters);
    QCOMPARE(!stillOpen, closes);
    QCOMPARE(counters.resets, resets);
  }

  void accessKeyOfTheClearingButtonClears() {
    FakeCounters counters;
    counters.figures = {1, 2, 3, 4};
    QStringList afterClear;
    bool stillOpen = false;
    WhenModal([&](QDialog* dialog) {
      PressAccessKey(dialog, &StatisticsForm(*dialog).ClearButton());
      QTRY_COMPARE(counters.resets, 1);
      afterClear = Figures(dialog);
      stillOpen = dialog->isVisible();
      dialog->reject();
    });
    ExecuteStatForm(&owner_, counters);
    QCOMPARE(counters.resets, 1);
    QCOMPARE(afterClear, (QStringList{"0 байт", "0 байт", "0", "0"}));
    QVERIFY(stillOpen);
  }

  // From the window's menu: the window's own counters, and clearing zeroes its status bar too.
  void fromTheMainWindowsMenu() {
    velmora::console::testing::WindowFixture f;
    velmora::console::MainWindow& window =
        f.Start(velmora::platform::sim::LoopbackPlug::Create()->Endpoint());
    window.show();
    f.Type("abc");
    QTRY_COMPARE(window.CounterFigures().RxCount, 3);  // the plug sends it back
    QStringList shown, afterClear;
    WhenModal([&](QDialog* dialog) {
      shown = Figures(dialog);
      QTest::mouseClick(&StatisticsForm(*dialog).ClearButton(), Qt::LeftButton);
      afterClear = Figures(dialog);
      QTest::keyClick(dialog, Qt::Key_Return);
    });
    f.StatisticsAction()->trigger();
    QCOMPARE(shown, (QStringList{"3 байт", "3 байт", "0", "0"}));
    QCOMPARE(afterClear, (QStringList{"0 байт", "0 байт", "0", "0"}));
    using velmora::console::StatusPanel;
    QCOMPARE(window.PanelText(StatusPanel::Rx), QStringLiteral("Rx: 0"));
    QCOMPARE(window.PanelText(StatusPanel::Tx), QStringLiteral("Tx: 0"));
    QVERIFY(window.findChildren<QDialog*>().isEmpty());  // destroyed after its run
  }

  // The owner closes (a stop signal's close sequence) while the dialog runs: the dialog goes
  // with it and the entry point returns without a second deletion.
  void ownerDestroyedDuringTheRun() {
    auto* owner = new QMainWindow;
    owner->show();
    FakeCounters counters;
    WhenModal([&](QDialog*) { delete owner; });
    ExecuteStatForm(owner, counters);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

 private:
  QMainWindow owner_;
};

QTEST_MAIN(StatisticsDialogTest)
#include "test_statistics_dialog.moc"
