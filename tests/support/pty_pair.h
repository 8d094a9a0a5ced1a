#pragma once
// A pseudo-terminal made by a test: the code under test opens `SlavePath()`, the test plays
// the far end on the master. The pair keeps its own slave descriptor open, as socat does, so
// that closing the device under test does not hang the master up; `CloseMaster` takes the
// far end away.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::test {

class PtyPair {
 public:
  PtyPair();  // raw mode on both sides; throws std::runtime_error when no pty can be made
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  void Write(std::string_view bytes);  // all of it, waiting for room
  // Without waiting: as much as the kernel takes now; returns the count taken.
  size_t WriteWhatFits(std::string_view bytes);
  // Reads until `count` bytes came or `timeoutMs` passed with nothing new.
  std::string Read(size_t count, int timeoutMs = 2000);
  void CloseMaster();
  void CloseSlaveKeeper();  // the pair's own slave descriptor

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;
  std::string slavePath_;
};

}  // namespace velmora::test
