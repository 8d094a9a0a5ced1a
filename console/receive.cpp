// The receive path: received bytes to the receive pane in the chosen display form, line error
// markers to the transmit pane, and the receive counters.

#include <array>

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

#include "console/counter_arithmetic.h"
#include "console/cp1251.h"
#include "console/display_forms.h"
#include "console/main_window.h"
#include "port/device_config.h"
#include "console/transmit_pane.h"
#include "console/receive_pane.h"

namespace velmora::console {

namespace {

struct Marker {
  port::TLineError error;
  const char* text;
};

// In the order they are added to the pane.
constexpr std::array<Marker, 8> kMarkers = {{
    {port::erFrame, "<Framing Error>"},
    {port::erRxParity, "<Rx Parity Error>"},
    {port::erOverrun, "<Buffer Overrun>"},
    {port::erBreak, "<BREAK>"},
    {port::erIO, "<I/O Error>"},
    {port::erMode, "<Mode is not Supported>"},
    {port::erRxOver, "<Input Buffer Overflow>"},
    {port::erTxFull, "<Output Buffer is Full>"},
}};

}  // namespace

std::string MainWindow::ConvertForDisplay(const std::string& chunk) const {
  if (hexButton_->isChecked()) return ToHexText(chunk);
  if (binButton_->isChecked()) return ToBinText(chunk);
  return chunk;
}

void MainWindow::OnBytesReceived(int count) {
  ShowState(QStringLiteral("ПРИЕМ"));
  std::string chunk;
  // The arrival times only where frames are cut: taking them costs every chunk.
  const bool frames = frameView_->LinesWanted() && !linkTestBytes_;
  if (frames)
    port_.ReadTextTimed(chunk, count, arrivalTimes_);
  else
    port_.ReadText(chunk, count);
  // A link test under way takes its echoes: they are not the operator's traffic.
  if (linkTestBytes_) {
    linkTestBytes_(chunk);
    return;
  }
  if (frames) frameView_->NoteReceived(chunk, arrivalTimes_);
  if (!framesButton_->isChecked()) {
    const std::string shown = ConvertForDisplay(chunk);
    // While a capture runs the chunk goes to the capture file instead of the pane.
    if (capture_.Active())
      WriteCapture(shown);
    else
      receivePane_->Append(DecodeCp1251(shown));
  }
  // The count the event reported, whatever the read returned; wraps like the 32-bit counter
  // it is rather than overflowing.
  counters_.RxCount = AddWrapping(counters_.RxCount, static_cast<uint32_t>(count));
  ShowCounters();
}

void MainWindow::OnLineErrors(port::TComErrors errors) {
  if (linkTestErrors_) {
    linkTestErrors_(errors.Has(port::erBreak));
    return;
  }
  counters_.ComErrorCount = AddWrapping(counters_.ComErrorCount, 1);
  ShowState(QStringLiteral("ТАЙМАУТ"));
  QStringList shown;
  for (const Marker& marker : kMarkers)
    if (errors.Has(marker.error)) shown << QString::fromLatin1(marker.text);
  for (const QString& marker : shown) {
    AppendMarkerLine(marker);
    frameView_->NoteLineError(marker);
  }
  SessionLogFile().WriteEvent(QStringLiteral("Ошибка линии: ") + shown.join(u' '));
}

FrameClock::duration MainWindow::FrameGap() const {
  const port::LineValues line = port_.CurrentLineValues();
  const int dataBits = 5 + static_cast<int>(line.DataBits);
  const double stopBits = line.StopBits == port::sbOneStopBit ? 1 : line.StopBits == port::sbOne5StopBits ? 1.5 : 2;
  return FrameGapFor(port::BaudRateValue(line.BaudRate, line.CustomBaudRate), dataBits,
                     line.Parity.Bits != port::prNone, stopBits, options_.frameGapMs);
}

void MainWindow::OnFrameLine(const QString& line) {
  if (!framesButton_->isChecked()) return;
  // The capture keeps the lines as the pane shows them; arrows and marks need more than the
  // code page has, so the file is UTF-8 with the system's line ends.
  if (capture_.Active())
    WriteCapture((line + u'\n').toStdString());
  else
    receivePane_->AppendLine(line);
}

void MainWindow::AppendMarkerLine(const QString& marker) {
  // A line of its own at the end, wherever the operator's caret stands, added as one change so
  // that the pane's line limit sees the pane before or after it, never half-way.
  QTextDocument* document = transmitPane_->document();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  const bool breakFirst = cursor.position() > 0 && !cursor.block().text().isEmpty();
  const QString line = marker + u'\n';
  cursor.insertText(breakFirst ? u'\n' + line : line);
  // The marker took the pane past its limit and the pane emptied: the marker opens the new page
  // rather than being lost with the old one.
  if (document->isEmpty()) QTextCursor(document).insertText(line);
}

void MainWindow::OnReceiveBufferAlmostFull() {
  counters_.BufErrorCount = AddWrapping(counters_.BufErrorCount, 1);
}

}  // namespace velmora::console
