#include "console/file_sender.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <utility>

#include <QFile>
#include <QSocketNotifier>

#include "dialogs/launcher.h"
#include "platform/event.h"
#include "port/com_port.h"

namespace velmora::console {

namespace {

// A file to send is counted in a 32-bit signed number of characters.
constexpr int64_t kLargestFileToSend = INT32_MAX;

// A stream write's share of the line's time. The writes with the device hold the line for
// kStreamWrites times this: the window has that long less one write to start the next before
// the line would idle, and a stop waits at most that long.
constexpr uint32_t kStreamWriteMs = 8;

}  // namespace

size_t StreamChunkBytes(uint32_t baud) {
  // Ten bits a character is the shortest frame (8N1): a longer one only lengthens the write.
  const uint64_t bytes = (uint64_t{baud} * kStreamWriteMs + 9999) / 10000;
  return static_cast<size_t>(std::clamp<uint64_t>(bytes, 1, FileSender::kLargestStreamWrite));
}

FileSender::FileSender() = default;

FileSender::~FileSender() {
  // The device writes into the records and reads the chunks until each write finishes: abort
  // what is still pending and wait for it, so neither is freed under the device.
  for (StreamWrite& write : writes_) {
    if (!write.pending) continue;
    const std::atomic<int>& status = write.operation->Overlapped.status;
    if (status.load(std::memory_order_acquire) != platform::Overlapped::kStatusPending) continue;
    if (streamPort_ && streamPort_->Handle()) (void)streamPort_->Handle()->PurgeComm(platform::PURGE_TXABORT);
    while (status.load(std::memory_order_acquire) == platform::Overlapped::kStatusPending)
      (void)platform::WaitForOne(*write.operation->Overlapped.event, 100);
  }
}

FileSender::StartResult FileSender::Start(const QString& path) {
  fileName_ = path;
  active_ = false;
  characterInFlight_ = false;
  streamFailed_ = false;
  grownChunk_ = 0;
  progress_ = FileSendProgress{};
  // Writes of a stopped send still with the device go on; they are no longer this send's.
  for (StreamWrite& write : writes_) write.ofThisSend = false;
  const uint64_t size = dialogs::FileSize64(path);
  if (size == 0) return StartResult::kEmpty;
  if (!ReadWhole(path, size)) {
    progress_ = FileSendProgress{};
    return StartResult::kReadFailed;
  }
  if (progress_.content.empty()) return StartResult::kEmpty;  // emptied since its size was taken
  active_ = true;
  return StartResult::kStarted;
}

QString FileSender::StartLine(StartResult result) const {
  switch (result) {
    case StartResult::kStarted:
      return QStringLiteral("Идет передача файла ") + fileName_ + QStringLiteral(" (") +
             QString::number(progress_.Size()) + QStringLiteral(" байт)");
    case StartResult::kEmpty:
      // Nothing goes and the button stays down; only the operator knows now why nothing happens.
      return QStringLiteral("Файл ") + fileName_ + QStringLiteral(" пуст: передавать нечего");
    case StartResult::kReadFailed:
      break;
  }
  return QStringLiteral("Ошибка при чтении файла ") + fileName_;
}

bool FileSender::ReadWhole(const QString& path, uint64_t size) {
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
  progress_.content = std::move(content);
  return true;
}

char FileSender::NextCharacter() {
  characterInFlight_ = true;
  return progress_.content[progress_.nextIndex++];
}

bool FileSender::Confirm() {
  if (std::exchange(characterInFlight_, false)) ++progress_.sentCount;
  return progress_.Complete();
}

bool FileSender::StreamMayStart() const {
  return active_ && !streamFailed_ && !characterInFlight_ &&
         static_cast<int64_t>(progress_.nextIndex) >= kCharactersBeforeStream;
}

void FileSender::TopUp(port::TComPort& port, size_t chunkBytes) {
  for (StreamWrite& write : writes_) {
    if (!StreamMayStart() || progress_.nextIndex >= progress_.content.size()) return;
    if (write.pending) continue;
    if (!write.operation) write.operation = port::NewPortOperation();
    if (!write.notifier) {
      write.notifier = std::make_unique<QSocketNotifier>(write.operation->CompletionEvent->PollHandle(),
                                                         QSocketNotifier::Read);
      QObject::connect(write.notifier.get(), &QSocketNotifier::activated, [this] {
        if (writeFinished_) writeFinished_();
      });
    }
    const size_t count = std::min(std::max(chunkBytes, grownChunk_), progress_.content.size() - progress_.nextIndex);
    write.bytes.assign(progress_.content, progress_.nextIndex, count);
    streamPort_ = &port;
    port.StartWrite(write.bytes.data(), static_cast<int>(count), write.operation.get());
    progress_.nextIndex += count;
    // A write the line took whole at once (a pseudo-terminal, a transmitter's FIFO with room)
    // left nothing with the driver: the next may be larger without holding the line longer after
    // a stop. Each one that has to wait halves the writes, back to their time-sized length on a
    // line slower than the window.
    const bool atOnce = write.operation->Overlapped.status.load(std::memory_order_acquire) !=
                        platform::Overlapped::kStatusPending;
    grownChunk_ = atOnce ? std::min(count * 2, kLargestStreamWrite) : count / 2;
    write.pending = true;
    write.ofThisSend = true;
    // A write that finished at once has its event set already: the notifier reports it on the
    // event loop's next turn, which keeps the window answering however fast the line takes them.
    write.notifier->setEnabled(true);
  }
}

FileSender::Finished FileSender::TakeFinishedWrites() {
  Finished finished;
  for (StreamWrite& write : writes_) {
    if (!write.pending) continue;
    const platform::Overlapped& record = write.operation->Overlapped;
    const int status = record.status.load(std::memory_order_acquire);
    if (status == platform::Overlapped::kStatusPending) continue;
    const int64_t moved = record.transferred.load(std::memory_order_relaxed);
    write.pending = false;
    // Its event stays set until the next write on the record resets it.
    write.notifier->setEnabled(false);
    finished.moved += moved;
    if (status != 0 && finished.error == 0) finished.error = status;
    if (!write.ofThisSend) continue;
    progress_.sentCount += moved;
    // A write cut short (failed, or timed out behind a held line) lost its rest: what follows
    // would no longer be the file's bytes in order.
    if (status != 0 || moved < static_cast<int64_t>(write.bytes.size())) streamFailed_ = true;
  }
  return finished;
}

bool FileSender::StreamPending() const {
  return std::any_of(writes_.begin(), writes_.end(), [](const StreamWrite& w) { return w.pending; });
}

int64_t FileSender::PendingOfThisSend() const {
  int64_t bytes = 0;
  for (const StreamWrite& write : writes_)
    if (write.pending && write.ofThisSend) bytes += static_cast<int64_t>(write.bytes.size());
  return bytes;
}

QString FileSender::Finish() {
  QString line;
  if (progress_.Size() > 0) {
    const QString size = QString::number(progress_.Size());
    if (progress_.Complete())
      line = QStringLiteral("Файл ") + fileName_ + QStringLiteral(" передан (") + size +
             QStringLiteral(" байт)");
    else
      line = QStringLiteral("Передача файла ") + fileName_ + QStringLiteral(" остановлена: передано ") +
             QString::number(progress_.sentCount + (characterInFlight_ ? 1 : 0) + PendingOfThisSend()) +
             QStringLiteral(" из ") + size + QStringLiteral(" байт");
  }
  active_ = false;
  characterInFlight_ = false;
  progress_ = FileSendProgress{};
  return line;
}

void FileSender::Forget() {
  active_ = false;
  characterInFlight_ = false;
  fileName_.clear();
}

}  // namespace velmora::console
