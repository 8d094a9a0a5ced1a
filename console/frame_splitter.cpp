#include "console/frame_splitter.h"

#include "console/checksums.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace velmora::console {


FrameClock::duration FrameGapFor(int64_t baud, int dataBits, bool parity, double stopBits, int fixedMs) {
  using std::chrono::duration_cast;
  if (fixedMs > 0) return std::chrono::milliseconds(fixedMs);
  // Above 19 200 baud the Modbus rule fixes the silence: character times shrink below what
  // the hardware and the operating system can keep apart.
  if (baud <= 0 || baud > 19200) return std::chrono::microseconds(1750);
  const double bits = 1 + dataBits + (parity ? 1 : 0) + stopBits;
  const double seconds = 3.5 * bits / static_cast<double>(baud);
  return duration_cast<FrameClock::duration>(std::chrono::duration<double>(seconds));
}

FrameCheck CheckOf(std::string_view frame) {
  if (ModbusAsciiLrcMatches(frame) == true) return FrameCheck::Lrc;
  // An address, a function and the CRC at least: shorter frames would pass by chance too often.
  if (frame.size() >= 4 && EndsWithValidCrc16Modbus(frame)) return FrameCheck::Crc;
  return FrameCheck::None;
}

void FrameSplitter::Open(std::optional<Frame>& slot, FrameDirection direction, FrameClock::time_point at) {
  slot.emplace();
  slot->direction = direction;
  slot->first = at;
  slot->last = at;
}

void FrameSplitter::Close(std::optional<Frame>& slot, std::vector<Frame>& done) {
  if (!slot) return;
  slot->check = CheckOf(slot->bytes);
  // Counted when the frame is told, as frames are told in the order they began: a frame heard
  // during a keying began while the sent one was still open.
  if (lastEnd_) slot->silence = std::max(FrameClock::duration::zero(), slot->first - *lastEnd_);
  lastEnd_ = lastEnd_ ? std::max(*lastEnd_, slot->last) : slot->last;
  done.push_back(std::move(*slot));
  slot.reset();
}

void FrameSplitter::CloseKeyed(std::vector<Frame>& done) {
  std::optional<Frame> sent = std::move(open_);
  std::optional<Frame> echo = std::move(echo_);
  open_.reset();
  echo_.reset();
  if (echo) {
    // What came back while we sent: our own signal, or someone else's over it.
    const std::string_view bytes = sent ? std::string_view(sent->bytes) : std::string_view();
    echo->echo = bytes.substr(0, echo->bytes.size()) == echo->bytes ? FrameEcho::Echo : FrameEcho::Collision;
  }
  // Both began inside the keying: they are told in the order their first bytes came.
  if (echo && sent && echo->first < sent->first) std::swap(echo, sent);
  Close(sent, done);
  Close(echo, done);
}

void FrameSplitter::Add(FrameDirection direction, std::string_view bytes, FrameClock::time_point at,
                        std::vector<Frame>& done) {
  if (bytes.empty()) return;
  if (keyed_ && direction == FrameDirection::Received) {
    if (!echo_) Open(echo_, direction, at);
    Append(echo_, bytes, at, done);
    return;
  }
  if (open_) {
    // The keying holds a sent frame together whatever pauses it has.
    const bool held = keyed_ && open_->direction == FrameDirection::Sent;
    if (open_->direction != direction || (!held && at - open_->last > gap_)) Close(open_, done);
  }
  if (!open_) Open(open_, direction, at);
  Append(open_, bytes, at, done);
}

void FrameSplitter::Append(std::optional<Frame>& slot, std::string_view bytes, FrameClock::time_point at,
                           std::vector<Frame>& done) {
  while (true) {
    const size_t take = std::min(bytes.size(), kLongestFrame - slot->bytes.size());
    slot->bytes.append(bytes.substr(0, take));
    slot->last = at;
    bytes.remove_prefix(take);
    if (bytes.empty()) return;
    const FrameDirection direction = slot->direction;
    const FrameEcho echo = slot->echo;
    Close(slot, done);
    Open(slot, direction, at);
    slot->echo = echo;
  }
}

void FrameSplitter::AddMarker(std::string_view text, FrameClock::time_point at, std::vector<Frame>& done) {
  if (keyed_) {
    if (!echo_) Open(echo_, FrameDirection::Received, at);
    echo_->markers.emplace_back(echo_->bytes.size(), std::string(text));
    return;
  }
  if (!open_ || open_->direction != FrameDirection::Received || at - open_->last > gap_) {
    // A condition on a silent line (a break, an overrun before anything came) opens a frame.
    Close(open_, done);
    Open(open_, FrameDirection::Received, at);
  }
  open_->markers.emplace_back(open_->bytes.size(), std::string(text));
}

void FrameSplitter::SetKeyed(bool keyed, std::vector<Frame>& done) {
  if (keyed == keyed_) return;
  if (keyed) {
    // A keying starts a sent frame: what was open before it is over.
    Close(open_, done);
    keyed_ = true;
    return;
  }
  keyed_ = false;
  CloseKeyed(done);
}

void FrameSplitter::Expire(FrameClock::time_point now, std::vector<Frame>& done) {
  if (const auto deadline = Deadline(); deadline && now > *deadline) Close(open_, done);
}

void FrameSplitter::Finish(std::vector<Frame>& done) {
  if (keyed_) {
    CloseKeyed(done);
    keyed_ = false;
    return;
  }
  Close(open_, done);
}

void FrameSplitter::Restart() {
  open_.reset();
  echo_.reset();
  lastEnd_.reset();
}

std::optional<FrameClock::time_point> FrameSplitter::Deadline() const {
  if (!open_ || keyed_) return std::nullopt;
  return open_->last + gap_;
}

}  // namespace velmora::console
