#include "console/session_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QFile>

#include "platform/posix/device_holders.h"

namespace velmora::console {

namespace {

// The file is ours to name, but the folder may be one others can write: a link placed there
// under the day's name is not followed, and only a regular file is appended to.
constexpr int kAppend = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

// How long frame lines wait to be written with the ones after them, and how many bytes of them
// are written at once whatever the time.
constexpr int kHoldMs = 250;
constexpr qsizetype kHeldMost = 64 * 1024;

// Written whole or not at all as far as the caller is concerned; an interrupted write goes on.
bool WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

SessionLog::SessionLog(Clock clock) : clock_(std::move(clock)) {
  holdTimer_.setSingleShot(true);
  holdTimer_.setInterval(kHoldMs);
  QObject::connect(&holdTimer_, &QTimer::timeout, [this] { WriteHeld(); });
}

SessionLog::~SessionLog() {
  WriteHeld();
  CloseFile();
}

QDateTime SessionLog::Now() const { return clock_ ? clock_() : QDateTime::currentDateTime(); }

QString SessionLog::FileNameFor(QDate day) {
  return QStringLiteral("velmora-") + day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log");
}

QString SessionLog::FilePathFor(QDate day) const { return QDir(folder_).filePath(FileNameFor(day)); }

void SessionLog::Start(const QString& folder) {
  if (folder.isEmpty()) return;
  if (active_ && folder == folder_) return;
  WriteHeld();
  CloseFile();
  folder_ = folder;
  failedDay_ = QDate();
  if (!active_) failureTold_ = false;
  active_ = true;
}

void SessionLog::Stop() {
  WriteHeld();
  CloseFile();
  active_ = false;
  failedDay_ = QDate();
}

void SessionLog::WriteEvent(const QDateTime& time, const QString& text) {
  if (!active_) return;
  WriteLine(time.date(), time.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") + text, true);
}

void SessionLog::WriteEvent(const QString& text) { WriteEvent(Now(), text); }

void SessionLog::WriteFrameLine(const QDateTime& firstByteTime, const QString& text) {
  if (!active_) return;
  WriteLine(firstByteTime.date(), text, false);
}

void SessionLog::WriteLine(QDate day, const QString& line, bool atOnce) {
  if (day == failedDay_) return;
  if (fileDay_ != day) {
    WriteHeld();
    if (!OpenFileFor(day)) return;
  }
  held_ += line.toUtf8();
  held_ += '\n';
  if (atOnce || held_.size() >= kHeldMost)
    WriteHeld();
  else if (!holdTimer_.isActive())
    holdTimer_.start();
}

void SessionLog::WriteHeld() {
  holdTimer_.stop();
  if (held_.isEmpty()) return;
  const bool written = fd_ >= 0 && WriteAll(fd_, held_);
  const int error = errno;
  held_.clear();
  if (written || fd_ < 0) return;
  const QDate day = fileDay_;
  const QString path = FilePathFor(day);
  CloseFile();
  failedDay_ = day;
  Fail(path, error);
}

bool SessionLog::OpenFileFor(QDate day) {
  CloseFile();
  const QString path = FilePathFor(day);
  // A folder typed into the dialog that does not exist yet is made; one that cannot be made
  // shows as the open's failure below.
  QDir().mkpath(folder_);
  int fd = ::open(QFile::encodeName(path).constData(), kAppend, 0644);
  int error = errno;
  if (fd >= 0) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
      ::close(fd);
      fd = -1;
    } else {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
  }
  if (fd < 0) {
    failedDay_ = day;
    Fail(path, error);
    return false;
  }
  fd_ = fd;
  fileDay_ = day;
  return true;
}

void SessionLog::CloseFile() {
  // What is held belongs to this file and nowhere else.
  held_.clear();
  holdTimer_.stop();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fileDay_ = QDate();
}

void SessionLog::Fail(const QString& path, int error) {
  if (failureTold_) return;
  failureTold_ = true;
  QString reason;
  if (error == EINVAL)
    reason = QStringLiteral("это не обычный файл");
  else if (error == EISDIR)
    reason = QStringLiteral("на его месте папка");
  else if (error == ELOOP)
    reason = QStringLiteral("на его месте символическая ссылка");
  else
    reason = QString::fromStdString(platform::posix::SystemErrorText(error));
  if (reportFailure_)
    reportFailure_(QStringLiteral("Журнал сеанса не записывается в файл %1: %2. Работа продолжается без него.")
                       .arg(path, reason));
}

}  // namespace velmora::console
