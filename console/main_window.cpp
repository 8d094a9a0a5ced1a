// Window life (creation, showing, closing), the status bar, menu commands and the port's line
// state handlers.

#include "console/main_window.h"
#include "console/transmit_pane.h"

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/message_presenter.h"
#include "console/poll_repeater.h"
#include "console/port_reconnector.h"
#include "console/receive_pane.h"
#include "console/status_panels.h"
#include "dialogs/about_dialog.h"
#include "dialogs/keying_group.h"
#include "dialogs/param_box.h"
#include "port/ecomport.h"
#include "port/list_ports.h"
#include "port/qt/qt_port_binding.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

// The keyer's options as the parameters dialog's group shows them, and back.
dialogs::KeyingExtras KeyingExtrasOf(const ConsoleOptions& o) {
  return {o.txLeadMs, o.txTailMs, o.ctsWaitMs, o.busyWaitMs, o.busyBackoffMs, o.txTimeoutS, o.txLockoutS, o.rtsInvert != 0};
}

void TakeKeyingExtras(const dialogs::KeyingExtras& e, ConsoleOptions& o) {
  o.txLeadMs = e.leadMs;
  o.txTailMs = e.tailMs;
  o.ctsWaitMs = e.ctsWaitMs;
  o.busyWaitMs = e.busyWaitMs;
  o.busyBackoffMs = e.busyBackoffMs;
  o.txTimeoutS = e.timeoutS;
  o.txLockoutS = e.lockoutS;
  o.rtsInvert = e.rtsInvert ? 1 : 0;
}

QString FromBytes(const std::string& text) { return DecodeCp1251(text); }

// State words beside the described ones: the port closed (never opened, refused, or its device
// lost), another adapter at a lost one's name, and the lost device back.
const QString kNoPortWord = QStringLiteral("НЕТ ПОРТА");
const QString kForeignDeviceWord = QStringLiteral("НЕ ТОТ ПОРТ");
const QString kDeviceBackWord = QStringLiteral("ВОССТАНОВЛЕН");

const QString kHowToOpen = QStringLiteral("Параметры → Настройка порта");

// A device's name is the file system's, in the system's encoding.
QString DeviceName(const std::string& name) { return QString::fromLocal8Bit(name); }

// Calls `action` once, at the first key press or mouse click the program gets, wherever it goes.
class NextActionWatch final : public QObject {
 public:
  NextActionWatch(std::function<void()> action, QObject* parent)
      : QObject(parent), action_(std::move(action)) {
    qApp->installEventFilter(this);
  }
  ~NextActionWatch() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (action_ && (type == QEvent::KeyPress || type == QEvent::MouseButtonPress)) {
      // The action may delete this watch; nothing of it is used afterwards.
      std::function<void()> action = std::move(action_);
      action_ = nullptr;
      action();
    }
    return false;
  }

 private:
  std::function<void()> action_;
};

}  // namespace

MainWindow::~MainWindow() {
  // The port outlives this body (members go after it) and may still report its lines off as
  // it closes; nothing of the half-destroyed window may be reached from there.
  port_.ClearHandlers();
  // Closed here, while the binding that serves its deliveries still exists.
  try {
    port_.ClosePort();
  } catch (...) {
    port::ShowCurrentException();
  }
}

