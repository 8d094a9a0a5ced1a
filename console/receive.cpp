// The receive path: received bytes to the receive pane in the chosen display form, line error
// markers to the transmit pane, and the receive counters.

#include <array>

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QToolButton>

#include "console/cp1251.h"
#include "console/display_forms.h"
#include "console/main_window.h"
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

std::string TForm1::ConvertForDisplay(const std::string& chunk) const {
  if (SButton2->isChecked()) return ToHexText(chunk);
  if (SButton3->isChecked()) return ToBinText(chunk);
  return chunk;
}

void TForm1::ComPort1RxChar(int Count) {
  ShowState(QStringLiteral("ПРИЕМ"));
  std::string chunk;
  ComPort1.ReadText(chunk, Count);
  const std::string shown = ConvertForDisplay(chunk);
  // While a capture runs the chunk goes to the capture file instead; that comes with the file
  // functions.
  if (!Capturing) receivePane_->Append(DecodeCp1251(shown));
  // The count the event reported, whatever the read returned; wraps like the 32-bit counter
  // it is rather than overflowing.
  RxCount = static_cast<int32_t>(static_cast<uint32_t>(RxCount) + static_cast<uint32_t>(Count));
  ShowRxTx();
}

void TForm1::ComPort1Error(port::TComErrors Errors) {
  ++ComErrorCount;
  ShowState(QStringLiteral("ТАЙМАУТ"));
  for (const Marker& marker : kMarkers)
    if (Errors.Has(marker.error)) AppendMarkerLine(QString::fromLatin1(marker.text));
}

void TForm1::AppendMarkerLine(const QString& marker) {
  // A line of its own at the end, wherever the operator's caret stands.
  QTextCursor cursor(Memo1->document());
  cursor.movePosition(QTextCursor::End);
  if (cursor.position() > 0 && !cursor.block().text().isEmpty()) cursor.insertBlock();
  cursor.insertText(marker);
  cursor.insertBlock();
}

void TForm1::ComPort1Rx80Full() { ++BufErrorCount; }

}  // namespace velmora::console
