#include "port/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

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

std::filesystem::path ResolveLinks(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    if (!ec) return target;
  }
  return path;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, int* error) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (error) *error = errno;
    return std::nullopt;
  }
  std::string content;
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = errno;
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(chunk, static_cast<std::size_t>(n));
  }
  return content;
}

int ReplaceFileContents(const std::filesystem::path& requested, std::string_view content) {
  const std::filesystem::path path = ResolveLinks(requested);
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";

  mode_t mode = 0644;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) return EISDIR;
    mode = existing.st_mode & 07777;
  }

  // A hidden name beside the target: the rename must not cross file systems.
  std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  Descriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (fd.get() < 0) return errno;
  const std::string temporary = pattern;

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
