// The file commands: a file sent character by character with its progress, received data
// captured to a file in the display form, and the capture file opened in the viewer.

#include <climits>

#include <QFile>
#include <QFileInfo>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "console/capture_file.h"
#include "console/file_dialogs.h"
#include "console/main_window.h"
#include "console/receive_pane.h"
#include "console/receive_view.h"
#include "console/status_panels.h"
#include "console/transmit_pane.h"
#include "dialogs/launcher.h"

namespace velmora::console {

namespace {

// What opens the capture file when the operator never chose a viewer: the desktop's own
// program for the file's type.
const QString kDesktopOpener = QStringLiteral("xdg-open");

// A file to send is counted in a 32-bit signed number of characters.
constexpr int64_t kLargestFileToSend = INT32_MAX;

// Nothing goes and the button stays down; only the operator knows now why nothing happens.
QString EmptyFileLine(const QString& path) {
  return QStringLiteral("Файл ") + path + QStringLiteral(" пуст: передавать нечего");
}

}  // namespace

// --- file send ---------------------------------------------------------------------------

void MainWindow::ToggleFileSend() {
  if (sendFileButton_->isChecked())
    StartFileSend();
  else
    EndFileSend();
}

void MainWindow::StartFileSend() {
  const QString path = fileDialogs_.ChooseFileToSend(this, sendFileName_);
  if (path.isEmpty()) {
    sendFileButton_->setChecked(false);
    FocusTransmitPane();
    return;
  }
  sendFileName_ = path;
  sendingFile_ = false;
  fileSend_ = FileSendProgress{};
  // A file that cannot be found raises the system's error to the error display; the button
  // stays down, and the next press ends the send that never began.
  const uint64_t size = dialogs::FileSize64(path);
  if (size == 0) {
    AppendMarkerLine(EmptyFileLine(path));
    FocusTransmitPane();
    return;
  }
  if (!ReadFileToSend(path, size)) {
    fileSend_ = FileSendProgress{};
    AppendMarkerLine(QStringLiteral("Ошибка при чтении файла ") + path);
    return;
  }
  if (fileSend_.content.empty()) {  // emptied since its size was taken
    AppendMarkerLine(EmptyFileLine(path));
    FocusTransmitPane();
    return;
  }
  sendingFile_ = true;
  AppendMarkerLine(QStringLiteral("Идет передача файла ") + path + QStringLiteral(" (") +
                   QString::number(fileSend_.Size()) + QStringLiteral(" байт)"));
  ShowTakenOver(transmitPane_, true);
  UpdateReceiveButtons();
  fileTransferActive_ = true;
  SendCharacter(fileSend_.content[fileSend_.nextIndex++]);
  FocusTransmitPane();
}

bool MainWindow::ReadFileToSend(const QString& path, uint64_t size) {
  // Counted in 32 bits: a larger file is refused whole rather than sent cut short.
  if (size > static_cast<uint64_t>(kLargestFileToSend)) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  std::string content;
  content.reserve(static_cast<size_t>(size));
  // To the end, as it is now: the file may have changed since its size was taken.
  char block[64 * 1024];
  for (;;) {
    const qint64 got = file.read(block, sizeof block);
    if (got < 0) return false;
    if (got == 0) break;
    content.append(block, static_cast<size_t>(got));
    if (static_cast<int64_t>(content.size()) > kLargestFileToSend) return false;
  }
  fileSend_.content = std::move(content);
  return true;
}

void MainWindow::StepFileSend() {
  ++fileSend_.sentCount;
  statusPanels_->SetPanelText(StatusPanel::Progress,
                              QString::number(fileSend_.Percent()) + QStringLiteral("%"));
  if (!fileSend_.Complete()) {
    SendCharacter(fileSend_.content[fileSend_.nextIndex++]);
    return;
  }
  sendingFile_ = false;
  fileTransferActive_ = false;
  sendFileButton_->setChecked(false);
  EndFileSend();
  SetRts(false);
}

void MainWindow::EndFileSend() {
  // Whatever ended it (the last character, the operator, a lost device), the operator sees how
  // the send came out beside the line that began it; the progress panel alone keeps only a
  // percentage that looks the same for a finished send and for one still running.
  if (fileSend_.Size() > 0) {
    const QString size = QString::number(fileSend_.Size());
    if (fileSend_.Complete())
      AppendMarkerLine(QStringLiteral("Файл ") + sendFileName_ + QStringLiteral(" передан (") + size +
                       QStringLiteral(" байт)"));
    else
      AppendMarkerLine(QStringLiteral("Передача файла ") + sendFileName_ +
                       QStringLiteral(" остановлена: передано ") +
                       QString::number(fileSend_.nextIndex) + QStringLiteral(" из ") + size +
                       QStringLiteral(" байт"));
  }
  // A send still stepping stops here: the character in flight is the last.
  sendingFile_ = false;
  fileTransferActive_ = false;
  fileSend_ = FileSendProgress{};
  ShowTakenOver(transmitPane_, false);
  UpdateReceiveButtons();
  FocusTransmitPane();
}

// --- capture -----------------------------------------------------------------------------

void MainWindow::ToggleCapture() {
  if (captureButton_->isChecked())
    StartCapture();
  else
    EndCapture();
}

void MainWindow::StartCapture() {
  const QString path = fileDialogs_.ChooseCaptureFile(this, captureFileName_);
  if (path.isEmpty()) {
    captureButton_->setChecked(false);
    FocusTransmitPane();
    return;
  }
  captureFileName_ = path;
  capturing_ = false;
  if (!captureFile_.Open(path)) {
    receivePane_->AppendLine(QStringLiteral("Ошибка при открытии файла ") + path);
    return;
  }
  capturing_ = true;
  captureWriteFailed_ = false;
  receivePane_->AppendLine(QStringLiteral("Идет запись принятой информации в файл ") + path);
  ShowTakenOver(receiveView_, true);
  UpdateReceiveButtons();
  FocusTransmitPane();
}

void MainWindow::EndCapture() {
  capturing_ = false;
  ShowTakenOver(receiveView_, false);
  UpdateReceiveButtons();
  if (!captureFile_.Close()) {
    receivePane_->AppendLine(QStringLiteral("Ошибка при сохранении файла ") + captureFileName_);
    return;
  }
  FocusTransmitPane();
}

void MainWindow::WriteCapture(const std::string& shown) {
  const CaptureFile::WriteResult result = captureFile_.Write(shown);
  if (result == CaptureFile::WriteResult::kUnlinked) {
    // The data still goes somewhere, but no one can open it: the operator should know now, not
    // when the viewer finds no file.
    receivePane_->AppendLine(QStringLiteral("Файл ") + captureFileName_ +
                             QStringLiteral(" удален: принятые данные в него больше не попадают"));
    return;
  }
  if (result == CaptureFile::WriteResult::kWritten || captureWriteFailed_) return;
  // Once per capture: the operator learns that the file is incomplete, and the capture goes on
  // (the medium may come back, and what arrives is not shown in the pane meanwhile either).
  captureWriteFailed_ = true;
  receivePane_->AppendLine(QStringLiteral("Ошибка при записи файла ") + captureFileName_);
}

// --- view --------------------------------------------------------------------------------

void MainWindow::ViewCaptureFile() {
  if (!captureFileName_.isEmpty()) {
    const QFileInfo file(captureFileName_);
    const QString viewer = options_.viewerPath.isEmpty() ? kDesktopOpener : options_.viewerPath;
    // The viewer gets the file's name as one argument, blanks and all, in the file's folder. A
    // name that starts like an option ("-R", "+!cmd" for vi) goes as "./name", which no viewer
    // reads as anything but a file.
    QString name = file.fileName();
    if (name.startsWith(u'-') || name.startsWith(u'+')) name.prepend(QStringLiteral("./"));
    dialogs::TLauncher().Exec(viewer, name, file.absolutePath());
  }
  FocusTransmitPane();
}

FileDialogs& MainWindow::FileChoosers() { return fileDialogs_; }

// --- what a running operation changes in the window ---------------------------------------

void MainWindow::UpdateReceiveButtons() {
  // Disabled while a send or a capture runs; a send that ends during a capture leaves them so.
  const bool enabled = !sendingFile_ && !capturing_;
  for (QWidget* button : std::initializer_list<QWidget*>{clearReceiveButton_, viewFileButton_,
                                                          asciiButton_, hexButton_, binButton_})
    button->setEnabled(enabled);
}

void MainWindow::ShowTakenOver(QAbstractScrollArea* pane, bool taken) {
  // A pane that a running operation has taken over has the colour of a button's face.
  QPalette colours = pane->palette();
  const QPalette scheme = QPalette();
  colours.setColor(QPalette::Base,
                   scheme.color(taken ? QPalette::Button : QPalette::Base));
  pane->setPalette(colours);
}

}  // namespace velmora::console
