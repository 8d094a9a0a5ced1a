#pragma once
// MainWindow: the console's one top-level window and the owner of everything the operator works
// with — the serial port, the transmit pane (typed keys go out of the port), the receive pane
// (what arrives, as text, hexadecimal or binary), the status bar, the keying-delay and idle
// timers, the menu, the console options and the traffic counters.
//
// Widgets carry the form names of the original layout as Qt object names (Memo1, SB1, Button1 …,
// SButton1 …, Timer1, N8 …), so tests and scripts find them; console/README.md maps each object
// name to its member and role. Window creation runs in the constructor: it loads the settings
// file ZORVA.INI from the per-user configuration folder and opens the port. Closing the window by
// any way runs the close sequence once (settings saved, RTS dropped, port closed). A first start
// (no settings file yet) opens nothing: the port stays closed until the operator chooses one. When
// the port loses its device, the window says so in the state panel and the transmit pane, without
// a box, waits for the same device to come back and reopens it as at start (PortReconnector).
//
// Threads: everything runs on the user-interface thread; the port's monitor hands its events to
// that thread through the Qt port binding, so handlers, timers and menu commands never run
// concurrently and nothing here takes a lock.
//
// Errors: errors of opening and closing the port go to the link error box, errors of the settings
// file to the settings-file error box, both through the window's MessagePresenter. Every other
// error that reaches a handler boundary (a key press on a closed port, a failed read) goes to the
// application's error display (port::ShowCurrentException); no exception leaves a handler into
// Qt's event loop.
//
// The code is split by concern: layout (main_window_layout.cpp), window life, status bar and menu
// commands (main_window.cpp), settings file (settings_file.cpp), transmit (transmit.cpp), receive
// (receive.cpp), file send, capture and view wired to FileSender and CaptureSession
// (file_commands.cpp), error boxes (error_boxes.cpp).

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QFont>
#include <QMainWindow>
#include <QSocketNotifier>
#include <QString>

#include "console/capture_session.h"
#include "console/console_options.h"
#include "console/file_dialogs.h"
#include "console/file_sender.h"
#include "console/frame_view.h"
#include "console/message_presenter.h"
#include "console/port_reconnector.h"
#include "console/status_panels.h"
#include "dialogs/statistics_dialog.h"
#include "platform/deadline_timer.h"
#include "platform/device_directory.h"
#include "port/com_port.h"
#include "port/qt/qt_port_binding.h"

class QAbstractScrollArea;
class QAction;
class QKeyEvent;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTimer;
class QToolButton;
class QWidget;

namespace velmora::console {

class PaneLineLimit;
class ReceivePane;
class ReceiveTextView;
class TransmitPane;

class MainWindow : public QMainWindow, public dialogs::TrafficCounters {
  Q_OBJECT

 public:
  // `directory` is where port names are opened (null: the standard one); `presenter` shows the
  // error boxes (null: message boxes); `sysfsRoot` is where the serial adapters present and their
  // identities are read (the window's tests give a stand-in tree).
  explicit MainWindow(std::shared_ptr<platform::DeviceDirectory> directory = nullptr,
                      std::unique_ptr<MessagePresenter> presenter = nullptr, QWidget* parent = nullptr,
                      std::string sysfsRoot = platform::kSystemSysfsRoot);
  ~MainWindow() override;

  // --- the port, the options, the counters ------------------------------------------------
  port::TComPort& Port() { return port_; }
  // Loaded from and saved to the settings file; edited by the parameters dialog.
  ConsoleOptions& Options() { return options_; }
  const ConsoleOptions& Options() const { return options_; }

  Figures CounterFigures() const override;
  void ResetCounters() override;

  // --- what the window shows --------------------------------------------------------------
  QString PanelText(StatusPanel panel) const;
  ReceivePane& ReceiveContent() { return *receivePane_; }
  // The frame view: every finished frame's line (FrameView::FrameLine) while its lines are
  // wanted (FrameView::SetLinesWanted; the window wants them while the pane shows frames).
  FrameView& Frames() { return *frameView_; }
  // The settings file's full path.
  QString SettingsFilePath() const;

