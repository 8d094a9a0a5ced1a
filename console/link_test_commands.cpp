// The window's wiring of the link test: the dialog sends through the window's keying, hears the
// end of each burst from RTS, and takes the received bytes and line errors while a run is under
// way. The console's counters and panes stay as they were: the echoes bypass them, and the
// transmit count the test's bursts added is put back when the run ends.

#include <algorithm>
#include <memory>

#include <QPointer>

#include "console/guarded.h"
#include "console/main_window.h"
#include "dialogs/link_test_dialog.h"
#include "dialogs/modal_run.h"
#include "port/device_config.h"

namespace velmora::console {

namespace {

// Start bit, eight data bits, parity and two stop bits: no character the port can be set to
// takes longer.
constexpr int64_t kLongestCharacterBits = 12;

}  // namespace

void MainWindow::SetLinkTestFrameSource(std::function<std::optional<std::string>()> source) {
  linkTestFrameSource_ = std::move(source);
}

void MainWindow::ShowLinkTest() {
  if (fileSender_.Active()) {
    // Its bursts would go into the middle of the file.
    AppendMarkerLine(QStringLiteral("Идет передача файла: проверка канала — после передачи или после ее "
                                    "остановки кнопкой «Передать файл»."));
    return;
  }
  dialogs::LinkTestDialog::Line line;
  line.sendBurst = [this](const std::string& bytes) { Guarded([&] { SendBurst(bytes); }); };
  line.abandonBurst = [this] {
    Guarded([&] {
      StopKeyingDelay();
      // Without a device there is no RTS to drop: the keyer only lets go of what it held.
      if (port_.Connected())
        RunSkippingDeviceGoneError([&] { SetRts(false); });
      else
        keyer_->Forget();
    });
  };
  line.sendLimit = [this](size_t bytes) {
    const int64_t baud = std::max<int64_t>(1, port::BaudRateValue(port_.BaudRate(), port_.CustomBaudRate()));
    const auto onLine = std::chrono::nanoseconds(static_cast<int64_t>(bytes) * kLongestCharacterBits *
                                                 1'000'000'000 / baud);
    // Room for the keying delay, a slow start of the line and CTS: the keyer's own time-out comes
    // first; this only keeps a burst the line never finished from holding the run for ever.
    const std::chrono::nanoseconds limit =
        std::chrono::milliseconds(options_.keyingDelayMs + options_.txLeadMs + options_.txTailMs) + 2 * onLine +
        std::chrono::seconds(1);
    // Never beyond the transmitter time-out: the keyer drops RTS there, and the burst is over.
    if (options_.txTimeoutS > 0) return std::min<std::chrono::nanoseconds>(limit, std::chrono::seconds(options_.txTimeoutS));
    return limit;
  };
  line.storedFrame = [this] {
    return linkTestFrameSource_ ? linkTestFrameSource_() : std::optional<std::string>();
  };
  auto* dialog = new dialogs::LinkTestDialog(std::move(line), linkTestPlan_, this);
  const QPointer<dialogs::LinkTestDialog> alive(dialog);
  auto txBefore = std::make_shared<int32_t>(0);
  connect(this, &MainWindow::RtsChanged, dialog, [dialog](bool on) {
    if (!on) dialog->OnBurstEnded();
  });
  connect(this, &MainWindow::DeviceLost, dialog, &dialogs::LinkTestDialog::StopRunBecause);
  connect(dialog, &dialogs::LinkTestDialog::RunningChanged, this, [this, alive, txBefore](bool running) {
    if (running) {
      *txBefore = counters_.TxCount;
      linkTestBytes_ = [alive](const std::string& bytes) {
        if (alive) alive->OnReceived(bytes);
      };
      linkTestErrors_ = [alive](bool withBreak) {
        if (alive) alive->OnLineErrors(withBreak);
      };
      return;
    }
    linkTestBytes_ = nullptr;
    linkTestErrors_ = nullptr;
    counters_.TxCount = *txBefore;
    ShowCounters();
  });
  connect(dialog, &dialogs::LinkTestDialog::RunEnded, this, &MainWindow::LinkTestEnded);
  connect(dialog, &QDialog::finished, this, [this, dialog] { linkTestPlan_ = dialog->Plan(); });
  dialogs::RunModal(dialog);
  // Whatever way the dialog went, nothing of the test is left wired.
  linkTestBytes_ = nullptr;
  linkTestErrors_ = nullptr;
}

}  // namespace velmora::console
