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
#include <optional>
#include <string>
#include <vector>

#include <QFont>
#include <QMainWindow>
#include <QSocketNotifier>
#include <QString>

#include "console/burst_writer.h"
#include "console/capture_session.h"
#include "console/console_options.h"
#include "console/file_dialogs.h"
#include "console/file_sender.h"
#include "console/link_test.h"
#include "console/keyer.h"
#include "console/frame_view.h"
#include "console/message_presenter.h"
#include "console/port_reconnector.h"
#include "console/session_log.h"
#include "console/status_panels.h"
#include "console/stored_frames.h"
#include "dialogs/statistics_dialog.h"
#include "platform/deadline_timer.h"
#include "platform/device_directory.h"
#include "port/com_port.h"
#include "port/qt/qt_port_binding.h"

class QAbstractScrollArea;
class QAction;
class QKeyEvent;
class QMenu;
class QShortcut;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTimer;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace velmora::console {

class PaneLineLimit;
class PollRepeater;
class SendLine;
class ReceivePane;
class ReceiveTextView;
class SearchBar;
class TransmitPane;

class MainWindow : public QMainWindow, public dialogs::TrafficCounters, private KeyerOutput {
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

  // The session log (switched on by Options().sessionLogFolder); other parts of the console add
  // their events and frame lines through it.
  SessionLog& SessionLogFile() { return sessionLog_; }

  // True while the port's lost device is being waited for, to be reopened when it returns.
  bool WaitingForDeviceReturn() const;

  // --- transmit path ----------------------------------------------------------------------
  // True while the console holds RTS raised.
  bool RtsRaised() const { return keyer_->RtsRaised(); }
  // Enter has been handled: RTS drops at the next transmit-empty event.
  bool EndOfTransmissionMarked() const { return keyer_->EndMarked(); }
  // The keying rules' state (keyer.h), for what shows or waits on it.
  const Keyer& Keying() const { return *keyer_; }
  // One character with the keying rules; Enter (CR) sends the chosen line ending.
  void SendCharacter(char c);
  // A whole frame in one keying with the keying rules, counted in Tx; RTS drops after its last
  // character as after Enter. Nothing on a closed port but the closed port's note.
  void SendBurst(const std::string& bytes);
  // RTS raised or dropped at once, whatever the keying rules would do.
  void SetRts(bool on);
  void RekeyAfterReconfiguration();
  // The transmission ends: RTS drops after the tail time (at once without one).
  void EndKeying() { keyer_->EndTransmission(); }
  // What waits for the keying delay (or CTS, a free channel) is dropped; RTS stays as it is.
  void StopKeyingDelay();

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
  // The dialog "Проверка канала" on this window's line (link_test_commands.cpp).
  void ShowLinkTest();
  // Where the link test takes the send line's stored frame from; none: that pattern finds none.
  void SetLinkTestFrameSource(std::function<std::optional<std::string>()> source);

  // --- timers and the transmit pane's keys ------------------------------------------------
  // The keying timer (Timer1 or its precise twin) expired.
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
  // Carrier detect: the radio hears another station.
  void OnDcdChanged(bool on);
  void OnLineErrors(port::TComErrors errors);
  void OnReceiveBufferAlmostFull();
  // The port released its device (unplugged, far end gone): `reason` is the engine's report,
  // told in the transmit pane; the engine shows no box of its own while this handles it.
  void OnDeviceLost(const port::EComPort& reason);
  void OnDeviceReturned();
  void OnForeignDeviceFound(const QString& found, const QString& lost);

  // --- the send line, the frames on F1–F12 and their repeats (send_commands.cpp) -----------
  SendLine& SendLineEntry() { return *sendLine_; }
  const StoredFrames& StoredFramesOnKeys() const { return frames_; }
  PollRepeater& Polls() { return *polls_; }
  // Menu "Параметры", "Кадры для передачи...": the frames edited, stored at OK.
  void EditStoredFrames();
  // F1–F12: the frame of key `index` (0 is F1) sent once, or its repeat started or stopped.
  void OnFrameKey(int index);
  // Esc while something repeats.
  void StopPolls();

