// The frames dialog: what it gives back, what it refuses at OK and how it says so, and the
// window's menu item storing what was confirmed.
#include "dialogs/frames_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include "modal_driver.h"
#include "tests/console/window_fixture.h"

using namespace velmora;
using console::CheckKind;
using console::SendMode;
using console::StoredFrame;
using console::StoredFrames;
using dialogs::FramesDialog;

namespace {

template <typename T>
T* Field(const QDialog& dialog, const char* role, int key) {
  T* field = dialog.findChild<T*>(QString::fromLatin1(role) + QString::number(key));
  if (!field) throw std::runtime_error(std::string("no field ") + role);
  return field;
}

QPushButton* OkButton(const QDialog& dialog) {
  return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

}  // namespace

class FramesDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void givesBackWhatTheRowsHold() {
    StoredFrames frames;
    frames[0] = {"Опрос", SendMode::kHex, CheckKind::kCrc16Modbus, 500, "01 03 00 00 00 01"};
    FramesDialog dialog(frames);
    QCOMPARE(dialog.Frames(), frames);
    QCOMPARE(Field<QSpinBox>(dialog, "FramePeriod", 1)->text(), QString("500"));
    QCOMPARE(Field<QSpinBox>(dialog, "FramePeriod", 2)->text(), QString("однократно"));

    Field<QLineEdit>(dialog, "FrameName", 3)->setText("  Модем ");
    Field<QLineEdit>(dialog, "FrameLine", 3)->setText(" AT\\r");  // a text's blanks are its own
    Field<QComboBox>(dialog, "FrameCheck", 3)->setCurrentIndex(static_cast<int>(CheckKind::kLrc));
    Field<QComboBox>(dialog, "FrameMode", 4)->setCurrentIndex(static_cast<int>(SendMode::kHex));
    Field<QLineEdit>(dialog, "FrameLine", 4)->setText(" 55 AA ");  // hex blanks mean nothing
    Field<QSpinBox>(dialog, "FramePeriod", 4)->setValue(250);
    Field<QComboBox>(dialog, "FrameMode", 5)->setCurrentIndex(static_cast<int>(SendMode::kHex));
    const StoredFrames edited = dialog.Frames();
    QCOMPARE(edited[2], (StoredFrame{"Модем", SendMode::kText, CheckKind::kLrc, 0, " AT\\r"}));
    QCOMPARE(edited[3], (StoredFrame{"", SendMode::kHex, CheckKind::kNone, 250, "55 AA"}));
    QCOMPARE(edited[4], StoredFrame{});  // a row with nothing in it is a free key
  }

  void okRefusesTheFirstRowThatCannotBeSent_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("says");
    QTest::newRow("line that does not read") << 7 << "x" << "01 0G" << "F7: «G» (позиция 5)";
    QTest::newRow("';' in the name") << 2 << "a;b" << "AT" << "F2: в имени";
    QTest::newRow("a name without a line") << 12 << "Опрос" << "" << "F12: у кадра «Опрос» нет строки";
    QTest::newRow("text ending in a blank") << 1 << "" << "AT " << "F1: текст не может кончаться";
  }

  void okRefusesTheFirstRowThatCannotBeSent() {
    QFETCH(int, key);
    QFETCH(QString, name);
    QFETCH(QString, line);
    QFETCH(QString, says);
    FramesDialog dialog({});
    if (key == 7) Field<QComboBox>(dialog, "FrameMode", key)->setCurrentIndex(static_cast<int>(SendMode::kHex));
    Field<QLineEdit>(dialog, "FrameName", key)->setText(name);
    Field<QLineEdit>(dialog, "FrameLine", key)->setText(line);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    OkButton(dialog)->click();
    QVERIFY(dialog.isVisible());
    QVERIFY2(dialog.ErrorText().startsWith(says), qPrintable(dialog.ErrorText()));
    QCOMPARE(QApplication::focusWidget(), Field<QLineEdit>(dialog, "FrameLine", key));
    // Mended, it is taken.
    Field<QLineEdit>(dialog, "FrameName", key)->clear();
    Field<QLineEdit>(dialog, "FrameLine", key)->clear();
    OkButton(dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.ErrorText().isEmpty());
  }

  void theWindowStoresWhatWasConfirmed() {
    console::testing::WindowFixture f;
    console::MainWindow& window = f.Start();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QAction* item = window.findChild<QAction*>("N12");
    QVERIFY(item);
    QCOMPARE(item->text(), QString("&Кадры для передачи..."));
    dialogs::testing::WhenModal([](QDialog* dialog) {
      Field<QLineEdit>(*dialog, "FrameName", 3)->setText("Пинг");
      Field<QLineEdit>(*dialog, "FrameLine", 3)->setText("PING;1\\r");
      Field<QSpinBox>(*dialog, "FramePeriod", 3)->setValue(1000);
      OkButton(*dialog)->click();
    });
    item->trigger();
    QCOMPARE(window.StoredFramesOnKeys()[2], (StoredFrame{"Пинг", SendMode::kText, CheckKind::kNone, 1000, "PING;1\\r"}));
    QVERIFY2(f.ReadSettings().contains("[Frames]\nF3=\xCF\xE8\xED\xE3;text;none;1000;PING;1\\r\n"),
             f.ReadSettings().constData());

    // Cancel changes nothing.
    dialogs::testing::WhenModal([](QDialog* dialog) {
      Field<QLineEdit>(*dialog, "FrameLine", 3)->setText("other");
      dialog->reject();
    });
    item->trigger();
    QCOMPARE(window.StoredFramesOnKeys()[2].line, QString("PING;1\\r"));
  }
};

QTEST_MAIN(FramesDialogTest)
#include "test_frames_dialog.moc"
