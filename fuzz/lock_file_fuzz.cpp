// libFuzzer target: the reader of UUCP lock files, which any local user can write.
//
// Whatever a lock file holds, the process id read is 0 or one the kernel can give; a file read
// from the disk says what its bytes say (the reader looks at the first 64); four bytes that are
// all text are never taken for the binary form, and the ten-digit form reads back the id written.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/uucp_lock.h"

namespace {

using velmora::platform::posix::UucpLock;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A file of this process's own, removed when it ends (a plain array: it outlives every
// destructor run at exit).
char lockFilePath[4096];

const char* LockFilePath() {
  if (lockFilePath[0] == '\0') {
    // In memory where the machine has it: the file is written once per input.
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(lockFilePath, sizeof lockFilePath, "%s/velmora-fuzz-lock-%d", folder,
                  static_cast<int>(::getpid()));
    std::atexit([] { ::unlink(lockFilePath); });
  }
  return lockFilePath;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const pid_t pid = UucpLock::ParseHolder(bytes);
  Check(pid >= 0 && pid < 4 * 1024 * 1024);

  bool allText = true;
  for (char c : bytes)
    allText = allText && ((c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n' || c == '\r');
  if (allText && pid > 0) {
    // Text: the id is the first run of digits.
    std::string_view run = bytes.substr(bytes.find_first_of("0123456789"));
    run = run.substr(0, run.find_first_not_of("0123456789"));
    while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
    Check(std::to_string(pid) == run);
  }

  const char* path = LockFilePath();
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0);
  Check(::write(fd, data, size) == static_cast<ssize_t>(size));
  ::close(fd);
  Check(UucpLock::ReadHolder(path) == UucpLock::ParseHolder(bytes.substr(0, 64)));

  if (pid > 0) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    Check(UucpLock::ParseHolder(text) == pid);
  }
  return 0;
}
