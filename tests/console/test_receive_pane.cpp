// The receive pane's line count against the pane's own layout, its limit, what the operator
// copies out of it, and that a chunk never makes the pane lay out what it already showed; the
// transmit pane's line limit.
#include "console/receive_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QtTest>

#include "console/cp1251.h"

using velmora::console::PaneLineLimit;
using velmora::console::ReceivePane;
using velmora::console::ReceiveTextView;

namespace {

// Lines as the widget lays them out, asked of the widget itself.
int LaidOutLines(QPlainTextEdit& view) {
  QAbstractTextDocumentLayout* layout = view.document()->documentLayout();
  int lines = 0;
  for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
    if (!block.next().isValid() && block.length() <= 1) break;
    layout->blockBoundingRect(block);
    lines += block.layout()->lineCount();
  }
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

// Counts the characters whose layout a change of the document throws away: the highlighter is
// asked for exactly the blocks a change touched, which are the ones laid out anew.
class RelayoutProbe : public QSyntaxHighlighter {
 public:
  explicit RelayoutProbe(QTextDocument* document) : QSyntaxHighlighter(document) {}
  qsizetype TakeCount() { return std::exchange(characters_, 0); }

 protected:
  void highlightBlock(const QString& text) override { characters_ += text.size(); }

 private:
  qsizetype characters_ = 0;
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
    QCOMPARE(shown.pane.LineCount(), LaidOutLines(shown.view));

    shown.view.resize(width + 97, 300);  // the same text wraps anew
    QCOMPARE(shown.pane.LineCount(), LaidOutLines(shown.view));
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
    QCOMPARE(LaidOutLines(shown.view), ReceivePane::kLineLimit);
    QVERIFY(!pane.Text().contains(u'\n'));  // still one line as far as the data goes
    while (pane.LineCount() == ReceivePane::kLineLimit) pane.Append("41.");
    pane.Flush();
    QCOMPARE(shown.view.toPlainText(), QString());
    QCOMPARE(pane.LineCount(), 0);
  }

  // The cost of a chunk must not grow with what the pane already shows.
  void aChunkLaysOutOnlyWhatItChanged_data() {
    QTest::addColumn<QString>("chunk");
    QTest::newRow("hex view, 58 bytes") << HexRun(58);
    QTest::newRow("text view, CR LF lines") << QString("The quick brown fox 0123456789\r\n");
  }
  void aChunkLaysOutOnlyWhatItChanged() {
    QFETCH(QString, chunk);
    ShownPane shown(500);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    RelayoutProbe probe(shown.view.document());
    qsizetype worst = 0;
    for (int chunks = 0; shown.pane.LineCount() + 10 < ReceivePane::kLineLimit; ++chunks) {
      shown.pane.Append(chunk);
      shown.pane.Flush();
      shown.view.viewport()->repaint();
      worst = std::max(worst, probe.TakeCount());
    }
    QVERIFY(shown.pane.LineCount() > ReceivePane::kLineLimit / 2);
    // The chunk itself and the line it continues, never the pane.
    QVERIFY2(worst <= chunk.size() + shown.pane.Columns(),
             qPrintable(QString("%1 characters laid out for one chunk").arg(worst)));
  }

  void copyGivesWhatArrived() {
    ShownPane shown(300);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    const QString arrived = HexRun(200) + "\r\nname\tvalue\f" + QChar(0xAD) + "\r\n" + HexRun(3);
    shown.pane.Append(arrived);
    shown.pane.Flush();
    QVERIFY(shown.view.document()->blockCount() > 5);  // wrapped by the pane

    shown.view.selectAll();
    shown.view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QString(arrived).replace("\r\n", "\n"));

    // A selection that starts in the middle of a wrapped line and ends in the tab line.
    QTextCursor cursor(shown.view.document());
    cursor.setPosition(10);
    cursor.setPosition(shown.view.document()->findBlockByNumber(4).position() + 2,
                       QTextCursor::KeepAnchor);
    const QString expected = QString(arrived).replace("\r\n", "\n").mid(10, cursor.selectedText().size() - 4);
    QCOMPARE(shown.pane.TextOf(cursor), expected);
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
