// The receive pane's line count against the pane's own layout, and its limit.
#include "console/receive_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

using velmora::console::ReceivePane;

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
  }
  void countAgreesWithThePanesLayout() {
    QFETCH(int, width);
    QFETCH(QStringList, chunks);
    QPlainTextEdit view;
    ReceivePane pane(&view);
    view.resize(width, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const QString& chunk : chunks) pane.Append(chunk);
    pane.Flush();
    QVERIFY(pane.LineCount() > 1);
    QCOMPARE(pane.LineCount(), LaidOutLines(view));

    view.resize(width + 97, 300);  // the same text wraps anew
    QCOMPARE(pane.LineCount(), LaidOutLines(view));
  }

  void longHexRunReachesTheLimitThroughWrappedLines() {
    QPlainTextEdit view;
    ReceivePane pane(&view);
    view.resize(500, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const int perLine = pane.Columns() / 3;  // whole "41." groups on a line, at least
    QVERIFY(perLine > 0);
    while (pane.LineCount() < ReceivePane::kLineLimit) pane.Append("41.");
    pane.Flush();
    QCOMPARE(pane.LineCount(), ReceivePane::kLineLimit);
    QCOMPARE(view.document()->blockCount(), 1);  // one logical line
    QCOMPARE(LaidOutLines(view), ReceivePane::kLineLimit);
    while (pane.LineCount() == ReceivePane::kLineLimit) pane.Append("41.");
    pane.Flush();
    QCOMPARE(view.toPlainText(), QString());
    QCOMPARE(pane.LineCount(), 0);
  }

  void viewFollowsTheEndOnlyWhileItStandsThere() {
    QPlainTextEdit view;
    ReceivePane pane(&view);
    view.resize(300, 120);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < 100; ++i) pane.Append(QString("line %1\n").arg(i));
    pane.Flush();
    QScrollBar* bar = view.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(3);  // the operator scrolls back to read
    pane.Append("more\n");
    pane.Flush();
    QCOMPARE(bar->value(), 3);
  }
};

QTEST_MAIN(TestReceivePane)
#include "test_receive_pane.moc"
