#include "platform/path_watcher.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace velmora::platform {

namespace {

// Creation, a rename into the folder (how `ln -sf` and udev replace a link), permission changes
// (udev sets a node's group after the kernel made it), and the folder itself going away.
constexpr uint32_t kFolderEvents =
    IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class InotifyPathWatcher final : public PathWatcher {
 public:
  InotifyPathWatcher(std::string path, int fd)
      : path_(std::move(path)), name_(LastPart(path_)), parent_(ParentOf(path_)), fd_(fd) {
    FollowFolders();
  }
  ~InotifyPathWatcher() override { ::close(fd_); }  // also drops every watch

  const std::string& Path() const override { return path_; }
  int Descriptor() const override { return fd_; }

  bool TakeChanges() override {
    bool pathTouched = false;
    bool foldersChanged = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;  // EAGAIN: all read
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) foldersChanged = true;
        if (e->mask & IN_Q_OVERFLOW) pathTouched = true;  // notices were lost, the path's perhaps
        if ((e->mask & IN_IGNORED) && e->wd == watch_) watch_ = -1;  // the folder is gone
        if (e->wd != watch_ || e->len == 0) continue;
        if (watched_ == parent_) {
          if (name_ == e->name) pathTouched = true;
        } else if (e->mask & (IN_CREATE | IN_MOVED_TO)) {
          foldersChanged = true;  // perhaps the next folder down the path
        }
      }
    }
    if (foldersChanged && FollowFolders()) pathTouched = true;
    return pathTouched && PathExists();
  }

  bool PathExists() const override {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0;
  }

 private:
  // Watches the deepest existing folder on the way to the path. True when that is now the
  // path's own folder and it was not before: the path may have appeared before the watch did.
  bool FollowFolders() {
    std::string folder = parent_;
    while (!IsFolder(folder) && folder != "/" && folder != ".") folder = ParentOf(folder);
    if (folder == watched_ && watch_ >= 0) return false;
    if (watch_ >= 0) ::inotify_rm_watch(fd_, watch_);
    watch_ = ::inotify_add_watch(fd_, folder.c_str(), kFolderEvents);
    watched_ = watch_ >= 0 ? folder : std::string();
    return watched_ == parent_;
  }

  const std::string path_;
  const std::string name_;
  const std::string parent_;
  const int fd_;
  int watch_ = -1;
  std::string watched_;
};

}  // namespace

std::unique_ptr<PathWatcher> PathWatcher::Create(const std::string& path, int* error) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  if (error) *error = 0;
  return std::make_unique<InotifyPathWatcher>(path, fd);
}

}  // namespace velmora::platform
