#pragma once
// SendLine: the one-line entry under the transmit pane's header, for frames no key types.
//
// The line is read as text with escapes or as hex bytes (the mode switch beside it), and a
// check may be appended (the choice beside that); send_parser.h says what reads. Enter on a
// line that reads asks for its frame to be sent (SendRequested) and keeps the line for editing;
// one that does not read shows why under the line, and nothing is asked. Up and Down recall the
// lines sent before, the newest first (the last kHistoryLength, oldest dropped); Esc asks for
// the focus to go back (LeaveRequested). The widget sends nothing itself and stores nothing:
// its owner sends through the keying rules and keeps the mode, the check and the history.
//
// Controls by object name: SendLineEdit (the entry, buddy of the caption "&Строка"),
// SendLineMode, SendLineCheck, SendLineError. User-interface thread only.

#include <string>

#include <QStringList>
#include <QWidget>

#include "console/checksums.h"
#include "console/send_parser.h"
#include "console/stored_frames.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace velmora::console {

class SendLine : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHistoryLength = 100;

  explicit SendLine(QWidget* parent = nullptr);

  QLineEdit* Entry() const { return entry_; }
  SendMode Mode() const;
  void SetMode(SendMode mode);
  CheckKind Check() const;
  void SetCheck(CheckKind check);
  QString ErrorText() const;

  // Oldest first.
  QStringList History() const { return history_; }
  void SetHistory(QStringList lines);

  // What Enter does: the line's frame asked for, or its error shown.
  void SubmitLine();

 signals:
  void SendRequested(const std::string& frame);
  void LeaveRequested();
  // The operator chose another mode or check.
  void ChoiceChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Recall(int step);
  void ShowError(const QString& text);

  QLineEdit* entry_ = nullptr;
  QComboBox* modeBox_ = nullptr;
  QComboBox* checkBox_ = nullptr;
  QLabel* errorLabel_ = nullptr;
  QStringList history_;
  // The recalled line's place in the history; history_.size() while editing a line of one's own.
  qsizetype recallIndex_ = 0;
  QString draft_;  // the line being edited when recalling began
};

}  // namespace velmora::console
