// Window life (creation, showing, closing), the status bar, menu commands and the port's line
// state handlers.

#include "console/main_window.h"
#include "console/transmit_pane.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/message_presenter.h"
#include "console/port_reconnector.h"
#include "console/receive_pane.h"
#include "console/status_panels.h"
#include "dialogs/about_dialog.h"
#include "dialogs/param_box.h"
#include "port/ecomport.h"
#include "port/qt_port_binding.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

QString FromBytes(const std::string& text) { return DecodeCp1251(text); }

// State words of a lost device: waited for, and back.
const QString kNoDeviceWord = QStringLiteral("НЕТ ПОРТА");
const QString kDeviceBackWord = QStringLiteral("ВОССТАНОВЛЕН");

}  // namespace

MainWindow::~MainWindow() {
  // The port outlives this body (members go after it) and may still report its lines off as
  // it closes; nothing of the half-destroyed window may be reached from there.
  DetachPortHandlers();
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
  port_.OnError = [this](port::TCustomComPort&, port::TComErrors errors) {
    Guarded([&] { OnLineErrors(errors); });
  };
  port_.OnRx80Full = [this](port::TCustomComPort&) {
    Guarded([&] { OnReceiveBufferAlmostFull(); });
  };
  // Any open, the operator's included, ends the wait for a lost device.
  port_.OnAfterOpen = [this](port::TCustomComPort&) { Guarded([&] { reconnector_->StopWatching(); }); };
  port_.OnDeviceLost = [this](port::TCustomComPort&, const port::EComPort&) {
    Guarded([&] { OnDeviceLost(); });
  };
}

void MainWindow::DetachPortHandlers() {
  port_.OnRxChar = nullptr;
  port_.OnTxEmpty = nullptr;
  port_.OnCTSChange = nullptr;
  port_.OnDSRChange = nullptr;
  port_.OnError = nullptr;
  port_.OnRx80Full = nullptr;
  port_.OnAfterOpen = nullptr;
  port_.OnDeviceLost = nullptr;
}

void MainWindow::StartUp() {
  StopKeyingDelay();
  ResetCounters();
  LoadSettingsFile();
  transmitFont_ = transmitPane_->font();
  binding_ = std::make_unique<port::QtPortBinding>(port_);
  reconnector_ = std::make_unique<PortReconnector>(port_, [this] { OpenPortWithLinesDown(); });
  connect(reconnector_.get(), &PortReconnector::reopened, this, [this] { Guarded([&] { OnDeviceReturned(); }); });
  try {
    OpenPortWithLinesDown();
  } catch (const std::exception& e) {
    ShowLinkError(e);
  }
  capturing_ = false;
  sendingFile_ = false;
  captureFileName_.clear();
  sendFileName_.clear();
  fileTransferActive_ = false;
}

void MainWindow::OpenPortWithLinesDown() {
  port_.OpenPort();
  port_.SetDTRState(false);
  SetRts(false);
  endOfTransmission_ = false;
  heldBytes_.clear();
  heldEnd_ = false;
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

void MainWindow::OpenPortGuarded() {
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
  if (!rtsRaised_) ShowState(WaitingForDeviceReturn() ? kNoDeviceWord : QStringLiteral("ОЖИДАНИЕ"));
}

bool MainWindow::WaitingForDeviceReturn() const { return reconnector_ && reconnector_->IsWatching(); }

void MainWindow::OnDeviceLost() {
  // Whatever was keyed or held back for the line went with the device; the port is closed, so
  // RTS is only shown down, not set.
  StopKeyingDelay();
  heldBytes_.clear();
  heldEnd_ = false;
  endOfTransmission_ = false;
  rtsRaised_ = false;
  statusPanels_->SetPanelText(StatusPanel::Rts, QString());
  // A send cannot go on without its device: it ends as if the operator had stopped it, the
  // progress panel showing how far it got. A capture stays open for the device's return.
  if (sendingFile_) {
    sendFileButton_->setChecked(false);
    EndFileSend();
  }
  if (!closed_) reconnector_->WatchForReturn();
  ShowState(WaitingForDeviceReturn() ? kNoDeviceWord : QStringLiteral("ОШИБКА"));
}

void MainWindow::OnDeviceReturned() { ShowState(kDeviceBackWord); }

void MainWindow::OnCtsChanged(bool on) {
  statusPanels_->SetPanelText(StatusPanel::Cts, on ? QStringLiteral("CTS") : QString());
}

void MainWindow::OnDsrChanged(bool on) {
  statusPanels_->SetPanelText(StatusPanel::Dsr, on ? QStringLiteral("DSR") : QString());
}

// --- menu commands and buttons -----------------------------------------------------------

void MainWindow::Exit() { close(); }

void MainWindow::EditPortSettings() {
  bool confirmed = false;
  try {
    confirmed = dialogs::ExecuteParamBox(port_, options_.keyingDelayMs, options_.rtsCtsMode,
                                         options_.lineEnding, options_.viewerPath, transmitFont_, true);
  } catch (const port::EComPort& e) {
    // The port list could not be read: no dialog was shown, nothing changed.
    if (e.ErrorNumber() == port::kErrRegistry) throw;
    // The port chosen could not be opened (or refused its settings): the operator hears it as
    // any failed open, and the summary shows the port as it now stands.
    reconnector_->PortChosen();
    ShowLinkError(e);
    ShowPortSummary();
    RekeyAfterReconfiguration();
    return;
  }
  if (!confirmed) return;
  transmitPane_->setFont(transmitFont_);
  reconnector_->PortChosen();
  RekeyAfterReconfiguration();
  if (!port_.Connected()) OpenPortGuarded();
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
