#pragma once
// The bookkeeping of a file being sent: its whole content, the characters confirmed by the
// line and the next one to go. Pure value type; user-interface thread.

#include <cstdint>
#include <string>

namespace velmora::console {

struct FileSendProgress {
  std::string content;
  int64_t sentCount = 0;  // confirmed by transmit-empty events
  size_t nextIndex = 0;   // of the next character in `content`

  int64_t Size() const { return static_cast<int64_t>(content.size()); }
  bool Complete() const { return sentCount >= Size(); }
  // The whole percentage confirmed, exactly: 53 of 100 is 53.
  int Percent() const { return Size() > 0 ? static_cast<int>(sentCount * 100 / Size()) : 100; }
};

}  // namespace velmora::console
