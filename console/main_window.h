#pragma once
// TForm1: the console's main window and the owner of everything the operator works with — the
// serial port ComPort1, the transmit pane Memo1, the receive pane Memo2, the status bar SB1,
// the two timers, the menu, the console options and the traffic counters.
//
// Components carry their form names as Qt object names (Memo1, SB1, Button1 …, SButton1 …,
// Timer1, N8 …). Window creation (FormCreate) runs in the constructor: it loads the settings
// file ZORVA.INI from the per-user configuration folder and opens the port; closing the window
// by any way runs the close sequence once (settings saved, RTS dropped, port closed).
//
// Threads: everything runs on the user-interface thread; the port's monitor hands its events
// to that thread through the Qt port binding, so handlers, timers and menu commands never run
// concurrently and nothing here takes a lock.
//
// Errors: errors of opening and closing the port go to the link error box, errors of the
// settings file to the configuration error box, both through the window's MessagePresenter.
// Every other error that reaches a handler boundary (a key press on a closed port, a failed
// read) goes to the application's error display (port::ShowCurrentException); no exception
// leaves a handler into Qt's event loop.
//
// The code is split by concern: layout (main_window_layout.cpp), window life and status bar
// (main_window.cpp), settings file (settings_file.cpp), transmit (transmit.cpp), receive
// (receive.cpp), error boxes (error_boxes.cpp).

#include <cstdint>
#include <memory>
#include <string>

#include <QFont>
#include <QMainWindow>
#include <QString>

#include "console/message_presenter.h"
#include "dialogs/stat_form.h"
#include "platform/device_directory.h"
#include "port/com_port.h"
#include "port/qt_port_binding.h"

class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTimer;
class QToolButton;
class QWidget;

namespace velmora::console {

class PaneLineLimit;
class ReceivePane;

class StatusPanels;

class TForm1 : public QMainWindow, public dialogs::TrafficCounters {
  Q_OBJECT

 public:
  // `directory` is where port names are opened (null: the standard one); `presenter` shows the
  // error boxes (null: message boxes).
  explicit TForm1(std::shared_ptr<platform::DeviceDirectory> directory = nullptr,
                  std::unique_ptr<MessagePresenter> presenter = nullptr,
                  QWidget* parent = nullptr);
  ~TForm1() override;

  // --- the port and the console options --------------------------------------------------
  port::TComPort ComPort1{"ComPort1"};

  int32_t RtsCtsMode = 0;  // 1: RTS per burst; 0: RTS with a delay, dropped after Enter
  int32_t TxDelay = 0;     // milliseconds between raising RTS and the first character
  int32_t CrLfMode = 0;    // Enter sends 0 nothing, 1 CR LF, 2 CR, 3 LF
  QString EditorPath;      // viewer of the capture file
  QFont ConsoleFont;       // the transmit pane's font, edited by the parameters dialog

  // --- counters ---------------------------------------------------------------------------
  int32_t RxCount = 0;
  int32_t TxCount = 0;
  int32_t ComErrorCount = 0;
  int32_t BufErrorCount = 0;

  Figures CounterFigures() const override;
  void ResetCounters() override;

  // --- transmit state ---------------------------------------------------------------------
  bool RtsOn = false;
  bool EndOfTransmission = false;
  // Bytes held back while the transmit delay runs: the first character and whatever the
  // operator types before the delay ends, so the line gets them in the order typed.
  std::string PendingChar;
  bool FileTransferActive = false;

  // --- file send and capture state (their commands come later) -----------------------------
  bool SendingFile = false;
  bool Capturing = false;
  QString SendFileName;
  QString CaptureFileName;

  // --- components -------------------------------------------------------------------------
  QWidget* Panel1 = nullptr;
  QWidget* Panel3 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  QPushButton* Button5 = nullptr;
  QToolButton* SButton1 = nullptr;
  QToolButton* SButton2 = nullptr;
  QToolButton* SButton3 = nullptr;
  StatusPanels* SB1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QAction* N7 = nullptr;   // &Выход
  QAction* N8 = nullptr;   // &Настройка порта...
  QAction* N10 = nullptr;  // &О программе...
  QAction* N11 = nullptr;  // &Статистика...

  QString PanelText(int panel) const;
  ReceivePane& ReceiveView() { return *receivePane_; }
  // The settings file's full path.
  QString SettingsFilePath() const;
  MessagePresenter& Presenter() { return *presenter_; }

  // --- window operations ------------------------------------------------------------------
  void ShowState(const QString& word);
  void ShowRxTx();
  void ShowPortSummary();
  void ShowLinkError(const QString& message);
  void ShowConfigError(const QString& message);
  void FocusInput();

  void LoadSettingsFile();
  void SaveSettingsFile();

  // --- transmit path ----------------------------------------------------------------------
  void SendChar(char c);
  void SetRtsLine(bool on);
  void StartTxDelay();
  void StopTxDelay();

  // --- receive path -----------------------------------------------------------------------
  // The display mode's form of received bytes.
  std::string ConvertForDisplay(const std::string& chunk) const;

  // --- handlers ---------------------------------------------------------------------------
  void FormCreate();
  void FormShow();
  void FormCloseQuery();
  void N7Click();
  void N8Click();
  void N10Click();
  void N11Click();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void SButton1Click();
  void SButton2Click();
  void SButton3Click();
  void Timer1Timer();
  void Timer2Timer();
  // A character typed in the transmit pane; the pane also shows and edits it as usual.
  void Memo1KeyPress(QChar key);

  void ComPort1RxChar(int Count);
  void ComPort1TxEmpty();
  void ComPort1CTSChange(bool OnOff);
  void ComPort1DSRChange(bool OnOff);
  void ComPort1Error(port::TComErrors Errors);
  void ComPort1Rx80Full();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void BuildMenu();
  void BuildStatusBar();
  void ConnectHandlers();
  void AttachPortHandlers();
  void DetachPortHandlers();
  void OpenPortGuarded();
  void WriteAndCount(const std::string& bytes);
  void SelectDisplayMode(QToolButton* pressed);
  void AppendMarkerLine(const QString& marker);
  void HandleMemo1Key(QKeyEvent* event);

  std::unique_ptr<MessagePresenter> presenter_;
  std::unique_ptr<port::QtPortBinding> binding_;
  ReceivePane* receivePane_ = nullptr;
  PaneLineLimit* transmitLimit_ = nullptr;
  // Enter's end-of-transmission mark, waiting with the held bytes for the delay to end.
  bool pendingEnd_ = false;
  bool shownOnce_ = false;
  bool closed_ = false;
};

}  // namespace velmora::console
