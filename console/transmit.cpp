// The transmit path: typed characters to the line, the line ending for Enter, and keying the
// transmitter with RTS — per burst (RTS/CTS mode) or after a delay, held until Enter.

#include <algorithm>
#include <cerrno>

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>

#include "console/counter_arithmetic.h"
#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "console/transmit_pane.h"
#include "console/status_panels.h"
#include "port/ecomport.h"

namespace velmora::console {

namespace {

constexpr char kCR = '\r';
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

// With Alt or Meta held the text Qt reports is the plain key's (Alt+X reports "x"), which is a
// command, not a character. With Ctrl only a control character is one of its own (Ctrl+B is
// STX); Ctrl with a printable text (Ctrl+1 reports "1") is not. AltGr is none of these.
bool IsCharacterOfItsOwn(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  if (modifiers & (Qt::AltModifier | Qt::MetaModifier)) return false;
  if (!(modifiers & Qt::ControlModifier)) return true;
  const QString text = event->text();
  return std::all_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

}  // namespace

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == transmitPane_) {
    if (event->type() == QEvent::KeyPress) {
      OnTransmitPaneKey(static_cast<QKeyEvent*>(event));
    } else if (event->type() == QEvent::InputMethod) {
      // A character composed through an input method (dead keys, compose) is typed too; the
      // text still being composed is not.
      for (QChar key : static_cast<QInputMethodEvent*>(event)->commitString())
        Guarded([&] { OnCharacterTyped(key); });
    }
  }
  return QMainWindow::eventFilter(watched, event);  // the pane shows and edits the key as usual
}

void MainWindow::OnTransmitPaneKey(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:  // an editing key with no character of its own
      return;
    default:
      break;
  }
  if (IsEditingShortcut(event) || !IsCharacterOfItsOwn(event)) return;
  for (QChar key : event->text()) Guarded([&] { OnCharacterTyped(key); });
}

void MainWindow::OnCharacterTyped(QChar key) {
  // A closed port has no line to key: the operator learns it once, not from an error per key.
  if (!port_.Connected()) {
    TellPortClosedOnce();
    return;
  }
  // A character the code page cannot hold has no byte to go out as.
  const std::optional<uint8_t> byte = UnicodeToCp1251(key.unicode());
  if (!byte) return;
  RunSkippingDeviceGoneError([&] { SendCharacter(static_cast<char>(*byte)); });
}

void MainWindow::RunSkippingDeviceGoneError(const std::function<void()>& step) {
  try {
    step();
  } catch (const port::EComPort& e) {
    // The device has just gone and the port has not released it yet: the release reports the
    // loss once, rather than one report for every key typed or event handled meanwhile.
    const int error = e.WinErrorCode();
    if (port_.Connected() && (error == EIO || error == ENXIO || error == ENODEV)) return;
    throw;
  }
}

void MainWindow::SendCharacter(char c) {
  ShowState(QStringLiteral("ПЕРЕДАЧА"));
  const bool enter = c == kCR && !fileSender_.Active();
  const std::string bytes = enter ? LineEnding(options_.lineEnding) : std::string(1, c);

  if (keyingDelay_->isActive()) {
    // The delay after keying still runs: queue behind the held character, so the line gets
    // everything in the order typed and nothing before the transmitter is ready.
    heldBytes_ += bytes;
    heldEnd_ = heldEnd_ || enter;
    return;
  }
  if (bytes.empty()) {
    // Enter that sends nothing still ends the transmission.
    endOfTransmission_ = true;
    return;
  }
  if (!rtsRaised_) {
    // Enter keys the transmitter too: a line ending sent unkeyed never reaches a radio's far
    // station.
    SetRts(true);
    if (options_.rtsCtsMode == 0 && options_.keyingDelayMs > kLongestNoDelay) {
      heldBytes_ = bytes;
      heldEnd_ = enter;
      StartKeyingDelay();
      return;
    }
  }
  WriteAndCount(bytes);
  if (enter) endOfTransmission_ = true;
}

void MainWindow::SendBurst(const std::string& bytes) {
  if (!port_.Connected()) {
    TellPortClosedOnce();
    return;
  }
  if (bytes.empty()) return;
  RunSkippingDeviceGoneError([&] {
    ShowState(QStringLiteral("ПЕРЕДАЧА"));
    // One keying carries the whole burst: it ends the transmission as Enter does.
    if (keyingDelay_->isActive()) {
      heldBytes_ += bytes;
      heldEnd_ = true;
      return;
    }
    if (!rtsRaised_) {
      SetRts(true);
      if (options_.rtsCtsMode == 0 && options_.keyingDelayMs > kLongestNoDelay) {
        heldBytes_ = bytes;
        heldEnd_ = true;
        StartKeyingDelay();
        return;
      }
    }
    WriteAndCount(bytes);
    endOfTransmission_ = true;
  });
}

