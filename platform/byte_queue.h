#pragma once
// A bounded ring of bytes: the input queue of a device. Not synchronised.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velmora::platform {

class ByteQueue {
 public:
  explicit ByteQueue(size_t capacity) : ring_(capacity) {}

  size_t Size() const { return size_; }
  size_t Capacity() const { return ring_.size(); }
  size_t Room() const { return ring_.size() - size_; }
  bool Empty() const { return size_ == 0; }

  // Never below what it holds: lowering the size of a full queue must not drop received bytes.
  void SetCapacity(size_t capacity) {
    capacity = std::max(capacity, size_);
    std::vector<uint8_t> next(capacity);
    size_t keep = size_;
    Pop(next.data(), keep);
    ring_.swap(next);
    head_ = 0;
    size_ = keep;
  }

  // Appends as much as fits; returns the count taken.
  size_t Push(const uint8_t* data, size_t count) {
    count = std::min(count, Room());
    if (count == 0) return 0;
    size_t tail = (head_ + size_) % Capacity();
    size_t first = std::min(count, Capacity() - tail);
    std::memcpy(ring_.data() + tail, data, first);
    std::memcpy(ring_.data(), data + first, count - first);
    size_ += count;
    return count;
  }

  bool PushByte(uint8_t byte) { return Push(&byte, 1) == 1; }

  // Removes up to `count` bytes into `out`; returns the count moved.
  size_t Pop(uint8_t* out, size_t count) {
    count = std::min(count, size_);
    if (count == 0) return 0;
    size_t first = std::min(count, Capacity() - head_);
    std::memcpy(out, ring_.data() + head_, first);
    std::memcpy(out + first, ring_.data(), count - first);
    head_ = (head_ + count) % Capacity();
    size_ -= count;
    if (size_ == 0) head_ = 0;
    return count;
  }

  void Clear() {
    head_ = 0;
    size_ = 0;
  }

 private:
  std::vector<uint8_t> ring_;
  size_t head_ = 0;
  size_t size_ = 0;
};

}  // namespace velmora::platform
