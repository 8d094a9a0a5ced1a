#include "console/capture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::console {

namespace {

// O_NONBLOCK: an open of a FIFO for writing would otherwise wait, window and all, until some
// program opened it for reading.
constexpr int kAppend = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

bool Appendable(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  return S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode);
}

// A link the operator may be taken to have chosen: one of their own, or the system's.
bool TrustedLink(const QByteArray& path) {
  struct stat link {};
  if (::lstat(path.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) return false;
  return link.st_uid == ::geteuid() || link.st_uid == 0;
}

int OpenForAppending(const QByteArray& path) {
  int fd = ::open(path.constData(), kAppend | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) {
    // Nothing by that name: made here and now, or not at all if something appeared meanwhile.
    fd = ::open(path.constData(), kAppend | O_NOFOLLOW | O_CREAT | O_EXCL, 0666);
  } else if (fd < 0 && errno == ELOOP && TrustedLink(path)) {
    // Followed, but to an existing file only: no O_CREAT, so a dangling link makes nothing.
    fd = ::open(path.constData(), kAppend);
  }
  if (fd < 0) return -1;
  if (!Appendable(fd)) {
    ::close(fd);
    return -1;
  }
  // A regular file never blocks; a FIFO keeps O_NONBLOCK, so a reader that stops reading costs
  // a failed write (reported) rather than a frozen window.
  struct stat info {};
  if (::fstat(fd, &info) == 0 && !S_ISFIFO(info.st_mode))
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

bool CaptureFile::Open(const QString& path) {
  if (file_.isOpen()) file_.close();
  file_.setFileName(path);
  unlinkedTold_ = false;
  const int fd = OpenForAppending(QFile::encodeName(path));
  if (fd < 0) return false;
  // Unbuffered: every write reaches the system at once, which also reports its failure at once
  // (a full disk, a removed medium) instead of at some later flush. Not Qt's Append: it would
  // seek, which a FIFO refuses; the descriptor's O_APPEND puts every write at the end.
  if (file_.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                 QFileDevice::AutoCloseHandle))
    return true;
  ::close(fd);
  return false;
}

CaptureFile::WriteResult CaptureFile::Write(std::string_view bytes) {
  if (!file_.isOpen()) return WriteResult::kFailed;
  if (!bytes.empty() && file_.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
                            static_cast<qint64>(bytes.size()))
    return WriteResult::kFailed;
  struct stat info {};
  if (!unlinkedTold_ && ::fstat(file_.handle(), &info) == 0 && info.st_nlink == 0) {
    unlinkedTold_ = true;
    return WriteResult::kUnlinked;
  }
  return WriteResult::kWritten;
}

bool CaptureFile::Close() {
  if (!file_.isOpen()) return false;
  file_.unsetError();  // a failed write earlier has been dealt with; this is about the close
  file_.close();
  return file_.error() == QFileDevice::NoError;
}

}  // namespace velmora::console
