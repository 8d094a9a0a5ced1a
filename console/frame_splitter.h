#pragma once
// Frames of a serial line, both directions, cut where the line fell silent.
//
// Bytes come in as pieces, each with the moment it was taken off the line (received: by the
// device's I/O thread; sent: when the window wrote it) and its direction. A frame ends when the
// line was silent longer than the gap since its last piece, when the direction changes, and for
// sent bytes when the keying that carried them ends. A received piece's moment is taken as the
// moment of its first byte: the I/O thread wakes at the first byte of a piece and a pseudo-
// terminal or a low-latency adapter hands a frame over whole, so the silence is measured between
// pieces rather than guessed from character times that a pseudo-terminal never keeps.
//
// While the transmitter is keyed, what is received is our own signal heard back: the sent frame
// stays open across it, and the received bytes form a frame of their own that ends with the
// keying — an echo when it repeats what the keying sent, a collision when it differs.
//
// A frame that ends in a valid CRC-16/Modbus (low byte first) is marked so; one that starts with
// ':' and carries hexadecimal pairs ending in a valid LRC (CR LF after it or not) likewise.
//
// Pure: no clock of its own, no threads; finished frames are appended to the caller's list in
// the order their first bytes came.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::console {

using FrameClock = std::chrono::steady_clock;

enum class FrameDirection : uint8_t { Received, Sent };
enum class FrameCheck : uint8_t { None, Crc, Lrc };
enum class FrameEcho : uint8_t { None, Echo, Collision };

struct Frame {
  FrameDirection direction = FrameDirection::Received;
  FrameClock::time_point first{};  // the first byte
  FrameClock::time_point last{};   // the last piece
  // Silence since the previous frame of either direction ended; none for the first frame.
  std::optional<FrameClock::duration> silence;
  std::string bytes;
  // Line conditions where they happened: the count of bytes before each, and its text.
  std::vector<std::pair<size_t, std::string>> markers;
  FrameCheck check = FrameCheck::None;
  FrameEcho echo = FrameEcho::None;
};

// The silence that ends a frame on a line with these settings: 3.5 character times (start bit,
// data bits, parity bit, stop bits), 1.75 ms above 19 200 baud; `fixedMs` > 0 instead of that.
FrameClock::duration FrameGapFor(int64_t baud, int dataBits, bool parity, double stopBits, int fixedMs);

FrameCheck CheckOf(std::string_view frame);

class FrameSplitter {
 public:
  // A frame is cut after this many bytes and goes on in the next, so that a line that never
  // falls silent (a flood, a stuck transmitter) still gives lines of a readable length and
  // holds no more than this in memory.
  static constexpr size_t kLongestFrame = 1024;

  explicit FrameSplitter(FrameClock::duration gap) : gap_(gap) {}

  void SetGap(FrameClock::duration gap) { gap_ = gap; }
  FrameClock::duration Gap() const { return gap_; }

  // A piece of the line's traffic.
  void Add(FrameDirection direction, std::string_view bytes, FrameClock::time_point at,
           std::vector<Frame>& done);
  // A line condition (framing error, break …) at `at`, after the bytes received so far.
  void AddMarker(std::string_view text, FrameClock::time_point at, std::vector<Frame>& done);
  // The transmitter keyed (RTS raised) or unkeyed; unkeying ends the keying's frames.
  void SetKeyed(bool keyed, std::vector<Frame>& done);
  // Ends the open frame if the line has been silent longer than the gap by `now`.
  void Expire(FrameClock::time_point now, std::vector<Frame>& done);
  // Ends whatever is open (the port closes).
  void Finish(std::vector<Frame>& done);
  // Forgets what is open and when the last frame ended, as if the line had just been opened;
  // the gap and the keying stay as they are.
  void Restart();
  // When the open frame ends by silence unless more comes; none while nothing is open or the
  // keying holds it.
  std::optional<FrameClock::time_point> Deadline() const;
  bool Keyed() const { return keyed_; }

 private:
  void Open(std::optional<Frame>& slot, FrameDirection direction, FrameClock::time_point at);
  void Close(std::optional<Frame>& slot, std::vector<Frame>& done);
  // Appends to the frame in `slot`, ending it and opening the next one whenever it is full.
  void Append(std::optional<Frame>& slot, std::string_view bytes, FrameClock::time_point at,
              std::vector<Frame>& done);
  void CloseKeyed(std::vector<Frame>& done);

  FrameClock::duration gap_;
  bool keyed_ = false;
  std::optional<Frame> open_;  // outside a keying: the one open frame
  std::optional<Frame> echo_;  // inside a keying: what came back, beside the sent frame in `open_`
  std::optional<FrameClock::time_point> lastEnd_;  // of the last frame closed
};

}  // namespace velmora::console
