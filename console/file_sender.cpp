#include "console/file_sender.h"

#include <climits>
#include <string>
#include <utility>

#include <QFile>

#include "dialogs/launcher.h"

namespace velmora::console {

namespace {

// A file to send is counted in a 32-bit signed number of characters.
constexpr int64_t kLargestFileToSend = INT32_MAX;

}  // namespace

FileSender::StartResult FileSender::Start(const QString& path) {
  fileName_ = path;
  active_ = false;
  progress_ = FileSendProgress{};
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

bool FileSender::Confirm() {
  ++progress_.sentCount;
  return progress_.Complete();
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
             QString::number(progress_.nextIndex) + QStringLiteral(" из ") + size +
             QStringLiteral(" байт");
  }
  active_ = false;
  progress_ = FileSendProgress{};
  return line;
}

void FileSender::Forget() {
  active_ = false;
  fileName_.clear();
}

}  // namespace velmora::console
