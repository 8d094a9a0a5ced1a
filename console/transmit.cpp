// The transmit path: typed characters to the line, the line ending for Enter, and keying the
// transmitter with RTS — per burst (RTS/CTS mode) or after a delay, held until Enter.

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include "console/counter_arithmetic.h"
#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "console/poll_repeater.h"
#include "console/transmit_pane.h"
#include "console/status_panels.h"
#include "port/ecomport.h"

namespace velmora::console {

namespace {

constexpr char kCR = '\r';
// Longer writes go out without holding the window (the transmitter's FIFO takes this many at once).
constexpr size_t kLongestBlockingWrite = 16;
// The state word of a transmitter time-out, red until the operator's next key.
const QString kTimeoutWord = QStringLiteral("ТАЙМАУТ ПРД");

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
  ClearTimeoutWord();
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
  const bool enter = c == kCR && !fileSender_.Active();
  keyer_->Send(enter ? LineEnding(options_.lineEnding) : std::string(1, c), enter);
  ShowTransmitState();
}

void MainWindow::ShowTransmitState() {
  const Keyer::State state = keyer_->CurrentState();
  const bool busy = state == Keyer::State::Busy || state == Keyer::State::Backoff;
  ShowState(busy ? QStringLiteral("КАНАЛ ЗАНЯТ") : QStringLiteral("ПЕРЕДАЧА"));
}

void MainWindow::SendBurst(const std::string& bytes) {
  if (!port_.Connected()) {
    TellPortClosedOnce();
    return;
  }
  if (bytes.empty()) return;
  if (fileSender_.Active()) {
    // It would land in the middle of the file on the line, and a keyed one would end the
    // file's keying with its own.
    AppendMarkerLine(QStringLiteral("Идет передача файла: кадр не отправлен. Отправить его можно после "
                                    "передачи или после ее остановки кнопкой «Передать файл»."));
    return;
  }
  RunSkippingDeviceGoneError([&] {
    // One keying carries the whole burst: it ends the transmission as Enter does.
    keyer_->Send(bytes, true);
    ShowTransmitState();
  });
}

void MainWindow::WriteAndCount(const std::string& bytes) {
  // A typed character is written at once; a frame (or whatever follows one still going out) is
  // written without holding the window for its time on the line, and counted when it has left.
  if (keyer_->Waiting()) {
    // The device holds it for the radio's lead or CTS: a blocking write would hold the window.
    burstWriter_->Write(port_, bytes);
    heldForFrameView_ += bytes;
    return;
  }
  if (bytes.size() > kLongestBlockingWrite || burstWriter_->Pending()) {
    burstWriter_->Write(port_, bytes);
    // The frame view times a frame by its first byte, and what echoes back while it goes out
    // is compared with it: it learns of the frame as it starts.
    frameView_->NoteSent(bytes);
    return;
  }
  // A write held back by flow control past its timeout returns short: only what left counts.
  const int written = port_.WriteText(bytes);
  if (written > 0) frameView_->NoteSent(std::string_view(bytes).substr(0, static_cast<size_t>(written)));
  CountSent(written);
}

void MainWindow::CountSent(int64_t written) {
  if (written <= 0) return;
  counters_.TxCount = AddWrapping(counters_.TxCount, static_cast<uint32_t>(written));
  ShowCounters();
}

void MainWindow::OnBurstWritten(int64_t moved, int error) {
  CountSent(moved);
  // Cut short by the keyer (a time-out purges what waits), by a close, or by the device's loss,
  // which is told once by the release: nothing more to say here.
  if (error == 0 || error == ECANCELED || !port_.Connected()) return;
  RunSkippingDeviceGoneError([&] { throw port::EComPort(port::kErrWriteFile, error); });
}

void MainWindow::CreateKeyer() {
  burstWriter_ = std::make_unique<BurstWriter>([this](int64_t moved, int error) {
    Guarded([&] { OnBurstWritten(moved, error); });
  });
  keyerClock_ = platform::Clock::Steady();
  keyer_ = std::make_unique<Keyer>(*keyerClock_, static_cast<KeyerOutput&>(*this),
                                   [this] { return CurrentKeyerSettings(); });
}

KeyerSettings MainWindow::CurrentKeyerSettings() const {
  KeyerSettings s;
  s.rtsCtsMode = options_.rtsCtsMode != 0;
  s.keyingDelayMs = options_.keyingDelayMs;
  s.leadMs = options_.txLeadMs;
  s.tailMs = options_.txTailMs;
  s.ctsWaitMs = options_.ctsWaitMs;
  s.busyWaitMs = options_.busyWaitMs;
  s.busyBackoffMs = options_.busyBackoffMs;
  s.timeoutS = options_.txTimeoutS;
  s.lockoutS = options_.txLockoutS;
  s.rtsInvert = options_.rtsInvert != 0;
  return s;
}

void MainWindow::OnKeyingDelayElapsed() {
  if (!keyer_->Deadline()) return;
  RunSkippingDeviceGoneError([&] { keyer_->TimerExpired(); });
}

void MainWindow::StopKeyingDelay() { keyer_->DropHeld(); }

void MainWindow::SetRts(bool on) { keyer_->ForceRts(on); }

void MainWindow::RekeyAfterReconfiguration() { keyer_->Reconfigured(port_.Connected()); }

void MainWindow::OnTransmitEmpty() {
  RunSkippingDeviceGoneError([&] { keyer_->TransmitEmpty(); });
  // The file's next character only after the RTS rule: dropping RTS behind a character just
  // written would unkey a radio while that character is still on its way out.
  if (fileSender_.Active()) RunSkippingDeviceGoneError([&] { StepFileSend(); });
}

// --- what the keyer drives ------------------------------------------------------------------

void MainWindow::SetRtsLevel(bool high) { port_.SetRTSState(high); }

int MainWindow::Write(const std::string& bytes) {
  const uint32_t before = counters_.TxCount;
  WriteAndCount(bytes);
  return static_cast<int>(counters_.TxCount - before);
}

void MainWindow::DiscardOutput() {
  heldForFrameView_.clear();
  // What the driver still holds would go out unkeyed; a purge that fails leaves it to be lost
  // on the air, which the time-out has already made sure of.
  if (platform::CommDevice* device = port_.Handle())
    (void)device->PurgeComm(platform::PURGE_TXABORT | platform::PURGE_TXCLEAR);
}

bool MainWindow::HoldOutput(std::chrono::milliseconds lead, bool untilCts) {
  platform::CommDevice* device = port_.Handle();
  return device && device->HoldOutput(lead, untilCts);
}

void MainWindow::ReleaseOutput() {
  if (platform::CommDevice* device = port_.Handle()) device->ReleaseOutput();
}

bool MainWindow::SetRtsAfterDrain(std::chrono::milliseconds tail, bool level) {
  platform::CommDevice* device = port_.Handle();
  return device && device->SetRtsAfterDrain(tail, level);
}

std::optional<bool> MainWindow::TransmittingNow() {
  platform::CommDevice* device = port_.Handle();
  return device ? device->Transmitting() : std::nullopt;
}

bool MainWindow::CancelRtsAfterDrain() {
  platform::CommDevice* device = port_.Handle();
  return device && device->CancelRtsAfterDrain();
}

void MainWindow::HeldOutputReleased() { frameView_->NoteSent(std::exchange(heldForFrameView_, {})); }

void MainWindow::ArmTimer(platform::Clock::TimePoint at) {
  // Timer1 is the wait's state and its fallback; the deadline timer ends it on time, as a
  // radio's keying needs (the Qt timer would go out up to a millisecond and more late). A
  // wake-up before `at` is waited out by the keyer.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - keyerClock_->Now());
  keyingDelay_->setInterval(std::max(wait, std::chrono::milliseconds(0)));
  keyingDelay_->start();
  if (!keyingDeadlineTimer_) {
    keyingDeadlineTimer_ = platform::DeadlineTimer::Create();
    if (!keyingDeadlineTimer_) return;  // no timer to be had: the Qt timer alone
    keyingDeadlineNotifier_ = std::make_unique<QSocketNotifier>(keyingDeadlineTimer_->PollHandle(),
                                                                QSocketNotifier::Read);
    connect(keyingDeadlineNotifier_.get(), &QSocketNotifier::activated, this, [this] {
      if (keyingDeadlineTimer_->TakeExpiry()) Guarded([this] { OnKeyingDelayElapsed(); });
    });
  }
  keyingDeadlineTimer_->ArmAt(at);
}

void MainWindow::DisarmTimer() {
  keyingDelay_->stop();
  if (keyingDeadlineTimer_) keyingDeadlineTimer_->Disarm();
}

void MainWindow::KeyingChanged(bool keyed, bool changed) {
  if (changed) emit RtsChanged(keyed);
  statusPanels_->SetPanelText(StatusPanel::Rts, keyed ? QStringLiteral("RTS") : QString());
  // Between a poll's frames the state says the polls go on, at once rather than at the next idle
  // tick, which a short period would keep finding keyed.
  if (changed && !keyed && polls_ && polls_->AnyRunning()) ShowState(polls_->StateWord());
}

void MainWindow::Abandoned(KeyerAbandon why, size_t dropped) {
  const QString lost = QStringLiteral("не отправлено символов: %1").arg(dropped);
  QString told;
  switch (why) {
    case KeyerAbandon::CtsWait:
      told = QStringLiteral("Радиостанция не дала CTS за %1 мс: передача отменена, %2.")
                 .arg(options_.ctsWaitMs)
                 .arg(lost);
      ShowState(QStringLiteral("НЕТ CTS"));
      break;
    case KeyerAbandon::BusyWait:
      told = QStringLiteral("Канал занят дольше %1 мс: передача отменена, %2.")
                 .arg(options_.busyWaitMs)
                 .arg(lost);
      ShowState(QStringLiteral("КАНАЛ ЗАНЯТ"));
      break;
    case KeyerAbandon::Timeout: {
      // A send cannot go on unkeyed: it ends as if the operator had stopped it.
      if (fileSender_.Active()) {
        sendFileButton_->setChecked(false);
        EndFileSend();
      }
      told = QStringLiteral("Таймаут передатчика: RTS был поднят %1 с и снят, %2.")
                         .arg(options_.txTimeoutS)
                         .arg(lost);
      if (options_.txLockoutS > 0)
        told += QStringLiteral(" Следующая передача не раньше чем через %1 с.").arg(options_.txLockoutS);
      ShowState(kTimeoutWord);
      statusPanels_->Panel(StatusPanel::State)->setStyleSheet(QStringLiteral("color: red"));
      timeoutShown_ = true;
      break;
    }
  }
  AppendMarkerLine(told);
  sessionLog_.WriteEvent(told);
  emit BurstAbandoned(why, static_cast<int>(dropped));
}

void MainWindow::ChannelBusy(bool busy) {
  ShowState(busy ? QStringLiteral("КАНАЛ ЗАНЯТ") : QStringLiteral("ПЕРЕДАЧА"));
}

std::optional<bool> MainWindow::CarrierNow() { return LineNow(port::lsRLSD); }

std::optional<bool> MainWindow::CtsNow() { return LineNow(port::lsCTS); }

std::optional<bool> MainWindow::LineNow(port::TLineSignal line) {
  if (!port_.Connected()) return std::nullopt;
  try {
    return port_.LineSignals().Has(line);
  } catch (const port::EComPort&) {
    return std::nullopt;  // the last reported state stands
  }
}

void MainWindow::ClearTimeoutWord() {
  if (!std::exchange(timeoutShown_, false)) return;
  statusPanels_->Panel(StatusPanel::State)->setStyleSheet(QString());
}

}  // namespace velmora::console