  void ShowState(const QString& word);
  // "Rx: n" and "Tx: n" from the counters.
  void ShowCounters();
  void ShowPortSummary();
  // The link error box quotes `message`; below it stands `reason`, what the operator can do,
  // when there is one.
  void ShowLinkError(const QString& message, const QString& reason = {});
  // The same for an error caught while opening or closing the port: an engine error brings
  // the system's reason the device layer gave.
  void ShowLinkError(const std::exception& error);
  // `details`, when given, follow the quoted message after a blank line: which keys and values.
  void ShowSettingsFileError(const QString& message, const QString& details = QString());
  void FocusTransmitPane();

  void LoadSettingsFile();
  void SaveSettingsFile();

  // True while the port's lost device is being waited for, to be reopened when it returns.
  bool WaitingForDeviceReturn() const;

  // --- transmit path ----------------------------------------------------------------------
  // True while the console holds RTS raised.
  bool RtsRaised() const { return rtsRaised_; }
  // Enter has been handled: RTS drops at the next transmit-empty event.
  bool EndOfTransmissionMarked() const { return endOfTransmission_; }
  // One character with the keying rules; Enter (CR) sends the chosen line ending.
  void SendCharacter(char c);
  // A whole frame in one keying with the keying rules, counted in Tx; RTS drops after its last
  // character as after Enter. Nothing on a closed port but the closed port's note.
  void SendBurst(const std::string& bytes);
  void SetRts(bool on);
  void RekeyAfterReconfiguration();
  void StartKeyingDelay();
  void StopKeyingDelay();
  void ArmKeyingDeadline();

  // --- receive path -----------------------------------------------------------------------
  // The display mode's form of received bytes.
  std::string ConvertForDisplay(const std::string& chunk) const;

  // --- menu commands and buttons ----------------------------------------------------------
  void Exit();
  void EditPortSettings();
  void ShowAbout();
  void ShowStatistics();
  void ClearTransmitPane();
  void ClearReceivePane();
  void ToggleCapture();
  void ViewCaptureFile();
  void ToggleFileSend();
  // The open and save dialogs of the file commands; tests answer them in advance.
  FileDialogs& FileChoosers();

  // --- timers and the transmit pane's keys ------------------------------------------------
  void OnKeyingDelayElapsed();
  // Puts the idle word back into the state panel unless RTS is held raised: "ОЖИДАНИЕ" on an open
  // port, "НЕТ ПОРТА" on a closed one ("НЕ ТОТ ПОРТ" while another adapter sits at a lost one's
  // name); "ВОССТАНОВЛЕН" stays until the operator's next key or click.
  void OnIdleTick();
  // A character typed in the transmit pane; the pane also shows and edits it as usual.
  void OnCharacterTyped(QChar key);

  // --- the port's events ------------------------------------------------------------------
  void OnBytesReceived(int count);
  void OnTransmitEmpty();
  void OnCtsChanged(bool on);
  void OnDsrChanged(bool on);
  void OnLineErrors(port::TComErrors errors);
  void OnReceiveBufferAlmostFull();
  // The port released its device (unplugged, far end gone): `reason` is the engine's report,
  // told in the transmit pane; the engine shows no box of its own while this handles it.
  void OnDeviceLost(const port::EComPort& reason);
  void OnDeviceReturned();
  void OnForeignDeviceFound(const QString& found, const QString& lost);

