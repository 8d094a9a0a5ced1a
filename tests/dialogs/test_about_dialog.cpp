// The about dialog through its entry point, and its emblem.
#include "dialogs/about_dialog.h"

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSet>
#include <QtTest>

#include "dialogs/emblem.h"
#include "dialog_roles.h"
#include "modal_driver.h"

using velmora::dialogs::ExecuteAboutBox;
using velmora::dialogs::testing::AboutForm;
using velmora::dialogs::testing::PressAccessKey;
using velmora::dialogs::testing::WhenModal;

class AboutDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    owner_.resize(646, 480);
    owner_.move(191, 167);
    owner_.show();
  }

  void showsPurposeAndVersion() {
    QString title;
    QStringList texts;
    bool allFit = true;
    int nameHeight = 0;
    bool nameBold = false;
    QSize emblemSize;
    WhenModal([&](QDialog* dialog) {
      title = dialog->windowTitle();
      const AboutForm form(*dialog);
      for (QLabel* label : {&form.ProgramName(), &form.Version(), &form.PurposeFirstLine(),
                            &form.PurposeSecondLine(), &form.ModemsHeading()})
        texts << label->text();
      for (auto* label : dialog->findChildren<QLabel*>())
        allFit = allFit && label->width() >= label->sizeHint().width() &&
                 dialog->rect().contains(label->geometry());
      QLabel* name = &form.ProgramName();
      nameHeight = QFontInfo(name->font()).pixelSize();
      nameBold = name->font().bold();
      emblemSize = form.Emblem().pixmap().size();
      dialog->accept();
    });
    ExecuteAboutBox(&owner_);
    QCOMPARE(title, QStringLiteral("О программе Velmora"));
    QCOMPARE(texts, (QStringList{"Velmora", "Версия 1.2",
                                 "Программа для работы с модемами, обеспечивающими",
                                 "сквозной (\"прозрачный\") канал связи",
                                 "100% совместимость с модемами:"}));
    QVERIFY2(allFit, "a text is cut short");
    QVERIFY(nameBold);
    QVERIFY2(nameHeight >= 24, qPrintable(QString::number(nameHeight)));
    QCOMPARE(emblemSize, QSize(142, 71));
  }

  void namesTheKindsOfModemsInTwoLines() {
    QStringList lines;
    WhenModal([&](QDialog* dialog) {
      const AboutForm form(*dialog);
      lines << form.LeasedLineModems().text() << form.RadioModems().text();
      dialog->accept();
    });
    ExecuteAboutBox(&owner_);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].contains(QStringLiteral("выделенных")));
    QVERIFY(lines[1].contains(QStringLiteral("радиомодем")));
  }

  void centredOverItsOwnerAtItsSize() {
    QPoint offset;
    QSize size;
    QColor background, buttonFace;
    WhenModal([&](QDialog* dialog) {
      offset = dialog->geometry().center() - owner_.geometry().center();
      size = dialog->size();
      background = dialog->palette().color(QPalette::Window);
      buttonFace = dialog->palette().color(QPalette::Button);
      dialog->accept();
    });
    ExecuteAboutBox(&owner_);
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    QVERIFY(size.width() >= 382 && size.height() >= 274);
    QCOMPARE(background, buttonFace);
  }

  void okEnterAndEscClose_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0;
    QTest::newRow("Esc") << int(Qt::Key_Escape) << 0;
    QTest::newRow("Space on OK") << int(Qt::Key_Space) << 0;
  }
  void okEnterAndEscClose() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    bool closed = false;
    WhenModal([&](QDialog* dialog) {
      QPushButton* ok = &AboutForm(*dialog).OkButton();
      QTest::keyClick(key == Qt::Key_Space ? static_cast<QWidget*>(ok) : dialog, Qt::Key(key),
                      Qt::KeyboardModifiers(modifiers));
      closed = !dialog->isVisible();
    });
    ExecuteAboutBox(&owner_);
    QVERIFY(closed);
  }

  void accessKeyCloses() {
    bool closed = false;
    WhenModal([&](QDialog* dialog) {
      PressAccessKey(dialog, &AboutForm(*dialog).OkButton());
      QTRY_VERIFY(!dialog->isVisible());
      closed = true;
    });
    ExecuteAboutBox(&owner_);
    QVERIFY(closed);
  }

  void emblemIsSixteenColours() {
    const QImage emblem = velmora::dialogs::DrawEmblem();
    QCOMPARE(emblem.size(), QSize(142, 71));
    QVERIFY(emblem.colorCount() <= 16);
    QSet<QRgb> used;
    for (int y = 0; y < emblem.height(); ++y)
      for (int x = 0; x < emblem.width(); ++x) used.insert(emblem.pixel(x, y));
    QVERIFY2(used.size() >= 5, "the emblem is more than a blank");
  }

 private:
  QMainWindow owner_;
};

QTEST_MAIN(AboutDialogTest)
#include "test_about_dialog.moc"