void MainWindow::WriteAndCount(const std::string& bytes) {
  // A write held back by flow control past its timeout returns short: only what left counts.
  const int written = port_.WriteText(bytes);
  if (written > 0) frameView_->NoteSent(std::string_view(bytes).substr(0, static_cast<size_t>(written)));
  counters_.TxCount = AddWrapping(counters_.TxCount, static_cast<uint32_t>(written));
  ShowCounters();
}

void MainWindow::OnKeyingDelayElapsed() {
  const auto early = keyingDeadline_ - std::chrono::steady_clock::now();
  if (early > std::chrono::steady_clock::duration::zero()) {
    // Even a precise timer may wake a fraction of a millisecond early: wait out the rest.
    keyingDelay_->start(std::chrono::ceil<std::chrono::milliseconds>(early));
    return;
  }
  StopKeyingDelay();
  const std::string bytes = heldBytes_;
  const bool end = std::exchange(heldEnd_, false);
  if (!bytes.empty()) WriteAndCount(bytes);
  if (end) endOfTransmission_ = true;
}

void MainWindow::StartKeyingDelay() {
  keyingDeadline_ =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.keyingDelayMs);
  keyingDelay_->setInterval(options_.keyingDelayMs);
  keyingDelay_->start();
  ArmKeyingDeadline();
}

void MainWindow::ArmKeyingDeadline() {
  // The Qt timer stays the delay's state and its fallback; this ends the delay on time, as a
  // radio's keying needs (the Qt timer would go out up to a millisecond and more late).
  if (!keyingDeadlineTimer_) {
    keyingDeadlineTimer_ = platform::DeadlineTimer::Create();
    if (!keyingDeadlineTimer_) return;  // no timer to be had: the Qt timer alone
    keyingDeadlineNotifier_ = std::make_unique<QSocketNotifier>(keyingDeadlineTimer_->PollHandle(),
                                                                QSocketNotifier::Read);
    connect(keyingDeadlineNotifier_.get(), &QSocketNotifier::activated, this, [this] {
      if (keyingDeadlineTimer_->TakeExpiry() && keyingDelay_->isActive())
        Guarded([this] { OnKeyingDelayElapsed(); });
    });
  }
  keyingDeadlineTimer_->ArmAt(keyingDeadline_);
}

void MainWindow::StopKeyingDelay() {
  keyingDelay_->stop();
  if (keyingDeadlineTimer_) keyingDeadlineTimer_->Disarm();
}

void MainWindow::SetRts(bool on) {
  port_.SetRTSState(on);
  const bool changed = rtsRaised_ != on;
  rtsRaised_ = on;
  if (changed) emit RtsChanged(on);
  statusPanels_->SetPanelText(StatusPanel::Rts, on ? QStringLiteral("RTS") : QString());
}

void MainWindow::RekeyAfterReconfiguration() {
  // New settings set the device's lines from the control modes, as a Windows driver does, so
  // RTS is down now. A transmission the operator keyed goes on keyed, and after the keying
  // delay again: what is typed next must not go out unkeyed.
  if (!rtsRaised_) return;
  if (!port_.Connected()) {
    rtsRaised_ = false;
    statusPanels_->SetPanelText(StatusPanel::Rts, QString());
    return;
  }
  SetRts(true);
  if (options_.rtsCtsMode == 0 && options_.keyingDelayMs > kLongestNoDelay && !keyingDelay_->isActive()) {
    heldBytes_.clear();
    heldEnd_ = false;
    StartKeyingDelay();
  }
}

void MainWindow::OnTransmitEmpty() {
  // RTS drops after each burst in RTS/CTS mode, and after the burst that Enter ended.
  if (options_.rtsCtsMode == 1 || endOfTransmission_) {
    RunSkippingDeviceGoneError([&] { SetRts(false); });
    endOfTransmission_ = false;
  }
  // The file's next character only after the RTS rule: dropping RTS behind a character just
  // written would unkey a radio while that character is still on its way out.
  if (fileSender_.Active()) RunSkippingDeviceGoneError([&] { StepFileSend(); });
}

}  // namespace velmora::console
