// The main window as a new operator meets it: where typed keys go, how received control
// characters and byte forms look, what the status bar and the boxes say, and what a screen
// reader is told.
#include "console/main_window.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleInterface>
#include <QClipboard>
#include <QImage>
#include <QMenuBar>
#include <QMessageBox>

#include "console/app_error_display.h"
#include "console/cp1251.h"
#include "window_fixture.h"

using namespace velmora;
using console::MainWindow;
using console::ReceiveTextView;
using console::StatusPanel;
using console::testing::Heard;
using console::testing::WindowFixture;

namespace {

// Bytes from the far end, waited for and put on the screen.
void Receive(WindowFixture& f, const QByteArray& bytes) {
  const int before = f.window->CounterFigures().RxCount;
  f.radio->InjectReceived(bytes.toStdString());
  QTRY_COMPARE(f.window->CounterFigures().RxCount, before + int(bytes.size()));
  f.window->ReceiveContent().Flush();
}

void ShowActive(MainWindow& window) {
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
}

// The pixels of the character at `offset` of what the receive view holds.
QImage Cell(ReceiveTextView* view, int offset) {
  return view->viewport()->grab().toImage().copy(view->CharacterRect(offset));
}

}  // namespace

class TestOperatorWindow : public QObject {
  Q_OBJECT

 private slots:
  void parametersMenuSpellsItsWord() {
    WindowFixture f;
    MainWindow& window = f.Start();
    QStringList titles;
    for (QAction* menu : window.menuBar()->actions()) titles << menu->text();
    QCOMPARE(titles, (QStringList{"&Файл", "Па&раметры", "&?"}));
  }

  // --- keys -------------------------------------------------------------------------------

  // A character typed with the focus anywhere in the window reaches the line, and the widget
  // that had the focus does nothing with it.
  void typedCharactersGoToTheLineWhereverTheFocusIs_data() {
    QTest::addColumn<QString>("focus");
    QTest::newRow("receive pane, clicked") << "receive pane";
    QTest::newRow("button, as an error box leaves it") << "clear receive";
    QTest::newRow("display mode button") << "hex";
    QTest::newRow("nowhere") << "";
  }
  void typedCharactersGoToTheLineWhereverTheFocusIs() {
    QFETCH(QString, focus);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    ShowActive(window);
    Receive(f, "old\r\n");
    if (focus == "receive pane") {
      QTest::mouseClick(f.ReceiveView()->viewport(), Qt::LeftButton, {}, QPoint(20, 8));
      QCOMPARE(QApplication::focusWidget(), f.ReceiveView());
    } else if (!focus.isEmpty()) {
      QWidget* focused = focus == "hex" ? static_cast<QWidget*>(f.HexButton()) : f.ClearReceiveButton();
      focused->setFocus();
      QCOMPARE(QApplication::focusWidget(), focused);
    } else {
      QApplication::focusWidget()->clearFocus();
    }
    QWidget* typedInto = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
    // Space would press a button; the Cyrillic letter goes out as its one CP1251 byte.
    QTest::sendKeyEvent(QTest::Click, typedInto, Qt::Key_Space, QStringLiteral(" "), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_A, QStringLiteral("a"), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key(u'Я'), QStringLiteral("я"),
                        Qt::NoModifier);
    QTRY_COMPARE(Heard(*f.radio), QByteArray(" a\xFF"));
    QCOMPARE(QApplication::focusWidget(), f.TransmitPane());
    QCOMPARE(f.TransmitPane()->toPlainText(), QString(" aя"));
    QCOMPARE(f.ReceivedText(), QString("old\n"));  // "&Очистить" was not pressed
    QVERIFY(f.AsciiButton()->isChecked());
    QVERIFY(!f.HexButton()->isChecked());
  }

