#pragma once
// A program run by a test as a child process: killed and reaped when the object goes, so a
// failed test leaves nothing running.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::test {

class ChildProcess {
 public:
  // Starts `argv` (looked up on PATH) with its output sent to /dev/null unless `showOutput`.
  explicit ChildProcess(const std::vector<std::string>& argv, bool showOutput = false,
                        char** environment = environ) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!showOutput) {
      ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environment) != 0) pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Started() const { return pid_ > 0; }
  void Signal(int signal) const {
    if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
  }

  // The raw wait status once the child ended within `limit`; -1 when it is still running.
  int WaitForExit(std::chrono::milliseconds limit) {
    using namespace std::chrono_literals;
    if (pid_ <= 0) return -1;
    if (reaped_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
      if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
        return status_;
      }
      std::this_thread::sleep_for(5ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

}  // namespace velmora::test
