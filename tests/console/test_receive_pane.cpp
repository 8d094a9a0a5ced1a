// The receive pane's line count against the lines its view shows, its limit, what the operator
// selects and copies out of it, and that a chunk never makes the view paint what it already
// showed; the transmit pane's line limit.
#include "console/receive_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "console/cp1251.h"

using velmora::console::PaneLineLimit;
using velmora::console::ReceivePane;
using velmora::console::ReceiveTextView;

namespace {

// Lines as the view shows them, an empty last line not counted; each must fit the view's
// width, or the view would show more lines than the pane counts.
int ShownLines(const ReceiveTextView& view) {
  const QFontMetricsF metrics(view.font());
  const qreal width = view.viewport()->width() - 2 * ReceiveTextView::kMargin;
  int lines = view.LineCount();
  if (view.ShownLine(lines - 1).isEmpty()) --lines;
  for (int i = 0; i < view.LineCount(); ++i)
    if (metrics.horizontalAdvance(view.ShownLine(i)) > width) return -1;
  return lines;
}

QString HexRun(int bytes) {
  QString run;
  for (int i = 0; i < bytes; ++i) run += QString("%1.").arg(i & 0xFF, 2, 16, QChar('0')).toUpper();
  return run;
}

// Every byte of the code page but the line breaks, as the pane gets them.
QString EveryCharacter() {
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    if (b != '\r' && b != '\n') bytes += static_cast<char>(b);
  return velmora::console::DecodeCp1251(bytes);
}

// The rows of pixels the view paints, one row counted once per paint.
class PaintProbe : public QObject {
 public:
  explicit PaintProbe(QWidget* viewport) { viewport->installEventFilter(this); }
  int TakeRows() { return std::exchange(rows_, 0); }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      int top = -1;
      int bottom = -1;
      // Rows, not rectangles: a region of many narrow rectangles is as costly as its rows.
      for (const QRect& rect : static_cast<QPaintEvent*>(event)->region()) {
        if (top < 0 || rect.top() > bottom) {
          rows_ += bottom - top + (top < 0 ? 0 : 1);
          top = rect.top();
          bottom = rect.bottom();
        } else {
          bottom = std::max(bottom, rect.bottom());
        }
      }
      if (top >= 0) rows_ += bottom - top + 1;
    }
    return false;
  }

 private:
  int rows_ = 0;
};

struct ShownPane {
  explicit ShownPane(int width, int height = 300) : pane(&view) {
    view.resize(width, height);
    view.show();
  }
  ReceiveTextView view;
  ReceivePane pane;
};

}  // namespace

class TestReceivePane : public QObject {
  Q_OBJECT