  void receivePaneKeepsItsCopyAndSelectionKeys() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    ShowActive(window);
    Receive(f, "hello\r\nworld");
    ReceiveTextView* view = f.ReceiveView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(2, 8));
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(view->SelectedText(), QString("he"));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("he"));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("hello\nworld"));
    QCOMPARE(QApplication::focusWidget(), view);
    QCOMPARE(Heard(*f.radio), QByteArray());
    QCOMPARE(window.CounterFigures().TxCount, 0);
  }

  // --- the receive pane -------------------------------------------------------------------

  // Every control character reads apart from the others and from a blank, whether or not a
  // font of the system has pictures for them; a copy still gives what arrived.
  void controlCharactersAreToldApart() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    ShowActive(window);
    const QByteArray received("\x00\t\x1b\x07\x7f\x01 ", 7);
    Receive(f, received);
    ReceiveTextView* view = f.ReceiveView();
    QCOMPARE(view->toPlainText(), console::DecodeCp1251(received.toStdString()));
    QList<QImage> cells;
    for (int i = 0; i < received.size(); ++i) cells << Cell(view, i);
    for (int i = 0; i < cells.size(); ++i)
      for (int j = i + 1; j < cells.size(); ++j)
        QVERIFY2(cells[i] != cells[j], qPrintable(QString("bytes %1 and %2 look alike").arg(i).arg(j)));
    view->SelectAll();
    view->Copy();
    QCOMPARE(QApplication::clipboard()->text(), console::DecodeCp1251(received.toStdString()));
  }

  // The hexadecimal and binary forms wrap between two bytes' forms at any width of the pane,
  // and the pane's line count (its limit) agrees with what it shows.
  void byteFormsWrapBetweenBytes_data() {
    QTest::addColumn<bool>("binary");
    QTest::addColumn<int>("unit");
    QTest::newRow("hex") << false << 3;
    QTest::newRow("binary") << true << 9;
  }
  void byteFormsWrapBetweenBytes() {
    QFETCH(bool, binary);
    QFETCH(int, unit);
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    ShowActive(window);
    QTest::mouseClick(binary ? f.BinButton() : f.HexButton(), Qt::LeftButton);
    Receive(f, QByteArray(200, 'A'));
    ReceiveTextView* view = f.ReceiveView();
    const int cell = view->CharacterRect(1).left() - view->CharacterRect(0).left();
    // Several widths, so that the columns a width gives are not all whole units by chance.
    for (int extra = 0; extra < unit; ++extra) {
      window.resize(520 + extra * cell, window.height());
      QTRY_VERIFY(view->Columns() > unit);
      QCOMPARE(view->Columns() % unit, 0);
      for (int line = 0; line + 1 < view->LineCount(); ++line) {
        const QString shown = view->ShownLine(line);
        QVERIFY2(shown.size() % unit == 0 && shown.endsWith(u'.'), qPrintable(shown));
      }
      QCOMPARE(window.ReceiveContent().LineCount(), int64_t(view->LineCount()));
    }
    // What arrived is what it was, whatever the wrapping.
    QCOMPARE(f.ReceivedText(), QString(unit == 3 ? "41." : "01000001.").repeated(200));
  }

  // --- status bar and boxes ---------------------------------------------------------------

  void longPortPathLosesItsMiddleNotTheLineSettings() {
    WindowFixture f;
    const QByteArray path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0-"
                            "behind-a-hub-of-the-second-cabinet-on-the-left";
    f.WriteSettings("[ComPort1]\nPort=" + path + "\nBaudRate=115200\nParity=Even\n");
    MainWindow& window = f.Start();
    ShowActive(window);
    QLabel* summary = f.StatusBar()->Panel(StatusPanel::PortSummary);
    const QString whole = window.PanelText(StatusPanel::PortSummary);
    QVERIFY(whole.startsWith(QString::fromLatin1(path) + ", 115200, 8, 1, Even, "));
    const QString settings = whole.mid(path.size());
    QTRY_VERIFY(!summary->text().isEmpty());
    QVERIFY2(summary->text() != whole, "the path must not fit for this test to tell anything");
    QVERIFY2(summary->text().endsWith(settings), qPrintable(summary->text()));
    // The path's start and its own end (which adapter, which port) around "…", then the
    // settings.
    const QString head = summary->text().chopped(settings.size());
    const QStringList parts = head.split(QChar(0x2026));
    QCOMPARE(parts.size(), 2);
    QVERIFY2(parts[0].size() >= 2 && QString::fromLatin1(path).startsWith(parts[0]), qPrintable(head));
    QVERIFY2(parts[1].size() >= 2 && QString::fromLatin1(path).endsWith(parts[1]), qPrintable(head));
    QCOMPARE(summary->toolTip(), whole);
  }

  // A port name in the settings file's code page reads the same in the link error box as in
  // the status bar.
  void linkErrorBoxNamesThePortAsTheStatusBarDoes() {
    WindowFixture f;
    const QString name = QStringLiteral("/tmp/нет-такого-порта");
    f.WriteSettings("[ComPort1]\nPort=" + QByteArray::fromStdString(console::EncodeCp1251(name)) + "\n");
    MainWindow& window = f.Start();
    QVERIFY(window.PanelText(StatusPanel::PortSummary).startsWith(name + ", "));
    QCOMPARE(f.boxes.size(), 1);
    QVERIFY2(f.boxes[0].contains(name), qPrintable(f.boxes[0]));
  }

  void applicationErrorBoxIsTitledWithTheProgramsName() {
    QString title;
    QString text;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      title = box->windowTitle();
      text = box->text();
      box->accept();
    });
    QTimer::singleShot(5000, [] {  // the bound, should the box not be found
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    console::MessageBoxErrorDisplay()("Port failure");
    QCOMPARE(title, QString("Velmora"));
    QCOMPARE(text, QString("Port failure"));
  }

  // --- assistive technology ---------------------------------------------------------------

  void screenReaderReadsWhatArrivedWithCaretAndSelection() {
    WindowFixture f;
    MainWindow& window = f.StartOnRadio();
    ShowActive(window);
    Receive(f, "ab\tc\r\nde");
    ReceiveTextView* view = f.ReceiveView();
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(view);
    QVERIFY(reader);
    QCOMPARE(reader->role(), QAccessible::EditableText);
    QVERIFY(reader->state().readOnly);
    QCOMPARE(reader->text(QAccessible::Value), QString("ab\tc\nde"));
    QAccessibleTextInterface* text = reader->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 7);
    QCOMPARE(text->text(0, 7), QString("ab\tc\nde"));
    QCOMPARE(text->text(2, 3), QString("\t"));  // what arrived, not its stand-in
    view->Select(1, 0, 1, 2);
    int start = -1;
    int end = -1;
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(start, 5);
    QCOMPARE(end, 7);
    QCOMPARE(text->cursorPosition(), 7);
    text->setCursorPosition(1);
    QVERIFY(!view->HasSelection());
    QCOMPARE(text->cursorPosition(), 1);
    text->setSelection(0, 0, 2);
    QCOMPARE(view->SelectedText(), QString("ab"));
    QVERIFY(text->characterRect(5).top() > text->characterRect(0).top());  // "d" is a line lower
    QCOMPARE(text->offsetAtPoint(text->characterRect(6).center()), 6);
  }
};

QTEST_MAIN(TestOperatorWindow)
#include "test_operator_window.moc"
