#pragma once
// The bookkeeping of a file being sent: its whole content, the characters confirmed by the
// line and the next one to go. Pure value type; user-interface thread.

#include <cstdint>
#include <string>

namespace velmora::console {

// The whole percentage of `sent` out of `size` characters, exactly: 53 of 100 is 53. 100 for
// an empty file.
inline int SendPercent(int64_t sent, int64_t size) {
  return size > 0 ? static_cast<int>(sent * 100 / size) : 100;
}

struct FileSendProgress {
  std::string content;
  int64_t sentCount = 0;  // confirmed by transmit-empty events
  size_t nextIndex = 0;   // of the next character in `content`

  int64_t Size() const { return static_cast<int64_t>(content.size()); }
  bool Complete() const { return sentCount >= Size(); }
  int Percent() const { return SendPercent(sentCount, Size()); }
};

}  // namespace velmora::console