 private slots:
  void countAgreesWithThePanesLayout_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("chunks");
    QTest::newRow("hex run, narrow") << 217 << QStringList{HexRun(500)};
    QTest::newRow("hex run, wide, in pieces") << 640 << QStringList{HexRun(300), HexRun(301)};
    QTest::newRow("text lines and empty lines")
        << 400 << QStringList{"short\r\n\r\n", QString(130, 'w') + "\n", "tail"};
    QTest::newRow("CR and LF parted by an empty chunk")
        << 300 << QStringList{"one\r", "", "\ntwo\r", "\n", "three"};
    QTest::newRow("Cyrillic run") << 300 << QStringList{QString(200, QChar(0x0416))};
    QTest::newRow("tab-separated data")
        << 400 << QStringList{QString("1\t2\t3\t4\t5\t6\t7\t8\t9\r\n").repeated(20)};
    QTest::newRow("runs of spaces at a wrap")
        << 300 << QStringList{QString(37, 'x') + QString(300, ' ') + "y\r\n", QString(90, ' ')};
    QTest::newRow("vertical tab, form feed, soft hyphen")
        << 300 << QStringList{QString("a\vb\fc") + QChar(0xAD) + "d\r\n", QString(150, '\t')};
    QTest::newRow("every character of the code page")
        << 350 << QStringList{EveryCharacter().repeated(4)};
  }
  void countAgreesWithThePanesLayout() {
    QFETCH(int, width);
    QFETCH(QStringList, chunks);
    ShownPane shown(width);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    for (const QString& chunk : chunks) shown.pane.Append(chunk);
    shown.pane.Flush();
    QVERIFY(shown.pane.LineCount() > 1);
    QCOMPARE(shown.pane.LineCount(), ShownLines(shown.view));

    shown.view.resize(width + 97, 300);  // the same text wraps anew
    QCOMPARE(shown.pane.LineCount(), ShownLines(shown.view));
    QCOMPARE(shown.pane.Text(), chunks.join(QString()).replace("\r\n", "\n"));
  }

  void longHexRunReachesTheLimitThroughWrappedLines() {
    ShownPane shown(500);
    ReceivePane& pane = shown.pane;
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QVERIFY(pane.Columns() >= 3);
    while (pane.LineCount() < ReceivePane::kLineLimit) pane.Append("41.");
    pane.Flush();
    QCOMPARE(pane.LineCount(), ReceivePane::kLineLimit);
    QCOMPARE(ShownLines(shown.view), ReceivePane::kLineLimit);
    QVERIFY(!pane.Text().contains(u'\n'));  // still one line as far as the data goes
    while (pane.LineCount() == ReceivePane::kLineLimit) pane.Append("41.");
    pane.Flush();
    QCOMPARE(shown.view.toPlainText(), QString());
    QCOMPARE(pane.LineCount(), 0);
  }

  // The cost of a chunk must not grow with what the pane already shows: the view paints the
  // lines the chunk changed or brought into view, never the whole pane.
  void aChunkPaintsOnlyWhatItChanged_data() {
    QTest::addColumn<QString>("chunk");
    QTest::newRow("hex view, 58 bytes") << HexRun(58);
    QTest::newRow("text view, CR LF lines") << QString("The quick brown fox 0123456789\r\n");
  }
  void aChunkPaintsOnlyWhatItChanged() {
    QFETCH(QString, chunk);
    ShownPane shown(500, 400);
    // As in the window: a scroll bar that appears would narrow the view, and all wraps anew.
    shown.view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    PaintProbe probe(shown.view.viewport());
    int worst = 0;
    int chunks = 0;
    for (; shown.pane.LineCount() + 10 < ReceivePane::kLineLimit; ++chunks) {
      // Leaving the top moves every line by the top margin: painted whole once.
      const bool scrolled = shown.view.verticalScrollBar()->value() > 0;
      shown.pane.Append(chunk);
      shown.pane.Flush();
      QCoreApplication::processEvents();
      if (scrolled) worst = std::max(worst, probe.TakeRows());
      probe.TakeRows();
    }
    QVERIFY(shown.pane.LineCount() > ReceivePane::kLineLimit / 2);
    QVERIFY(shown.view.verticalScrollBar()->value() > 0);  // it followed the end all along
    // The lines the chunk added, the one it continued, and the line cut by the view's bottom.
    const int chunkLines = static_cast<int>(chunk.size()) / shown.pane.Columns() + 2;
    QVERIFY2(worst <= (chunkLines + 1) * shown.view.LineHeight(),
             qPrintable(QString("%1 rows painted for one chunk of %2 lines, view %3 rows")
                            .arg(worst)
                            .arg(chunkLines)
                            .arg(shown.view.viewport()->height())));
  }

  void copyGivesWhatArrived() {
    ShownPane shown(300);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    const QString arrived = HexRun(200) + "\r\nname\tvalue\f" + QChar(0xAD) + "\r\n" + HexRun(3);
    const QString expected = QString(arrived).replace("\r\n", "\n");
    shown.pane.Append(arrived);
    shown.pane.Flush();
    QVERIFY(shown.view.LineCount() > 5);  // wrapped by the view

    shown.view.SelectAll();
    shown.view.Copy();
    QCOMPARE(QApplication::clipboard()->text(), expected);

    // A selection that starts in the middle of a wrapped line and ends two columns into the
    // fifth shown line.
    shown.view.Select(0, 10, 4, 2);
    qsizetype shownCharacters = 2 - 10;
    for (int i = 0; i < 4; ++i) shownCharacters += shown.view.ShownLine(i).size();
    QCOMPARE(shown.view.SelectedText(), expected.mid(10, shownCharacters));
  }

  // As the operator does it: a drag with the mouse, Shift with the keys, Ctrl+C, Ctrl+A.
  void operatorSelectsWithMouseAndKeysAndCopies() {
    ShownPane shown(300);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    const QString arrived = QString("first line\r\n") + HexRun(100) + "\r\nlast";
    shown.pane.Append(arrived);
    shown.pane.Flush();
    ReceiveTextView& view = shown.view;
    QWidget* viewport = view.viewport();
    const int lineHeight = view.LineHeight();
    const auto at = [&](int line, int column) {
      const QFontMetricsF metrics(view.font());
      const qreal x = ReceiveTextView::kMargin + metrics.horizontalAdvance(view.ShownLine(line).left(column));
      return QPoint(qRound(x), ReceiveTextView::kMargin + line * lineHeight + lineHeight / 2);
    };
    QTest::mousePress(viewport, Qt::LeftButton, {}, at(0, 6));
    QMouseEvent move(QEvent::MouseMove, at(1, 3), viewport->mapToGlobal(at(1, 3)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at(1, 3));
    QCOMPARE(view.SelectedText(), QString("line\n00."));

    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("line\n00.01"));

    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString(arrived).replace("\r\n", "\n"));

    // Shift+End from a click in the last line takes the rest of it.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at(view.LineCount() - 1, 1));
    QTest::keyClick(&view, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(view.SelectedText(), QString("ast"));
  }

  void viewFollowsTheEndOnlyWhileItStandsThere() {
    ShownPane shown(300, 120);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    for (int i = 0; i < 100; ++i) shown.pane.Append(QString("line %1\n").arg(i));
    shown.pane.Flush();
    QScrollBar* bar = shown.view.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(3);  // the operator scrolls back to read
    shown.pane.Append("more\n");
    shown.pane.Flush();
    QCOMPARE(bar->value(), 3);
  }

  // A frame that brings more than the view shows makes the next one wait longer; a frame that
  // brings a few lines, as a reader can follow them, makes it come sooner again.
  void framesSlowDownOnlyWhileEachBringsAScreenful() {
    ShownPane shown(300, 120);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    const int everyFrame = shown.pane.FrameIntervalMs();
    const int page = shown.view.PageLines();
    for (int i = 0; i < page; ++i) shown.pane.Append(QString("line %1\n").arg(i));
    shown.pane.Flush();
    QCOMPARE(shown.pane.FrameIntervalMs(), everyFrame);
    for (int i = 0; i <= page; ++i) shown.pane.Append(QString("line %1\n").arg(i));
    shown.pane.Flush();
    QVERIFY(shown.pane.FrameIntervalMs() > everyFrame);
    shown.pane.Append("one more line\n");
    shown.pane.Flush();
    QCOMPARE(shown.pane.FrameIntervalMs(), everyFrame);
  }

  void transmitPaneEmptiesPastItsLimit_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("kept");
    QTest::newRow("at the limit") << 2000 << true;
    QTest::newRow("one more") << 2001 << false;
    QTest::newRow("a paste of 300 000 lines") << 300000 << false;
  }
  void transmitPaneEmptiesPastItsLimit() {
    QFETCH(int, lines);
    QFETCH(bool, kept);
    QPlainTextEdit view;
    PaneLineLimit limit(&view, 2000);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QString text = QString("typed line\n").repeated(lines);
    text.chop(1);
    view.insertPlainText(text);
    QCOMPARE(view.document()->isEmpty(), !kept);
    if (kept) QCOMPARE(limit.LineCount(), lines);
  }
};

QTEST_MAIN(TestReceivePane)
#include "test_receive_pane.moc"