 signals:
  // The close sequence has run and the window is going; the program ends with it.
  void Closed();
  // The console raised or dropped RTS (keying the transmitter or ending a transmission).
  void RtsChanged(bool on);
  // A link test run ended (finished or stopped): its summary, for a session log.
  void LinkTestEnded(const QString& summary);
  // Bytes waiting for the line were given up (CTS never came, the channel stayed busy, the
  // transmitter timed out); `dropped` of them.
  void BurstAbandoned(velmora::console::KeyerAbandon why, int dropped);
  // The port's device went away; `line` says which and what follows, as the pane shows it.
  void DeviceLost(const QString& line);

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
  // `written` bytes left for the line: counted in Tx.
  void CountSent(int64_t written);
  // A frame written without holding the window has left (`moved` of it) or failed.
  void OnBurstWritten(int64_t moved, int error);
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
  // The send line under the transmit header, the frames' menu item, keys and repeats.
  void BuildSendLine(QVBoxLayout* body);
  void BuildSendCommands(QMenu* parameters);
  void LoadSendCommands(const port::IniFile& ini);
  void SaveSendCommands(port::IniFile& ini);
  QString SendHistoryPath() const;
  // The session log's wiring (session_log_wiring.cpp): started and ended with the port, its
  // folder followed after the parameters dialog, the window's events written into it.
  void AttachSessionLog();
  // The frame view makes its lines while the pane shows frames or a session log runs.
  void WantFrameLines();
  void LogPortOpened();
  void FollowSessionLogFolder();
  // The receive pane's search bar below the pane, and its keys (search_commands.cpp).
  void BuildSearchBar(QVBoxLayout* body);

  port::TComPort port_{"ComPort1"};  // the name is the settings file's section
  ConsoleOptions options_;
  QFont transmitFont_;  // the transmit pane's font, edited by the parameters dialog
  Figures counters_;

  // Transmit state: the keying rules, fed by the window (transmit.cpp).
  void CreateKeyer();
  KeyerSettings CurrentKeyerSettings() const;
  // What the keyer drives (transmit.cpp).
  void SetRtsLevel(bool high) override;
  int Write(const std::string& bytes) override;
  void DiscardOutput() override;
  void ArmTimer(platform::Clock::TimePoint at) override;
  void DisarmTimer() override;
  void KeyingChanged(bool keyed, bool changed) override;
  void Abandoned(KeyerAbandon why, size_t dropped) override;
  void ChannelBusy(bool busy) override;
  std::optional<bool> CarrierNow() override;
  std::optional<bool> CtsNow() override;
  std::optional<bool> TransmittingNow() override;
  // A modem line as the device has it now; nothing when it cannot tell.
  std::optional<bool> LineNow(port::TLineSignal line);
  bool HoldOutput(std::chrono::milliseconds lead, bool untilCts) override;
  void ReleaseOutput() override;
  bool SetRtsAfterDrain(std::chrono::milliseconds tail, bool level) override;
  bool CancelRtsAfterDrain() override;
  void HeldOutputReleased() override;
  void ClearTimeoutWord();
  // "ПЕРЕДАЧА", or "КАНАЛ ЗАНЯТ" while what was given waits for the channel.
  void ShowTransmitState();
  std::shared_ptr<platform::Clock> keyerClock_;
  std::unique_ptr<Keyer> keyer_;
  std::unique_ptr<BurstWriter> burstWriter_;
  // Written while the device holds the output for the keying: the frame view learns of it
  // when it starts to go.
  std::string heldForFrameView_;
  // The time-out's word stays red in the state panel until the operator's next key.
  bool timeoutShown_ = false;
  // Ends the keyer's waits on the microsecond (the Qt timer rounds to whole milliseconds, late);
  // the notifier goes before the timer whose descriptor it watches.
  std::unique_ptr<platform::DeadlineTimer> keyingDeadlineTimer_;
  std::unique_ptr<QSocketNotifier> keyingDeadlineNotifier_;

  // The file being sent and the capture: each keeps its own file, state and errors.
  FileSender fileSender_;
  CaptureSession capture_;
  SessionLog sessionLog_;
  SearchBar* searchBar_ = nullptr;
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

  // The link test: while a run is under way the received bytes and line errors go to it alone
  // (neither to the panes nor to the counters); the plan the operator last set, for the next.
  QAction* linkTestAction_ = nullptr;
  std::function<void(const std::string&)> linkTestBytes_;
  std::function<void(bool withBreak)> linkTestErrors_;
  std::function<std::optional<std::string>()> linkTestFrameSource_;
  LinkTestPlan linkTestPlan_;
  // The send line, the frames on F1–F12 and their repeats.
  SendLine* sendLine_ = nullptr;
  StoredFrames frames_;
  PollRepeater* polls_ = nullptr;
  QAction* framesAction_ = nullptr;
  QShortcut* stopPollsShortcut_ = nullptr;
};

}  // namespace velmora::console
