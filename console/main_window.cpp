// Window life (creation, showing, closing), the status bar, menu commands and the port's line
// state handlers.

#include "console/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "console/guarded.h"
#include "console/message_presenter.h"
#include "console/receive_pane.h"
#include "console/status_panels.h"
#include "dialogs/about_box.h"
#include "dialogs/param_box.h"
#include "port/qt_port_binding.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

enum Panel : int {
  kSummaryPanel = 0, kStatePanel = 1, kRxPanel = 2, kTxPanel = 3,
  kRtsPanel = 4, kCtsPanel = 5, kDsrPanel = 6, kProgressPanel = 7
};

QString FromBytes(const std::string& text) { return QString::fromLocal8Bit(text); }

}  // namespace

TForm1::~TForm1() {
  // The port outlives this body (members go after it) and may still report its lines off as
  // it closes; nothing of the half-destroyed window may be reached from there.
  DetachPortHandlers();
  // Closed here, while the binding that serves its deliveries still exists.
  try {
    ComPort1.ClosePort();
  } catch (...) {
    port::ShowCurrentException();
  }
}

void TForm1::AttachPortHandlers() {
  // The engine calls these inside its delivery onto this thread; each is a handler boundary.
  ComPort1.OnRxChar = [this](port::TCustomComPort&, int count) {
    Guarded([&] { ComPort1RxChar(count); });
  };
  ComPort1.OnTxEmpty = [this](port::TCustomComPort&) { Guarded([&] { ComPort1TxEmpty(); }); };
  ComPort1.OnCTSChange = [this](port::TCustomComPort&, bool on) {
    Guarded([&] { ComPort1CTSChange(on); });
  };
  ComPort1.OnDSRChange = [this](port::TCustomComPort&, bool on) {
    Guarded([&] { ComPort1DSRChange(on); });
  };
  ComPort1.OnError = [this](port::TCustomComPort&, port::TComErrors errors) {
    Guarded([&] { ComPort1Error(errors); });
  };
  ComPort1.OnRx80Full = [this](port::TCustomComPort&) { Guarded([&] { ComPort1Rx80Full(); }); };
}

void TForm1::DetachPortHandlers() {
  ComPort1.OnRxChar = nullptr;
  ComPort1.OnTxEmpty = nullptr;
  ComPort1.OnCTSChange = nullptr;
  ComPort1.OnDSRChange = nullptr;
  ComPort1.OnError = nullptr;
  ComPort1.OnRx80Full = nullptr;
}

void TForm1::FormCreate() {
  StopTxDelay();
  ResetCounters();
  LoadSettingsFile();
  ConsoleFont = Memo1->font();
  binding_ = std::make_unique<port::QtPortBinding>(ComPort1);
  try {
    ComPort1.OpenPort();
    ComPort1.SetDTRState(false);
    SetRtsLine(false);
    EndOfTransmission = false;
    PendingChar.clear();
    pendingEnd_ = false;
  } catch (const std::exception& e) {
    ShowLinkError(FromBytes(e.what()));
  }
  Capturing = false;
  SendingFile = false;
  CaptureFileName.clear();
  SendFileName.clear();
  FileTransferActive = false;
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  Guarded([&] { FormShow(); });
}

void TForm1::FormShow() { FocusInput(); }

void TForm1::closeEvent(QCloseEvent* event) {
  Guarded([&] { FormCloseQuery(); });
  event->accept();  // the close is never refused
}

void TForm1::FormCloseQuery() {
  // The window manager, the menu and a stop signal may all ask; the sequence runs once.
  if (closed_) return;
  closed_ = true;
  SaveSettingsFile();
  if (!ComPort1.Connected()) return;
  try {
    SetRtsLine(false);
    ComPort1.ClosePort();
  } catch (const std::exception& e) {
    ShowLinkError(FromBytes(e.what()));
  }
}

void TForm1::OpenPortGuarded() {
  try {
    ComPort1.OpenPort();
  } catch (const std::exception& e) {
    ShowLinkError(FromBytes(e.what()));
  }
}

// --- status bar -------------------------------------------------------------------------

QString TForm1::PanelText(int panel) const { return SB1->PanelText(panel); }

void TForm1::ShowState(const QString& word) { SB1->SetPanelText(kStatePanel, word); }

void TForm1::ShowRxTx() {
  SB1->SetPanelText(kRxPanel, QStringLiteral("Rx: %1").arg(RxCount));
  SB1->SetPanelText(kTxPanel, QStringLiteral("Tx: %1").arg(TxCount));
}

void TForm1::ResetCounters() {
  TxCount = 0;
  RxCount = 0;
  ComErrorCount = 0;
  BufErrorCount = 0;
  ShowRxTx();
}

dialogs::TrafficCounters::Figures TForm1::CounterFigures() const {
  return {RxCount, TxCount, ComErrorCount, BufErrorCount};
}

void TForm1::ShowPortSummary() {
  const QStringList parts = {
      FromBytes(ComPort1.Port()),
      FromBytes(port::BaudRateText(ComPort1.BaudRate())),
      FromBytes(port::DataBitsText(ComPort1.DataBits())),
      FromBytes(port::StopBitsText(ComPort1.StopBits())),
      FromBytes(port::ParityText(ComPort1.Parity().Bits())),
      FromBytes(port::FlowControlText(ComPort1.FlowControl().FlowControl())),
  };
  SB1->SetPanelText(kSummaryPanel, parts.join(QStringLiteral(", ")));
}

void TForm1::FocusInput() { Memo1->setFocus(); }

void TForm1::Timer2Timer() {
  if (!RtsOn) ShowState(QStringLiteral("ОЖИДАНИЕ"));
}

void TForm1::ComPort1CTSChange(bool OnOff) {
  SB1->SetPanelText(kCtsPanel, OnOff ? QStringLiteral("CTS") : QString());
}

void TForm1::ComPort1DSRChange(bool OnOff) {
  SB1->SetPanelText(kDsrPanel, OnOff ? QStringLiteral("DSR") : QString());
}

// --- menu commands and buttons -----------------------------------------------------------

void TForm1::N7Click() { close(); }

void TForm1::N8Click() {
  if (!dialogs::ExecuteParamBox(ComPort1, TxDelay, RtsCtsMode, CrLfMode, EditorPath, ConsoleFont,
                                true))
    return;
  Memo1->setFont(ConsoleFont);
  if (!ComPort1.Connected()) OpenPortGuarded();
  SaveSettingsFile();
  ShowPortSummary();
}

void TForm1::N10Click() { dialogs::ExecuteAboutBox(this); }

void TForm1::N11Click() { dialogs::ExecuteStatForm(this, *this); }

void TForm1::Button1Click() {
  Memo1->clear();
  FocusInput();
}

void TForm1::Button2Click() {
  receivePane_->Clear();
  FocusInput();
}

// The file commands come with the file functions; until then their buttons only spring back.
void TForm1::Button3Click() {
  Button3->setChecked(false);
  FocusInput();
}

void TForm1::Button4Click() { FocusInput(); }

void TForm1::Button5Click() {
  Button5->setChecked(false);
  FocusInput();
}

void TForm1::SButton1Click() { FocusInput(); }
void TForm1::SButton2Click() { FocusInput(); }
void TForm1::SButton3Click() { FocusInput(); }

}  // namespace velmora::console
