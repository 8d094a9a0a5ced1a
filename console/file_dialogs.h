#pragma once
// The two file dialogs of the main window: the open dialog that picks the file to send and the
// save dialog that picks the capture file. Both list "*.txt" files or all files, accept a name
// of a file that does not exist yet, and never ask before an existing file is chosen (a capture
// appends to it). The save dialog adds ".txt" to a name typed without an extension when no
// file of that name exists (an existing file or device is taken as named); the open
// dialog takes a name as typed, so files without an extension can be sent.
//
// Tests and scripts answer the dialogs in advance ("next file name"): a queued answer is used
// instead of showing the dialog. User-interface thread only.

#include <deque>

#include <QString>

class QWidget;

namespace velmora::console {

class FileDialogs {
 public:
  // The answer of the next dialog instead of showing it: a path, or an empty string for Cancel.
  void AnswerNext(const QString& path) { answers_.push_back(path); }

  // The path chosen, starting from `start`; empty when the operator cancelled.
  QString ChooseFileToSend(QWidget* owner, const QString& start);
  QString ChooseCaptureFile(QWidget* owner, const QString& start);

 private:
  bool TakeAnswer(QString& path);

  std::deque<QString> answers_;
};

}  // namespace velmora::console
