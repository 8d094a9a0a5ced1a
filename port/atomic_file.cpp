#include "port/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::port {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Close and report the result: a failed close can mean the data did not reach the disk.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

int WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, int* error,
                                         std::uintmax_t largest) {
  const auto fail = [error](int number) -> std::optional<std::string> {
    if (error) *error = number;
    return std::nullopt;
  };
  // Without O_NONBLOCK a FIFO in the file's place would hold the open until a writer came.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return fail(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return fail(errno);
  if (S_ISDIR(info.st_mode)) return fail(EISDIR);
  if (!S_ISREG(info.st_mode)) return fail(EINVAL);
  if (static_cast<std::uintmax_t>(info.st_size) > largest) return fail(EFBIG);
  std::string content;
  content.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    content.append(chunk, static_cast<std::size_t>(n));
    // The file may grow while it is read.
    if (content.size() > largest) return fail(EFBIG);
  }
  return content;
}

std::optional<std::filesystem::path> LinkTarget(const std::filesystem::path& path, int* error) {
  std::filesystem::path current = path;
  // The kernel's own bound on links followed in one lookup.
  for (int followed = 0; followed <= 40; ++followed) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno == ENOENT) return current;  // the end of the chain, to be created
      if (error) *error = errno;
      return std::nullopt;
    }
    if (!S_ISLNK(info.st_mode)) return current;
    std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
      if (error) *error = n < 0 ? errno : ENAMETOOLONG;
      return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(n));
    // A relative target is relative to the link's folder; ".." in it is left to the kernel,
    // which knows where a linked folder really is.
    const std::filesystem::path next(target);
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  if (error) *error = ELOOP;
  return std::nullopt;
}

int ReplaceFileContents(const std::filesystem::path& requested, std::string_view content) {
  int linkError = 0;
  const std::optional<std::filesystem::path> target = LinkTarget(requested, &linkError);
  if (!target) return linkError;
  const std::filesystem::path& path = *target;
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";

  mode_t mode = 0644;
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) return errno;
  if (exists) {
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    if (!S_ISREG(existing.st_mode)) return EINVAL;
    mode = existing.st_mode & 07777;
  }

  // A hidden name beside the target: the rename must not cross file systems.
  std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  Descriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (fd.get() < 0) return errno;
  const std::string temporary = pattern;

  // The replacement belongs to whoever owned the file. Only root may give a file away; a
  // refusal leaves it the caller's, as a file the caller created anyway would be.
  if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
      ::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
    // Not ours to give: the file is replaced all the same, as before.
  }
  // After the owner: a change of owner clears the set-id bits.
  int error = ::fchmod(fd.get(), mode) == 0 ? 0 : errno;
  if (error == 0) error = WriteAll(fd.get(), content);
  if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
  if (error == 0) error = fd.Close();
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  // Make the rename itself durable; the new file is in place already, so a failure here is
  // not worth reporting as a failed write.
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return 0;
}

}  // namespace velmora::port
