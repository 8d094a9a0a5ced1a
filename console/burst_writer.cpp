#include "console/burst_writer.h"

#include <QSocketNotifier>

#include "port/com_port.h"

namespace velmora::console {

namespace {

bool StillPending(const port::TPortOperation& operation) {
  return operation.Overlapped.status.load(std::memory_order_acquire) == platform::Overlapped::kStatusPending;
}

}  // namespace

BurstWriter::BurstWriter(Finished finished) : finished_(std::move(finished)) {}

BurstWriter::~BurstWriter() {
  for (const std::unique_ptr<OneWrite>& write : writes_) {
    if (!StillPending(*write->operation)) continue;
    if (port_ && port_->Handle()) (void)port_->Handle()->PurgeComm(platform::PURGE_TXABORT);
    while (StillPending(*write->operation)) (void)platform::WaitForOne(*write->operation->Overlapped.event, 100);
  }
}

void BurstWriter::Write(port::TComPort& port, std::string bytes) {
  auto write = std::make_unique<OneWrite>();
  write->operation = port::NewPortOperation();
  write->bytes = std::move(bytes);
  port.StartWriteText(write->bytes, write->operation.get());
  port_ = &port;
  // A write the line took at once has its event set already: the notifier tells it on the event
  // loop's next turn.
  write->notifier =
      std::make_unique<QSocketNotifier>(write->operation->CompletionEvent->PollHandle(), QSocketNotifier::Read);
  QObject::connect(write->notifier.get(), &QSocketNotifier::activated, [this] { Collect(); });
  writes_.push_back(std::move(write));
}

void BurstWriter::Collect() {
  while (!writes_.empty() && !StillPending(*writes_.front()->operation)) {
    std::unique_ptr<OneWrite> done = std::move(writes_.front());
    writes_.pop_front();
    done->notifier->setEnabled(false);
    const platform::Overlapped& record = done->operation->Overlapped;
    const int error = record.status.load(std::memory_order_acquire);
    finished_(record.transferred.load(std::memory_order_relaxed), error);
  }
}

}  // namespace velmora::console
