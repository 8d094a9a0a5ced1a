// The file commands: a file sent with its progress (character by character, or as a stream where
// RTS stays up for the whole file), received data captured to a file in the display form, and
// the capture file opened in the viewer.

#include <cerrno>

#include <QFileInfo>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "console/counter_arithmetic.h"
#include "console/file_dialogs.h"
#include "console/guarded.h"
#include "console/main_window.h"
#include "console/receive_pane.h"
#include "console/receive_view.h"
#include "console/status_panels.h"
#include "console/transmit_pane.h"
#include "dialogs/launcher.h"
#include "port/com_port.h"
#include "port/device_config.h"
#include "port/ecomport.h"

namespace velmora::console {

namespace {

// What opens the capture file when the operator never chose a viewer: the desktop's own
// program for the file's type.
const QString kDesktopOpener = QStringLiteral("xdg-open");

// The stream goes only where RTS stays up for the whole file: in RTS/CTS mode each character
// keys the transmitter, and while the keying delay runs nothing may reach the line before it.
bool FileStreamAllowed(const ConsoleOptions& options, bool keyingDelayRuns, const port::TComPort& port) {
  return options.rtsCtsMode == 0 && !keyingDelayRuns && port.Connected();
}

// Keeps the stream's writes with the device; true when the stream goes on.
bool TopUpFileStream(FileSender& sender, port::TComPort& port, bool allowed) {
  if (!allowed || !sender.StreamMayStart()) return false;
  sender.TopUp(port, StreamChunkBytes(port::BaudRateValue(port.BaudRate(), port.CustomBaudRate())));
  return true;
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
  const QString path = fileDialogs_.ChooseFileToSend(this, fileSender_.FileName());
  if (path.isEmpty()) {
    sendFileButton_->setChecked(false);
    FocusTransmitPane();
    return;
  }
  // A file that cannot be found raises the system's error to the error display; the button
  // stays down, and the next press ends the send that never began.
  const FileSender::StartResult result = fileSender_.Start(path);
  AppendMarkerLine(fileSender_.StartLine(result));
  if (result == FileSender::StartResult::kReadFailed) return;
  if (result == FileSender::StartResult::kEmpty) {
    FocusTransmitPane();
    return;
  }
  ShowTakenOver(transmitPane_, true);
  UpdateReceiveButtons();
  // A stream write finished: count it, show how far the line has got and keep the line fed.
  // What the line took after a stop still counts in Tx.
  fileSender_.SetWriteFinishedHandler([this] {
    Guarded([this] {
      const FileSender::Finished finished = fileSender_.TakeFinishedWrites();
      counters_.TxCount = AddWrapping(counters_.TxCount, static_cast<uint32_t>(finished.moved));
      ShowCounters();
      if (!fileSender_.Active()) return;
      statusPanels_->SetPanelText(StatusPanel::Progress,
                                  QString::number(fileSender_.Percent()) + QStringLiteral("%"));
      if (finished.error != 0) {
        // A device gone, or a port closed under the send, is told by its own path; the send
        // waits there as a character's would. Any other failure ends the send and is shown.
        const int e = finished.error;
        if (e == ECANCELED || e == EIO || e == ENXIO || e == ENODEV) return;
        sendFileButton_->setChecked(false);
        EndFileSend();
        throw port::EComPort(port::kErrWriteFile, e);
      }
      RunSkippingDeviceGoneError([this] {
        if (TopUpFileStream(fileSender_, port_, FileStreamAllowed(options_, keyingDelay_->isActive(), port_)))
          ShowState(QStringLiteral("ПЕРЕДАЧА"));
      });
    });
  });
  SendCharacter(fileSender_.NextCharacter());
  FocusTransmitPane();
}

void MainWindow::StepFileSend() {
  // The stream's finished writes first: their completions may not have been delivered yet, and
  // the line has run dry only once they are all taken.
  const FileSender::Finished finished = fileSender_.TakeFinishedWrites();
  counters_.TxCount = AddWrapping(counters_.TxCount, static_cast<uint32_t>(finished.moved));
  if (finished.moved > 0) ShowCounters();
  const bool streamAllowed = FileStreamAllowed(options_, keyingDelay_->isActive(), port_);
  if (fileSender_.StreamPending()) {
    // A transmit-empty from before the last writes: the line is fed.
    TopUpFileStream(fileSender_, port_, streamAllowed);
    return;
  }
  const bool last = fileSender_.Confirm();
  statusPanels_->SetPanelText(StatusPanel::Progress,
                              QString::number(fileSender_.Percent()) + QStringLiteral("%"));
  if (!last) {
    if (TopUpFileStream(fileSender_, port_, streamAllowed)) {
      ShowState(QStringLiteral("ПЕРЕДАЧА"));
      return;
    }
    SendCharacter(fileSender_.NextCharacter());
    return;
  }
  sendFileButton_->setChecked(false);
  EndFileSend();
  EndKeying();
}

void MainWindow::EndFileSend() {
  // Whatever ended it (the last character, the operator, a lost device), the operator sees how
  // the send came out beside the line that began it; the progress panel alone keeps only a
  // percentage that looks the same for a finished send and for one still running.
  const FileSender::Finished finished = fileSender_.TakeFinishedWrites();
  counters_.TxCount = AddWrapping(counters_.TxCount, static_cast<uint32_t>(finished.moved));
  if (finished.moved > 0) ShowCounters();
  const QString outcome = fileSender_.Finish();
  if (!outcome.isEmpty()) AppendMarkerLine(outcome);
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
  const QString path = fileDialogs_.ChooseCaptureFile(this, capture_.FileName());
  if (path.isEmpty()) {
    captureButton_->setChecked(false);
    FocusTransmitPane();
    return;
  }
  if (!capture_.Start(path)) {
    receivePane_->AppendLine(capture_.OpenFailedLine());
    return;
  }
  receivePane_->AppendLine(capture_.StartLine());
  ShowTakenOver(receiveView_, true);
  UpdateReceiveButtons();
  FocusTransmitPane();
}

void MainWindow::EndCapture() {
  const bool closed = capture_.Stop();
  ShowTakenOver(receiveView_, false);
  UpdateReceiveButtons();
  if (!closed) {
    receivePane_->AppendLine(capture_.CloseFailedLine());
    return;
  }
  FocusTransmitPane();
}

void MainWindow::WriteCapture(const std::string& shown) {
  const QString line = capture_.Write(shown);
  if (!line.isEmpty()) receivePane_->AppendLine(line);
}

// --- view --------------------------------------------------------------------------------

void MainWindow::ViewCaptureFile() {
  if (!capture_.FileName().isEmpty()) {
    const QFileInfo file(capture_.FileName());
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
  const bool enabled = !fileSender_.Active() && !capture_.Active();
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
