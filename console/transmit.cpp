// The transmit path: typed characters to the line, the line ending for Enter, and keying the
// transmitter with RTS — per burst (RTS/CTS mode) or after a delay, held until Enter.

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QTimer>

#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "console/status_panels.h"

namespace velmora::console {

namespace {

constexpr char kCR = '\r';
constexpr int kRtsPanel = 4;
// A delay this short or shorter counts as none.
constexpr int32_t kLongestNoDelay = 10;

std::string LineEnding(int32_t crLfMode) {
  switch (crLfMode) {
    case 1: return "\r\n";
    case 2: return "\r";
    case 3: return "\n";
    default: return {};
  }
}

// Shortcuts that edit the pane rather than type into it; a paste in particular must not put its
// control character on the line.
bool IsEditingShortcut(QKeyEvent* event) {
  for (QKeySequence::StandardKey key :
       {QKeySequence::Paste, QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Undo,
        QKeySequence::Redo, QKeySequence::SelectAll})
    if (event->matches(key)) return true;
  return false;
}

}  // namespace

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo1) {
    if (event->type() == QEvent::KeyPress) {
      HandleMemo1Key(static_cast<QKeyEvent*>(event));
    } else if (event->type() == QEvent::InputMethod) {
      // A character composed through an input method (dead keys, compose) is typed too; the
      // text still being composed is not.
      for (QChar key : static_cast<QInputMethodEvent*>(event)->commitString())
        Guarded([&] { Memo1KeyPress(key); });
    }
  }
  return QMainWindow::eventFilter(watched, event);  // the pane shows and edits the key as usual
}

void TForm1::HandleMemo1Key(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:  // an editing key with no character of its own
      return;
    default:
      break;
  }
  if (IsEditingShortcut(event)) return;
  for (QChar key : event->text()) Guarded([&] { Memo1KeyPress(key); });
}

void TForm1::Memo1KeyPress(QChar key) {
  // A character the code page cannot hold has no byte to go out as.
  const std::optional<uint8_t> byte = UnicodeToCp1251(key.unicode());
  if (!byte) return;
  SendChar(static_cast<char>(*byte));
}

void TForm1::SendChar(char c) {
  ShowState(QStringLiteral("ПЕРЕДАЧА"));
  const bool enter = c == kCR && !FileTransferActive;
  const std::string bytes = enter ? LineEnding(CrLfMode) : std::string(1, c);

  if (Timer1->isActive()) {
    // The delay after keying still runs: queue behind the held character, so the line gets
    // everything in the order typed and nothing before the transmitter is ready.
    PendingChar += bytes;
    pendingEnd_ = pendingEnd_ || enter;
    return;
  }
  if (bytes.empty()) {
    // Enter that sends nothing still ends the transmission.
    EndOfTransmission = true;
    return;
  }
  if (!RtsOn) {
    // Enter keys the transmitter too: a line ending sent unkeyed never reaches a radio's far
    // station.
    SetRtsLine(true);
    if (RtsCtsMode == 0 && TxDelay > kLongestNoDelay) {
      PendingChar = bytes;
      pendingEnd_ = enter;
      StartTxDelay();
      return;
    }
  }
  WriteAndCount(bytes);
  if (enter) EndOfTransmission = true;
}

void TForm1::WriteAndCount(const std::string& bytes) {
  ComPort1.WriteText(bytes);
  TxCount = static_cast<int32_t>(static_cast<uint32_t>(TxCount) + bytes.size());
  ShowRxTx();
}

void TForm1::Timer1Timer() {
  StopTxDelay();
  const std::string bytes = PendingChar;
  const bool end = std::exchange(pendingEnd_, false);
  if (!bytes.empty()) WriteAndCount(bytes);
  if (end) EndOfTransmission = true;
}

void TForm1::StartTxDelay() {
  Timer1->setInterval(TxDelay);
  Timer1->start();
}

void TForm1::StopTxDelay() { Timer1->stop(); }

void TForm1::SetRtsLine(bool on) {
  ComPort1.SetRTSState(on);
  RtsOn = on;
  SB1->SetPanelText(kRtsPanel, on ? QStringLiteral("RTS") : QString());
}

void TForm1::ComPort1TxEmpty() {
  // The file-send part comes first, with the file functions.
  if (RtsCtsMode == 1 || EndOfTransmission) {
    SetRtsLine(false);
    EndOfTransmission = false;
  }
}

}  // namespace velmora::console
