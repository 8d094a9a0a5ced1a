#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velmora::test {

PtyPair::PtyPair() {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (::openpty(&master_, &slaveKeeper_, name, &raw, nullptr) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  slavePath_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slaveKeeper_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
  CloseMaster();
  CloseSlaveKeeper();
}

void PtyPair::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 1000);
    } else if (n < 0 && errno != EINTR) {
      throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
    }
  }
}

size_t PtyPair::WriteWhatFits(std::string_view bytes) {
  size_t taken = 0;
  while (taken < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + taken, bytes.size() - taken);
    if (n > 0) taken += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else break;
  }
  return taken;
}

std::string PtyPair::Read(size_t count, int timeoutMs) {
  std::string out;
  char buf[4096];
  while (out.size() < count) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
  }
  return out;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPair::CloseSlaveKeeper() {
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  slaveKeeper_ = -1;
}

}  // namespace velmora::test
