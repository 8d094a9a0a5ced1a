// The send line, the frames on F1–F12 and their repeats, wired to the window: every frame goes
// out through SendBurst, one keying each, and a repeat waits for the line to be free.

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSaveFile>
#include <QShortcut>
#include <QVBoxLayout>

#include "console/cp1251.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "console/poll_repeater.h"
#include "console/send_line.h"
#include "console/transmit_pane.h"
#include "dialogs/frames_dialog.h"
#include "port/ini_file.h"

namespace velmora::console {

namespace {

// F1–F12 that reach the window: a key the focused widget takes for itself (a search bar's F3,
// a drop-down list's F4) is that widget's and never arrives here.
class FunctionKeys : public QObject {
 public:
  FunctionKeys(QObject* parent, std::function<void(int)> pressed)
      : QObject(parent), pressed_(std::move(pressed)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() < Qt::Key_F1 || key->key() > Qt::Key_F12 ||
        (key->modifiers() & ~Qt::KeypadModifier))
      return false;
    (void)watched;
    pressed_(key->key() - Qt::Key_F1);
    return true;
  }

 private:
  std::function<void(int)> pressed_;
};

}  // namespace

void MainWindow::BuildSendLine(QVBoxLayout* body) {
  sendLine_ = new SendLine(transmitPanel_);
  sendLine_->setObjectName(QStringLiteral("SendLine"));
  body->addWidget(sendLine_);
  connect(sendLine_, &SendLine::SendRequested, this,
          [this](const std::string& frame) { Guarded([&] { SendBurst(frame); }); });
  connect(sendLine_, &SendLine::LeaveRequested, this, [this] { FocusTransmitPane(); });
  connect(sendLine_, &SendLine::ChoiceChanged, this, [this] {
    options_.sendMode = sendLine_->Mode();
    options_.sendCheck = sendLine_->Check();
  });
}

void MainWindow::BuildSendCommands(QMenu* parameters) {
  framesAction_ = parameters->addAction(QStringLiteral("&Кадры для передачи..."));
  framesAction_->setObjectName(QStringLiteral("N12"));
  connect(framesAction_, &QAction::triggered, this, [this] { Guarded([this] { EditStoredFrames(); }); });

  // A repeat waits while the keyer has work (a burst waiting for its keying, going out or keyed,
  // the operator's own typing in delay mode), while a file goes out, whose bytes it must not
  // split, and while there is no port to send on.
  polls_ = new PollRepeater([this] { return keyer_->CurrentState() != Keyer::State::Idle || RtsRaised() ||
                                           fileSender_.Active() || !port_.Connected(); },
                            [this](int index) {
                              Guarded([&] {
                                const ParsedLine frame = ParseFrame(frames_[index].line, frames_[index].mode,
                                                                    frames_[index].check);
                                SendBurst(frame.bytes);
                              });
                            },
                            this);
  // Esc stops the repeats only while there are any: otherwise it stays the transmit pane's
  // character and the send line's way back.
  stopPollsShortcut_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  stopPollsShortcut_->setContext(Qt::WindowShortcut);
  stopPollsShortcut_->setEnabled(false);
  connect(stopPollsShortcut_, &QShortcut::activated, this, [this] {
    const bool fromSendLine = sendLine_->Entry()->hasFocus();
    StopPolls();
    if (fromSendLine) FocusTransmitPane();
  });
  connect(polls_, &PollRepeater::RunningChanged, this, [this] {
    stopPollsShortcut_->setEnabled(polls_->AnyRunning());
    if (!RtsRaised() && port_.Connected()) Guarded([this] { OnIdleTick(); });
  });
  installEventFilter(new FunctionKeys(this, [this](int index) { Guarded([&] { OnFrameKey(index); }); }));
  // The link test's stored-frame pattern is the send line's frame as it stands, check included.
  SetLinkTestFrameSource([this]() -> std::optional<std::string> {
    const ParsedLine frame = ParseFrame(sendLine_->Entry()->text(), sendLine_->Mode(), sendLine_->Check());
    if (!frame.Ok() || frame.bytes.empty()) return std::nullopt;
    return frame.bytes;
  });
}

void MainWindow::OnFrameKey(int index) {
  if (index < 0 || index >= kStoredFrameCount) return;
  const StoredFrame& stored = frames_[static_cast<size_t>(index)];
  if (stored.Empty()) return;
  if (stored.periodMs > 0) {
    if (polls_->Running(index))
      polls_->Stop(index);
    else
      polls_->Start(index, std::chrono::milliseconds(stored.periodMs));
    return;
  }
  // Read when stored; a frame that no longer reads is not sent in part.
  const ParsedLine frame = ParseFrame(stored.line, stored.mode, stored.check);
  if (frame.Ok()) SendBurst(frame.bytes);
}

void MainWindow::StopPolls() { polls_->StopAll(); }

void MainWindow::EditStoredFrames() {
  // The frames may change under the repeats: they start again from the keys.
  polls_->StopAll();
  StoredFrames edited = frames_;
  if (!dialogs::ExecuteFramesDialog(edited, this)) return;
  frames_ = edited;
  SaveSettingsFile();
}

QString MainWindow::SendHistoryPath() const {
  return QFileInfo(SettingsFilePath()).absolutePath() + QStringLiteral("/SendHistory.txt");
}

void MainWindow::LoadSendCommands(const port::IniFile& ini) {
  sendLine_->SetMode(options_.sendMode);
  sendLine_->SetCheck(options_.sendCheck);
  QStringList problems;
  frames_ = ReadStoredFrames(ini, &problems);
  if (!problems.isEmpty())
    ShowSettingsFileError(QStringLiteral("Недопустимые значения в разделе [Frames]"), problems.join(u'\n'));
  // The history is a convenience: a file that cannot be read is an empty history, not an error.
  QFile history(SendHistoryPath());
  if (!QFileInfo(history).isFile() || history.size() > 1024 * 1024 || !history.open(QIODevice::ReadOnly))
    return;
  QStringList lines;
  for (const QByteArray& line : history.readAll().split('\n'))
    if (!line.isEmpty()) lines << DecodeCp1251(line.toStdString());
  sendLine_->SetHistory(lines);
}

void MainWindow::SaveSendCommands(port::IniFile& ini) {
  WriteStoredFrames(ini, frames_);
  const QStringList lines = sendLine_->History();
  if (lines.isEmpty() && !QFile::exists(SendHistoryPath())) return;
  QSaveFile history(SendHistoryPath());
  QByteArray content;
  for (const QString& line : lines) content += QByteArray::fromStdString(EncodeCp1251(line)) + '\n';
  if (!history.open(QIODevice::WriteOnly) || history.write(content) != content.size() || !history.commit())
    ShowSettingsFileError(QStringLiteral("Не удалось записать историю строки передачи в файл ") +
                          SendHistoryPath() + QStringLiteral(": ") + history.errorString());
}

}  // namespace velmora::console
