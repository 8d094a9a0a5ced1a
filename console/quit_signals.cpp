#include "console/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <system_error>

#include <QSocketNotifier>

namespace velmora::console {

namespace {

// The write end of the self-pipe. A signal handler can reach nothing but process-wide state,
// so this descriptor (with the handlers it stands in for, below) is the console's one global
// besides the error-display hook.
volatile sig_atomic_t gQuitPipeWrite = -1;

// Each stop signal with the handler it had before.
struct StopSignal {
  int number;
  struct sigaction previous;
};
// SIGHUP: the terminal the console was started from went away; the window is still the
// operator's, and the port must still be let go of properly.
StopSignal gStopSignals[] = {{SIGTERM, {}}, {SIGINT, {}}, {SIGHUP, {}}};

void RestoreHandlers(size_t count) {
  for (size_t i = 0; i < count; ++i) ::sigaction(gStopSignals[i].number, &gStopSignals[i].previous, nullptr);
}

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
  for (size_t i = 0; i < std::size(gStopSignals); ++i) {
    StopSignal& stop = gStopSignals[i];
    // Started with nohup, the operator asked that a closing terminal leave the console alone.
    if (stop.number == SIGHUP && ::sigaction(SIGHUP, nullptr, &stop.previous) == 0 &&
        stop.previous.sa_handler == SIG_IGN)
      continue;
    if (::sigaction(stop.number, &action, &stop.previous) == 0) continue;
    const int error = errno;
    RestoreHandlers(i);
    ::close(readFd_);
    ::close(writeFd_);
    gQuitPipeWrite = -1;
    throw std::system_error(error, std::generic_category(), "sigaction");
  }

  notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
}

QuitSignals::~QuitSignals() {
  RestoreHandlers(std::size(gStopSignals));
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
