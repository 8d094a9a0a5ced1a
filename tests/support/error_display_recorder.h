#pragma once
// Installs an error display that keeps the messages (from any thread); puts the previous one
// back at the end.

#include <mutex>
#include <string>
#include <vector>

#include "port/error_display.h"

namespace velmora::test {

class ErrorDisplayRecorder {
 public:
  ErrorDisplayRecorder() {
    previous_ = port::SetErrorDisplay([this](const std::string& message) {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    });
  }
  ~ErrorDisplayRecorder() { port::SetErrorDisplay(std::move(previous_)); }
  ErrorDisplayRecorder(const ErrorDisplayRecorder&) = delete;
  ErrorDisplayRecorder& operator=(const ErrorDisplayRecorder&) = delete;

  std::vector<std::string> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  port::ErrorDisplay previous_;
};

}  // namespace velmora::test