void MainWindow::AttachPortHandlers() {
  // The engine calls these inside its delivery onto this thread; each is a handler boundary.
  port_.OnRxChar = [this](port::TCustomComPort&, int count) {
    Guarded([&] { OnBytesReceived(count); });
  };
  port_.OnTxEmpty = [this](port::TCustomComPort&) { Guarded([&] { OnTransmitEmpty(); }); };
  port_.OnCTSChange = [this](port::TCustomComPort&, bool on) {
    Guarded([&] { OnCtsChanged(on); });
  };
  port_.OnDSRChange = [this](port::TCustomComPort&, bool on) {
    Guarded([&] { OnDsrChanged(on); });
  };
  port_.OnRLSDChange = [this](port::TCustomComPort&, bool on) {
    Guarded([&] { OnDcdChanged(on); });
  };
  port_.OnError = [this](port::TCustomComPort&, port::TComErrors errors) {
    Guarded([&] { OnLineErrors(errors); });
  };
  port_.OnRx80Full = [this](port::TCustomComPort&) {
    Guarded([&] { OnReceiveBufferAlmostFull(); });
  };
  // Any open, the operator's included, ends the wait for a lost device; the device it opened is
  // the one a later loss waits for.
  port_.OnAfterOpen = [this](port::TCustomComPort&) {
    Guarded([&] {
      closedPortTold_ = false;
      LogPortOpened();
      if (port_.LowLatency() == platform::LowLatencyAnswer::Refused)
        frameView_->NoteLowLatencyRefused(QString::fromStdString(port_.Port()));
      if (!reconnector_) return;
      reconnector_->StopWatching();
      reconnector_->RememberDevice();
    });
  };
  port_.OnDeviceLost = [this](port::TCustomComPort&, const port::EComPort& reason) {
    Guarded([&] { OnDeviceLost(reason); });
  };
  AttachSessionLog();
}

void MainWindow::StartUp() {
  StopKeyingDelay();
  ResetCounters();
  LoadSettingsFile();
  transmitFont_ = transmitPane_->font();
  binding_ = std::make_unique<port::QtPortBinding>(port_);
  reconnector_ = std::make_unique<PortReconnector>(
      port_, [this] { OpenPortWithLinesDown(); }, sysfsRoot_);
  connect(reconnector_.get(), &PortReconnector::reopened, this, [this] { Guarded([&] { OnDeviceReturned(); }); });
  connect(reconnector_.get(), &PortReconnector::foreignDeviceFound, this,
          [this](const QString& found, const QString& lost) {
            Guarded([&] { OnForeignDeviceFound(found, lost); });
          });
  if (!portChosen_) {
    // The design-time COM1 is a name no Linux machine has: a new user meets the window and how to
    // choose a port, not a refusal of one never chosen.
    ShowFirstStartGuide();
  } else {
    try {
      OpenPortWithLinesDown();
    } catch (const std::exception& e) {
      ShowLinkError(e);
    }
  }
  capture_.Forget();
  fileSender_.Forget();
}