 signals:
  // The close sequence has run and the window is going; the program ends with it.
  void Closed();
  // The console raised or dropped RTS (keying the transmitter or ending a transmission).
  void RtsChanged(bool on);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Window creation: counters, settings file, port opened with DTR and RTS dropped.
  void StartUp();
  // The port opened with DTR and RTS dropped at once and nothing held for the line; raises when
  // the open fails.
  void OpenPortWithLinesDown();
  void RunCloseSequence();
  void BuildLayout();
  void BuildMenu();
  void BuildStatusBar();
  void ConnectHandlers();
  void AttachPortHandlers();
  void OpenPortOrShowError();
  void WriteAndCount(const std::string& bytes);
  // Runs a step that reaches the device; a failure because the device has just gone (the port
  // not yet released) is left to the release, which reports the loss once.
  void RunSkippingDeviceGoneError(const std::function<void()>& step);
  void OnDisplayModeClicked(QToolButton* pressed);
  void AppendMarkerLine(const QString& marker);
  // The frame view's lines to the receive pane (or the capture) while "Кадры" is down.
  void OnFrameLine(const QString& line);
  FrameClock::duration FrameGap() const;
  // The first start's line: no port opened, how to choose one, the serial adapters present.
  void ShowFirstStartGuide();
  // A key on a closed port: the operator is told once how to open one, until a port opens.
  void TellPortClosedOnce();
  // "ВОССТАНОВЛЕН" is shown until the operator's next key press or click anywhere in the program.
  void HoldReturnWordUntilNextAction();
  void OnTransmitPaneKey(QKeyEvent* event);
  // File send, capture and view (file_commands.cpp).
  void StartFileSend();
  // A transmit-empty event during a send: counts the character, shows the progress, sends the
  // next one or ends the send.
  void StepFileSend();
  void EndFileSend();
  void StartCapture();
  void EndCapture();
  void WriteCapture(const std::string& shown);
  void UpdateReceiveButtons();
  void ShowTakenOver(QAbstractScrollArea* pane, bool taken);

  port::TComPort port_{"ComPort1"};  // the name is the settings file's section
  ConsoleOptions options_;
  QFont transmitFont_;  // the transmit pane's font, edited by the parameters dialog
  Figures counters_;

  // Transmit state.
  bool rtsRaised_ = false;
  bool endOfTransmission_ = false;
  // Bytes held back while the keying delay runs: the first character and whatever the operator
  // types before the delay ends, so the line gets them in the order typed.
  std::string heldBytes_;
  // Enter's end-of-transmission mark, waiting with the held bytes for the delay to end.
  bool heldEnd_ = false;
  // The held bytes go out no earlier than this.
  std::chrono::steady_clock::time_point keyingDeadline_;
  // Ends the keying delay on the microsecond (the Qt timer rounds to whole milliseconds, late);
  // the notifier goes before the timer whose descriptor it watches.
  std::unique_ptr<platform::DeadlineTimer> keyingDeadlineTimer_;
  std::unique_ptr<QSocketNotifier> keyingDeadlineNotifier_;

  // The file being sent and the capture: each keeps its own file, state and errors.
  FileSender fileSender_;
  CaptureSession capture_;
  FileDialogs fileDialogs_;

  // Widgets (owned by the window's widget tree).
  QWidget* transmitPanel_ = nullptr;
  QWidget* receivePanel_ = nullptr;
  QSplitter* splitter_ = nullptr;
  TransmitPane* transmitPane_ = nullptr;
  ReceiveTextView* receiveView_ = nullptr;
  QPushButton* clearTransmitButton_ = nullptr;
  QPushButton* sendFileButton_ = nullptr;
  QPushButton* clearReceiveButton_ = nullptr;
  QPushButton* captureButton_ = nullptr;
  QPushButton* viewFileButton_ = nullptr;
  QToolButton* asciiButton_ = nullptr;
  QToolButton* hexButton_ = nullptr;
  QToolButton* binButton_ = nullptr;
  QToolButton* framesButton_ = nullptr;
  FrameView* frameView_ = nullptr;
  std::vector<platform::ArrivalTime> arrivalTimes_;
  StatusPanels* statusPanels_ = nullptr;
  QTimer* keyingDelay_ = nullptr;
  QTimer* idleTimer_ = nullptr;
  QAction* exitAction_ = nullptr;
  QAction* portSettingsAction_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QAction* statisticsAction_ = nullptr;

  const std::string sysfsRoot_;
  std::unique_ptr<MessagePresenter> presenter_;
  std::unique_ptr<port::QtPortBinding> binding_;
  std::unique_ptr<PortReconnector> reconnector_;  // goes before the port it reopens
  // The operator has chosen the port (in this start or an earlier one); false on a first start
  // until the parameters dialog is confirmed, and then nothing is opened at start.
  bool portChosen_ = true;
  bool closedPortTold_ = false;
  QObject* nextActionWatch_ = nullptr;  // while "ВОССТАНОВЛЕН" is held
  ReceivePane* receivePane_ = nullptr;
  PaneLineLimit* transmitLimit_ = nullptr;
  bool closed_ = false;
};

}  // namespace velmora::console
