// The receive pane's search: what matches in each form of the pane, and the bar as the operator
// uses it in the real window (Ctrl+F, typing, F3 / Shift+F3, Esc, text arriving meanwhile).
#include "console/search_bar.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "window_fixture.h"

using velmora::console::FindMatches;
using velmora::console::ParseBytePattern;
using velmora::console::ReceiveTextView;
using velmora::console::SearchBar;
using velmora::console::ShownForm;
using velmora::console::testing::Heard;
using velmora::console::testing::WindowFixture;

Q_DECLARE_METATYPE(ShownForm)

namespace {

using Marks = std::vector<ReceiveTextView::Mark>;

QString Spans(const Marks& marks) {
  QStringList spans;
  for (const auto& [start, end] : marks) spans << QStringLiteral("%1-%2").arg(start).arg(end);
  return spans.join(u' ');
}

SearchBar* Bar(const WindowFixture& f) { return f.window->findChild<SearchBar*>(); }

QString Status(const WindowFixture& f) { return Bar(f)->findChild<QLabel*>("SearchStatus")->text(); }

void Press(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(target, key, modifiers);
}

// Whether the view paints the mark colour anywhere in the cell of `offset`.
bool MarkedAt(ReceiveTextView* view, int offset) {
  const QImage image = view->viewport()->grab().toImage();
  const QRect cell = view->CharacterRect(offset) & image.rect();
  for (int y = cell.top(); y <= cell.bottom(); ++y)
    for (int x = cell.left(); x <= cell.right(); ++x)
      if (image.pixelColor(x, y) == QColor(255, 214, 90)) return true;
  return false;
}

}  // namespace

class TestSearchBar : public QObject {
  Q_OBJECT

 private slots:
  void Matches_data();
  void Matches();
  void BytePatterns_data();
  void BytePatterns();
  void OperatorSearchesTheText();
  void BytesInTheHexForm();
  void ArrivingTextIsSearchedAndClearingTakesTheMarksAway();
};

void TestSearchBar::Matches_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("query");
  QTest::addColumn<bool>("bytes");
  QTest::addColumn<ShownForm>("form");
  QTest::addColumn<QString>("spans");
  QTest::newRow("text, any letter case") << "OK\nok Ok" << "ok" << false << ShownForm::kText << "0-2 3-5 6-8";
  QTest::newRow("text, not overlapping") << "aaaa" << "aa" << false << ShownForm::kText << "0-2 2-4";
  QTest::newRow("text, regular expression signs are letters") << "a.b a+b" << "a+b" << false << ShownForm::kText
                                                              << "4-7";
  QTest::newRow("text in the hex form") << "01.0A.0a." << "0a." << false << ShownForm::kHex << "3-6 6-9";
  QTest::newRow("bytes as text, any byte") << "OK\nOX\nAK" << "4F ??" << true << ShownForm::kText << "0-2 3-5";
  QTest::newRow("bytes as text, line breaks") << "A\nB\n" << "0D 0A 42" << true << ShownForm::kText << "1-3";
  QTest::newRow("bytes as text, Cyrillic in the code page") << "Привет" << "cf f0" << true << ShownForm::kText
                                                            << "0-2";
  QTest::newRow("bytes as text, case kept") << "ok OK" << "4F 4B" << true << ShownForm::kText << "3-5";
  QTest::newRow("bytes in the hex form") << "01.03.00.0A.01.03.FF.0A." << "03 ?? 0a" << true << ShownForm::kHex
                                         << "3-12 15-24";
  // Text shown before a switch to the hex form: a byte's form starts after no hex digit.
  QTest::newRow("bytes in the hex form after text") << "x41.F41." << "41" << true << ShownForm::kHex << "1-4";
  QTest::newRow("bytes in the binary form") << "00000001.11111111.00000001." << "?? 01" << true << ShownForm::kBin
                                            << "9-27";
  QTest::newRow("bytes in the binary form after text") << "100000001." << "01" << true << ShownForm::kBin << "";
  QTest::newRow("malformed bytes find nothing") << "0A.0A." << "0A 1" << true << ShownForm::kHex << "";
  QTest::newRow("nothing to find") << "abc" << "" << false << ShownForm::kText << "";
}

void TestSearchBar::Matches() {
  QFETCH(QString, text);
  QFETCH(QString, query);
  QFETCH(bool, bytes);
  QFETCH(ShownForm, form);
  QFETCH(QString, spans);
  QCOMPARE(Spans(FindMatches(text, query, bytes, form)), spans);
}

void TestSearchBar::BytePatterns_data() {
  QTest::addColumn<QString>("pattern");
  QTest::addColumn<QString>("bytes");  // decimal, -1 for any; "none" when refused
  QTest::newRow("spaced") << "01 03 ?? 0a" << "1 3 -1 10";
  QTest::newRow("run together") << "0103??FF" << "1 3 -1 255";
  QTest::newRow("commas and tabs") << "01,\t02" << "1 2";
  QTest::newRow("half a byte") << "01 3" << "none";
  QTest::newRow("not hexadecimal") << "0G" << "none";
  QTest::newRow("one question mark") << "?1" << "none";
  QTest::newRow("empty") << "  " << "none";
}