void MainWindow::OpenPortWithLinesDown() {
  port_.OpenPort();
  port_.SetDTRState(false);
  SetRts(false);
  keyer_->Forget();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  Guarded([&] { FocusTransmitPane(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  Guarded([&] { RunCloseSequence(); });
  event->accept();  // the close is never refused
  emit Closed();
}

void MainWindow::RunCloseSequence() {
  // The window manager, the menu and a stop signal may all ask; the sequence runs once.
  if (closed_) return;
  closed_ = true;
  reconnector_->StopWatching();
  SaveSettingsFile();
  if (!port_.Connected()) return;
  try {
    SetRts(false);
    port_.ClosePort();
  } catch (const std::exception& e) {
    ShowLinkError(e);
  }
}

void MainWindow::OpenPortOrShowError() {
  try {
    port_.OpenPort();
  } catch (const std::exception& e) {
    ShowLinkError(e);
  }
}

// --- status bar -------------------------------------------------------------------------

QString MainWindow::PanelText(StatusPanel panel) const { return statusPanels_->PanelText(panel); }

void MainWindow::ShowState(const QString& word) {
  statusPanels_->SetPanelText(StatusPanel::State, word);
}

void MainWindow::ShowCounters() {
  statusPanels_->SetPanelText(StatusPanel::Rx, QStringLiteral("Rx: %1").arg(counters_.RxCount));
  statusPanels_->SetPanelText(StatusPanel::Tx, QStringLiteral("Tx: %1").arg(counters_.TxCount));
}

void MainWindow::ResetCounters() {
  counters_ = Figures{};
  ShowCounters();
}

dialogs::TrafficCounters::Figures MainWindow::CounterFigures() const { return counters_; }

void MainWindow::ShowPortSummary() {
  const QStringList parts = {
      FromBytes(port_.Port()),
      FromBytes(port::BaudRateText(port_.BaudRate())),
      FromBytes(port::DataBitsText(port_.DataBits())),
      FromBytes(port::StopBitsText(port_.StopBits())),
      FromBytes(port::ParityText(port_.Parity().Bits())),
      FromBytes(port::FlowControlText(port_.FlowControl().FlowControl())),
  };
  statusPanels_->SetPanelText(StatusPanel::PortSummary, parts.join(QStringLiteral(", ")));
}

void MainWindow::FocusTransmitPane() { transmitPane_->setFocus(); }

void MainWindow::OnIdleTick() {
  // A transmission keyed or waiting for its keying, and the time-out's word, keep theirs.
  if (RtsRaised() || keyer_->CurrentState() != Keyer::State::Idle || timeoutShown_) return;
  // The return stays in view until the operator's next action; a word that has replaced it since
  // (a reception) ends that, and the tick goes on as usual.
  if (nextActionWatch_) {
    if (PanelText(StatusPanel::State) == kDeviceBackWord) return;
    delete nextActionWatch_;
    nextActionWatch_ = nullptr;
  }
  if (port_.Connected())
    ShowState(polls_ && polls_->AnyRunning() ? polls_->StateWord() : QStringLiteral("ОЖИДАНИЕ"));
  else
    ShowState(reconnector_ && reconnector_->ForeignDeviceAtPath() ? kForeignDeviceWord : kNoPortWord);
}

bool MainWindow::WaitingForDeviceReturn() const { return reconnector_ && reconnector_->IsWatching(); }

void MainWindow::OnDeviceLost(const port::EComPort& reason) {
  // Whatever was keyed or held back for the line went with the device; the port is closed, so
  // RTS is only shown down, not set.
  keyer_->Forget();
  // A send cannot go on without its device: it ends as if the operator had stopped it, the
  // progress panel showing how far it got. A capture stays open for the device's return.
  if (fileSender_.Active()) {
    sendFileButton_->setChecked(false);
    EndFileSend();
  }
  delete nextActionWatch_;
  nextActionWatch_ = nullptr;
  if (!closed_) reconnector_->WatchForReturn();
  QString line = QString::fromLocal8Bit(reason.Detail());
  if (line.isEmpty())
    line = QStringLiteral("Устройство %1 потеряно; порт закрыт").arg(DeviceName(port_.Port()));
  line += WaitingForDeviceReturn() ? QStringLiteral(". Когда оно вернётся, порт откроется сам.")
                                   : QStringLiteral(". Открыть порт снова: ") + kHowToOpen + u'.';
  AppendMarkerLine(line);
  sessionLog_.WriteEvent(line);
  ShowState(kNoPortWord);
  emit DeviceLost(line);
}

void MainWindow::OnDeviceReturned() {
  AppendMarkerLine(QStringLiteral("Устройство %1 вернулось; порт открыт снова с прежними настройками.")
                       .arg(DeviceName(port_.Port())));
  sessionLog_.WriteEvent(QStringLiteral("Устройство %1 вернулось").arg(DeviceName(port_.Port())));
  ShowState(kDeviceBackWord);
  HoldReturnWordUntilNextAction();
}

void MainWindow::HoldReturnWordUntilNextAction() {
  delete nextActionWatch_;
  nextActionWatch_ = new NextActionWatch(
      [this] {
        nextActionWatch_->deleteLater();
        nextActionWatch_ = nullptr;
      },
      this);
}

void MainWindow::OnForeignDeviceFound(const QString& found, const QString& lost) {
  AppendMarkerLine(
      QStringLiteral("На месте %1 теперь другой адаптер (%2); он не открыт. Порт откроется, когда "
                     "вернётся прежний (%3). Выбрать другой порт: %4.")
          .arg(DeviceName(reconnector_->WatchedPort()), found, lost, kHowToOpen));
  ShowState(kForeignDeviceWord);
}

void MainWindow::ShowFirstStartGuide() {
  QString line =
      QStringLiteral("Порт ещё не выбран, и ничего не открыто. Выбрать порт: ") + kHowToOpen + u'.';
  try {
    std::vector<std::string> names;
    port::ListSerialPorts(names, *port_.Directory(), std::filesystem::path(sysfsRoot_) / "class" / "tty");
    // The simulated devices are always there; the operator wants to know the real ones.
    QStringList adapters;
    const std::vector<std::string> simulated = port_.Directory()->SimulatedNames();
    for (const std::string& name : names)
      if (std::find(simulated.begin(), simulated.end(), name) == simulated.end())
        adapters << DeviceName(name);
    line += adapters.isEmpty() ? QStringLiteral(" Последовательных адаптеров на этом компьютере не найдено.")
                               : QStringLiteral(" Последовательные адаптеры на этом компьютере: ") +
                                     adapters.join(QStringLiteral(", ")) + u'.';
  } catch (const std::exception&) {
    // Without the list the line still says how to choose.
  }
  AppendMarkerLine(line);
  ShowState(kNoPortWord);
}

void MainWindow::TellPortClosedOnce() {
  if (closedPortTold_) return;
  closedPortTold_ = true;
  AppendMarkerLine(
      WaitingForDeviceReturn()
          ? QStringLiteral("Порт закрыт, пока не вернётся устройство %1: набранное никуда не "
                           "уходит. Выбрать другой порт: %2.")
                .arg(DeviceName(reconnector_->WatchedPort()), kHowToOpen)
          : QStringLiteral("Порт закрыт: набранное никуда не уходит. Открыть порт: %1.").arg(kHowToOpen));
  ShowState(kNoPortWord);
}

void MainWindow::OnCtsChanged(bool on) {
  statusPanels_->SetPanelText(StatusPanel::Cts, on ? QStringLiteral("CTS") : QString());
  RunSkippingDeviceGoneError([&] { keyer_->Cts(on); });
}

void MainWindow::OnDcdChanged(bool on) { RunSkippingDeviceGoneError([&] { keyer_->Dcd(on); }); }

void MainWindow::OnDsrChanged(bool on) {
  statusPanels_->SetPanelText(StatusPanel::Dsr, on ? QStringLiteral("DSR") : QString());
}

// --- menu commands and buttons -----------------------------------------------------------

void MainWindow::Exit() { close(); }

void MainWindow::EditPortSettings() {
  bool confirmed = false;
  try {
    dialogs::KeyingExtras extras = KeyingExtrasOf(options_);
    confirmed = dialogs::ExecuteParamBox(port_, options_.keyingDelayMs, options_.rtsCtsMode,
                                         options_.lineEnding, options_.viewerPath, transmitFont_, true,
                                         &options_.sessionLogFolder, &extras, &options_.frameGapMs);
    if (confirmed) TakeKeyingExtras(extras, options_);
  } catch (const port::EComPort& e) {
    // The port list could not be read: no dialog was shown, nothing changed.
    if (e.ErrorNumber() == port::kErrRegistry) throw;
    // The port chosen could not be opened (or refused its settings): the operator hears it as
    // any failed open, and the summary shows the port as it now stands.
    portChosen_ = true;
    reconnector_->PortChosen();
    ShowLinkError(e);
    ShowPortSummary();
    RekeyAfterReconfiguration();
    return;
  }
  if (!confirmed) return;
  transmitPane_->setFont(transmitFont_);
  portChosen_ = true;
  reconnector_->PortChosen();
  RekeyAfterReconfiguration();
  if (!port_.Connected()) OpenPortOrShowError();
  FollowSessionLogFolder();
  SaveSettingsFile();
  ShowPortSummary();
}

void MainWindow::ShowAbout() { dialogs::ExecuteAboutBox(this); }

void MainWindow::ShowStatistics() { dialogs::ExecuteStatForm(this, *this); }

void MainWindow::ClearTransmitPane() {
  transmitPane_->clear();
  FocusTransmitPane();
}

void MainWindow::ClearReceivePane() {
  receivePane_->Clear();
  FocusTransmitPane();
}

}  // namespace velmora::console
