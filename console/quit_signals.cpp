#include "console/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <QSocketNotifier>

namespace velmora::console {

namespace {

// The write end of the self-pipe. A signal handler can reach nothing but process-wide state,
// so this descriptor is the one global of the console besides the error-display hook.
volatile sig_atomic_t gQuitPipeWrite = -1;

struct sigaction gPreviousTerm;
struct sigaction gPreviousInt;

extern "C" void OnQuitSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  // Non-blocking: with the pipe full a close is already on its way.
  [[maybe_unused]] const ssize_t written = ::write(gQuitPipeWrite, &byte, 1);
  errno = savedErrno;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  readFd_ = fds[0];
  writeFd_ = fds[1];
  gQuitPipeWrite = writeFd_;

  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (::sigaction(SIGTERM, &action, &gPreviousTerm) != 0 ||
      ::sigaction(SIGINT, &action, &gPreviousInt) != 0) {
    const int error = errno;
    ::close(readFd_);
    ::close(writeFd_);
    gQuitPipeWrite = -1;
    throw std::system_error(error, std::generic_category(), "sigaction");
  }

  notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
}

QuitSignals::~QuitSignals() {
  ::sigaction(SIGTERM, &gPreviousTerm, nullptr);
  ::sigaction(SIGINT, &gPreviousInt, nullptr);
  gQuitPipeWrite = -1;
  delete notifier_;
  ::close(readFd_);
  ::close(writeFd_);
}

void QuitSignals::Drain() {
  unsigned char bytes[16];
  ssize_t n;
  while ((n = ::read(readFd_, bytes, sizeof bytes)) > 0) {
    for (ssize_t i = 0; i < n; ++i) emit quitRequested(bytes[i]);
  }
}

}  // namespace velmora::console