void TestSearchBar::BytePatterns() {
  QFETCH(QString, pattern);
  QFETCH(QString, bytes);
  const auto parsed = ParseBytePattern(pattern);
  QStringList got;
  if (parsed)
    for (int b : *parsed) got << QString::number(b);
  QCOMPARE(parsed ? got.join(u' ') : QStringLiteral("none"), bytes);
}

// Ctrl+F outside the transmit pane opens the bar, typing searches
// as it goes without reaching the line, F3 and Shift+F3 go round the matches, Esc closes.
void TestSearchBar::OperatorSearchesTheText() {
  WindowFixture f;
  f.StartOnRadio();
  f.window->show();
  QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
  f.radio->InjectReceived("OK\r\nERROR\r\nok\r\n");
  ReceiveTextView* view = f.ReceiveView();
  QTRY_COMPARE(view->toPlainText(), QString("OK\nERROR\nok\n"));
  SearchBar* bar = Bar(f);
  QVERIFY(!bar->isVisible());

  // In the transmit pane Ctrl+F is ACK, as every Ctrl+letter there; elsewhere it opens the bar.
  f.TransmitPane()->setFocus();
  QTest::sendKeyEvent(QTest::Click, f.TransmitPane(), Qt::Key_F, QString(QChar(0x06)), Qt::ControlModifier);
  QVERIFY(!bar->isVisible());
  QTRY_COMPARE(Heard(*f.radio), QByteArray("\x06"));
  view->setFocus();
  Press(view, Qt::Key_F, Qt::ControlModifier);
  QVERIFY(bar->isVisible());
  QCOMPARE(QApplication::focusWidget(), bar->Field());
  QTest::keyClicks(bar->Field(), "ok");
  QCOMPARE(Spans(view->Marks()), QString("0-2 9-11"));
  QCOMPARE(view->SelectedText(), QString("OK"));
  QCOMPARE(Status(f), QString("1 из 2"));
  QVERIFY(MarkedAt(view, 9));  // the match that is not selected shows its mark

  Press(bar->Field(), Qt::Key_F3);
  QCOMPARE(Status(f), QString("2 из 2"));
  QCOMPARE(view->SelectedText(), QString("ok"));
  Press(f.TransmitPane(), Qt::Key_F3);  // from anywhere in the window; round the end
  QCOMPARE(Status(f), QString("1 из 2"));
  Press(bar->Field(), Qt::Key_F3, Qt::ShiftModifier);
  QCOMPARE(Status(f), QString("2 из 2"));
  Press(bar->Field(), Qt::Key_Return, Qt::ShiftModifier);
  QCOMPARE(Status(f), QString("1 из 2"));

  QTest::keyClicks(bar->Field(), "x");
  QCOMPARE(Status(f), QString("Не найдено"));
  QVERIFY(view->Marks().empty());

  Press(bar->Field(), Qt::Key_Escape);
  QVERIFY(!bar->isVisible());
  QVERIFY(view->Marks().empty());
  QCOMPARE(QApplication::focusWidget(), f.TransmitPane());
  QTest::qWait(50);
  QCOMPARE(Heard(*f.radio), QByteArray("\x06"));  // the search's keys did not go out

}

void TestSearchBar::BytesInTheHexForm() {
  WindowFixture f;
  f.StartOnRadio();
  f.HexButton()->click();
  f.radio->InjectReceived(std::string("\x01\x03\x00\x0A\x01\x03\xFF\x0A", 8));
  ReceiveTextView* view = f.ReceiveView();
  QTRY_COMPARE(view->toPlainText(), QString("01.03.00.0A.01.03.FF.0A."));
  SearchBar* bar = Bar(f);
  bar->Open();
  bar->BytesSwitch()->setChecked(true);
  QTest::keyClicks(bar->Field(), "03 ?? 0A");
  QCOMPARE(Spans(view->Marks()), QString("3-12 15-24"));
  QCOMPARE(Status(f), QString("1 из 2"));
  bar->Field()->clear();
  QTest::keyClicks(bar->Field(), "0A 1");
  QCOMPARE(Status(f), QString("Байты: пары шестнадцатеричных цифр или ??"));
  QVERIFY(view->Marks().empty());
  bar->BytesSwitch()->setChecked(false);  // the same text as text
  QCOMPARE(Status(f), QString("Не найдено"));
}

void TestSearchBar::ArrivingTextIsSearchedAndClearingTakesTheMarksAway() {
  WindowFixture f;
  f.StartOnRadio();
  f.radio->InjectReceived("ping pong ");
  ReceiveTextView* view = f.ReceiveView();
  QTRY_COMPARE(view->toPlainText(), QString("ping pong "));
  SearchBar* bar = Bar(f);
  bar->Open();
  QTest::keyClicks(bar->Field(), "ping");
  QCOMPARE(Status(f), QString("1 из 1"));
  f.radio->InjectReceived("ping");
  QTRY_COMPARE(Spans(view->Marks()), QString("0-4 10-14"));
  QCOMPARE(Status(f), QString("1 из 2"));  // the current match stays current
  f.ClearReceiveButton()->click();
  QVERIFY(view->Marks().empty());
  QTRY_COMPARE(Status(f), QString("Не найдено"));
}

QTEST_MAIN(TestSearchBar)
#include "test_search_bar.moc"
